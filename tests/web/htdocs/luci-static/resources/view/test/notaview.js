'use strict';
'require baseclass';

return baseclass.extend({});
