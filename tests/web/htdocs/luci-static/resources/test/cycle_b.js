'require baseclass';
'require test.cycle_a';
return baseclass.extend({});
