'use strict';
'require baseclass';

/*
 * Graphs of the figures veloxd-collectd stores: plugin "veloxd", one plugin
 * instance per slot role (lan1, lan2, wired, wlan, bridge). wlan has one
 * series per wireless interface: type instance "ap" in mode ap, "client" in
 * modes client and wds; the interface that is not in use draws nothing.
 */
var series = { '': '', 'ap': 'AP ', 'client': 'Client ' };

function lines(type, unit) {
	var options = {};

	Object.keys(series).forEach(function(inst) {
		var key = type + '_' + inst + '_';

		options[key + 'tx'] = { color: inst == 'client' ? '00c000' : '00ff00',
			title: _('%sTransmit (%s)').format(series[inst], unit), total: true, overlay: true };
		options[key + 'rx'] = { color: inst == 'client' ? '0000a0' : '0000ff',
			title: _('%sReceive (%s)').format(series[inst], unit), flip: true, total: true, overlay: true };
	});
	return options;
}

return baseclass.extend({
	title: _('veloxd'),

	rrdargs: function(graph, host, plugin, plugin_instance, dtype) {
		return [ {
			title: '%H: ' + _('Transfer on %pi'),
			vlabel: _('Bytes/s'),
			data: {
				types: [ 'if_octets' ],
				sources: { if_octets: [ 'tx', 'rx' ] },
				options: lines('if_octets', _('bytes'))
			}
		}, {
			title: '%H: ' + _('Packets on %pi'),
			vlabel: _('Packets/s'),
			detail: true,
			data: {
				types: [ 'if_packets' ],
				sources: { if_packets: [ 'tx', 'rx' ] },
				options: lines('if_packets', _('packets'))
			}
		} ];
	}
});
