'use strict';
'require view';

return view.extend({
	render: function () { throw new TypeError('render failed'); }
});
