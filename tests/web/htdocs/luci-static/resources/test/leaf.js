'use strict';
'require baseclass';

var made = (self.leafMade = (self.leafMade || 0) + 1);

return baseclass.extend({ made: made });
