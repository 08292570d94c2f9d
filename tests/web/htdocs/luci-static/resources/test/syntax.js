'use strict';
return {;
