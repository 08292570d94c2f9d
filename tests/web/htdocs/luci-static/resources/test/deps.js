// A module whose header mixes comments, both quote styles and "as".
/* block comment */ 'use strict';
"require baseclass";
'require test.leaf as leaf'; // trailing comment
'require test.leaf';
'not a directive: scanning stops here';
'require test.missing';

return baseclass.extend({
	__init__: function () {
		this.args = { leaf: leaf, test_leaf: test_leaf, window: window === self, document: document === self.document, L: L === self.L };
	}
});
