'require baseclass';
'require test.cycle_b';
return baseclass.extend({});
