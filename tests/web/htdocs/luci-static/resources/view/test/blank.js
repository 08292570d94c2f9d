'use strict';
'require view';

return view.extend({
	load: function () { return 'loaded'; },
	render: function (data) { return E('p', { 'id': 'ready' }, [ data ]); },
	handleSave: null,
	handleSaveApply: null,
	handleReset: null
});
