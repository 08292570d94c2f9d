'use strict';
'require view';
'require rpc';
'require poll';

/*
 * Live figures of veloxd: the two display selections with a rolling graph,
 * every slot of the wireless mode's interface list, and the controls that
 * move the selections. veloxd reports speeds in units of 1024 bit/s.
 */

var callInterfaceList = rpc.declare({ object: 'veloxd', method: 'get_interface_list', expect: { list: [] } });
var callDisplay = rpc.declare({ object: 'veloxd', method: 'get_display_interface', expect: { '': {} } });
var callThroughput = rpc.declare({ object: 'veloxd', method: 'get_throughput', expect: { '': {} } });
var callPortInfo = rpc.declare({ object: 'veloxd', method: 'get_lan_port_info', params: [ 'interface1' ], expect: { '': {} } });
var callSetDisplay = rpc.declare({ object: 'veloxd', method: 'set_display_interface', params: [ 'interface1', 'interface2' ], expect: { error_code: -1 } });

var SVG_NS = 'http://www.w3.org/2000/svg';
var HISTORY = 180;		/* samples, one a second: the last three minutes */
var GRAPH_W = 540, GRAPH_H = 160, AXIS_W = 84;

var slotNames = {
	0: _('LAN port 1'),
	1: _('LAN port 2'),
	2: _('Wired total'),
	3: _('Wireless (access point)'),
	7: _('Wireless (client / WDS)'),
	9: _('Bridge')
};

function slotName(slot) {
	return slotNames[slot] || (_('Spare slot') + ' ' + slot);
}

function modeText(list) {
	if (list.indexOf(3) >= 0)
		return _('Access point (ap)');
	if (list.indexOf(7) >= 0)
		return _('Client or WDS (client, wds)');
	return _('Not supported: veloxd lists no interfaces for the configured mode');
}

/* kbit/s here are veloxd's unit: 1 kbit/s = 1024 bit/s, 1 Mbit/s = 1024 kbit/s. */
function formatSpeed(kbit) {
	var v = Number(kbit) || 0;

	if (v >= 1024)
		return (v / 1024).toFixed(2) + ' Mbit/s';
	return v.toFixed(2) + ' kbit/s';
}

function formatBytes(text) {
	var v = Number(text) || 0, units = [ 'B', 'KiB', 'MiB', 'GiB', 'TiB' ], i = 0;

	while (v >= 1024 && i < units.length - 1) {
		v /= 1024;
		i++;
	}
	return (i ? v.toFixed(2) : String(v)) + ' ' + units[i];
}

/* A round top for the y axis and its unit, from the peak in kbit/s. */
function scaleFor(peak) {
	var unit = peak >= 1024 ? 1024 : 1, name = peak >= 1024 ? 'Mbit/s' : 'kbit/s';
	var v = Math.max(peak / unit, 0.01), mag = Math.pow(10, Math.floor(Math.log10(v)));
	var steps = [ 1, 2, 2.5, 5, 10 ], i;

	for (i = 0; steps[i] * mag < v; i++);
	return { top: steps[i] * mag * unit, unit: unit, name: name };
}

function svg(tag, attrs, text) {
	var node = document.createElementNS(SVG_NS, tag);

	Object.keys(attrs).forEach(function (k) { node.setAttribute(k, attrs[k]); });
	if (text !== undefined)
		node.textContent = text;
	return node;
}

function drawGraph(node, samples) {
	var peak = 0, sc, x0 = AXIS_W, i, frac, label, points;

	samples.forEach(function (s) { peak = Math.max(peak, s.tx, s.rx); });
	sc = scaleFor(peak);
	while (node.firstChild)
		node.removeChild(node.firstChild);
	node.appendChild(svg('rect', { x: x0, y: 0, width: GRAPH_W, height: GRAPH_H, 'class': 'plot' }));
	for (i = 0; i <= 4; i++) {
		frac = i / 4;
		node.appendChild(svg('line', { x1: x0, x2: x0 + GRAPH_W, y1: GRAPH_H * (1 - frac), y2: GRAPH_H * (1 - frac), 'class': 'grid' }));
		label = +(sc.top * frac / sc.unit).toFixed(2) + ' ' + sc.name;
		node.appendChild(svg('text', { x: x0 - 6, y: GRAPH_H * (1 - frac) + 4, 'class': 'ylabel' }, label));
	}
	for (i = 0; i <= 3; i++) {
		var x = x0 + GRAPH_W * i / 3;

		node.appendChild(svg('line', { x1: x, x2: x, y1: 0, y2: GRAPH_H, 'class': 'grid' }));
		node.appendChild(svg('text', { x: x, y: GRAPH_H + 16, 'class': 'xlabel' }, i === 3 ? _('now') : '-' + (3 - i) + ' min'));
	}
	[ 'rx', 'tx' ].forEach(function (dir) {
		points = samples.map(function (s, j) {
			var px = x0 + GRAPH_W * (HISTORY - samples.length + j) / (HISTORY - 1);
			var py = GRAPH_H - GRAPH_H * s[dir] / sc.top;

			return px.toFixed(1) + ',' + py.toFixed(1);
		});
		node.appendChild(svg('polyline', { points: points.join(' '), 'class': 'line-' + dir, 'data-samples': samples.length }));
	});
}

return view.extend({
	load: function () {
		this.history = [ [], [] ];
		this.shown = [ -1, -1 ];
		/* a daemon that is down now is retried by the poll */
		return Promise.all([ callInterfaceList(), callDisplay() ]).catch(function () {
			return [ [], {} ];
		});
	},

	selectionBox: function (n) {
		var self = this;

		return E('div', { 'class': 'vx-sel', 'id': 'vx-sel' + n }, [
			E('div', { 'class': 'vx-sel-head' }, [
				E('strong', {}, _('Selection') + ' ' + n + ': '),
				E('select', { 'class': 'vx-choose', 'change': function (ev) { self.choose(n, ev.target); } }),
				E('span', { 'class': 'vx-result' })
			]),
			E('div', { 'class': 'vx-speeds' }, [
				E('span', { 'class': 'vx-tx-label' }, _('Transmit') + ' '), E('span', { 'class': 'vx-tx' }, '–'),
				E('span', { 'class': 'vx-rx-label' }, _('Receive') + ' '), E('span', { 'class': 'vx-rx' }, '–')
			]),
			(function () {
				var g = svg('svg', { 'class': 'vx-graph', viewBox: '0 -8 ' + (AXIS_W + GRAPH_W + 24) + ' ' + (GRAPH_H + 28) });

				drawGraph(g, []);
				return g;
			})()
		]);
	},

	render: function (data) {
		var node = E('div', { 'class': 'vx' }, [
			E('style', {}, [
				'.vx-sel{background:#fff;border:1px solid #d9e2ec;border-radius:6px;padding:10px 14px;margin:10px 0}',
				'.vx-sel-head{display:flex;gap:8px;align-items:center;flex-wrap:wrap}',
				'.vx-result{color:#52606d}.vx-result.error{color:#b42318;font-weight:600}',
				'.vx-speeds{font-size:20px;margin:6px 0;font-variant-numeric:tabular-nums}',
				'.vx-speeds span.vx-tx,.vx-speeds span.vx-rx{font-weight:700;margin-right:24px}',
				'.vx-tx-label{color:#1f6feb}.vx-rx-label{color:#1a7f37}',
				'.vx-graph{width:100%;max-width:760px;display:block}',
				'.vx-graph .plot{fill:#fbfcfd;stroke:#cbd2d9}.vx-graph .grid{stroke:#e4e7eb}',
				'.vx-graph text{font-size:11px;fill:#52606d}.vx-graph .ylabel{text-anchor:end}.vx-graph .xlabel{text-anchor:middle}',
				'.vx-graph polyline{fill:none;stroke-width:2;stroke-linejoin:round}',
				'.vx-graph .line-tx{stroke:#1f6feb}.vx-graph .line-rx{stroke:#1a7f37}',
				'#vx-alert:empty{display:none}'
			].join('')),
			E('h2', {}, _('Traffic')),
			E('p', { 'class': 'cbi-section-descr' }, _('Live figures of veloxd, refreshed every second. Speeds in binary units: 1 kbit/s = 1024 bit/s, 1 Mbit/s = 1024 kbit/s.')),
			E('div', { 'id': 'vx-alert', 'class': 'alert-message error', 'role': 'alert' }),
			E('p', {}, [ E('strong', {}, _('Wireless mode') + ': '), E('span', { 'id': 'vx-mode' }, '–'),
				' · ', _('Last update') + ': ', E('span', { 'id': 'vx-updated' }, '–') ]),
			this.selectionBox(1),
			this.selectionBox(2),
			E('h3', {}, _('Interfaces of the current wireless mode')),
			E('div', { 'class': 'cbi-section' }, E('table', { 'class': 'table', 'id': 'vx-slots' }, [
				E('tr', {}, [ E('th', {}, _('Slot')), E('th', {}, _('Interface')),
					E('th', {}, _('Transmit')), E('th', {}, _('Receive')),
					E('th', {}, _('Transmitted')), E('th', {}, _('Received')) ])
			]))
		]);

		this.root = node;
		this.update(data[0], data[1], null, null);
		poll.add(this.refresh.bind(this), 1);
		return node;
	},

	$: function (sel) {
		return this.root.querySelector(sel);
	},

	refresh: function () {
		var self = this;

		return Promise.all([ callInterfaceList(), callDisplay(), callThroughput() ]).then(function (r) {
			return Promise.all(r[0].map(function (slot) { return callPortInfo(slot); })).then(function (info) {
				self.update(r[0], r[1], r[2], info);
				self.$('#vx-alert').textContent = '';
			});
		}).catch(function (err) {
			self.$('#vx-alert').textContent = _('veloxd is not answering; the figures below are stale and are retried every second.') +
				' (' + err.message + ')';
		});
	},

	fillChoices: function (select, list, current) {
		var slots = list.slice();

		if (slots.indexOf(current) < 0)
			slots.push(current);
		if (select.getAttribute('data-slots') === slots.join(',') + '/' + current)
			return;
		select.textContent = '';
		slots.forEach(function (slot) {
			var opt = E('option', { value: slot }, slotName(slot) + ' (' + _('slot') + ' ' + slot + ')');

			opt.selected = slot === current;
			select.appendChild(opt);
		});
		select.setAttribute('data-slots', slots.join(',') + '/' + current);
	},

	update: function (list, display, thr, info) {
		var self = this;

		this.$('#vx-mode').textContent = modeText(list);
		[ 1, 2 ].forEach(function (n) {
			var box = self.$('#vx-sel' + n), slot = display['interface' + n], h = self.history[n - 1];

			if (typeof slot !== 'number')
				return;
			self.fillChoices(box.querySelector('.vx-choose'), list, slot);
			if (self.shown[n - 1] !== slot) {
				self.shown[n - 1] = slot;
				h.length = 0;
			}
			if (!thr || thr['interface' + n + '_tx'] === undefined)
				return;
			h.push({ tx: Number(thr['interface' + n + '_tx']), rx: Number(thr['interface' + n + '_rx']) });
			if (h.length > HISTORY)
				h.shift();
			box.querySelector('.vx-tx').textContent = formatSpeed(thr['interface' + n + '_tx']);
			box.querySelector('.vx-rx').textContent = formatSpeed(thr['interface' + n + '_rx']);
			drawGraph(box.querySelector('.vx-graph'), h);
		});
		if (info)
			this.updateTable(list, info);
		this.$('#vx-updated').textContent = new Date().toLocaleTimeString();
	},

	updateTable: function (list, info) {
		var table = this.$('#vx-slots');

		while (table.rows.length > 1)
			table.deleteRow(1);
		list.forEach(function (slot, i) {
			var d = info[i] || {};

			table.appendChild(E('tr', { 'data-slot': slot }, [
				E('td', {}, String(slot)),
				E('td', {}, slotName(slot)),
				E('td', { 'class': 'num vx-tx' }, formatSpeed(d.tx_speed)),
				E('td', { 'class': 'num vx-rx' }, formatSpeed(d.rx_speed)),
				E('td', { 'class': 'num' }, formatBytes(d.tx_bytes) + ' / ' + (d.tx_packets || 0) + ' ' + _('packets')),
				E('td', { 'class': 'num' }, formatBytes(d.rx_bytes) + ' / ' + (d.rx_packets || 0) + ' ' + _('packets'))
			]));
		});
	},

	choose: function (n, select) {
		var self = this, slot = +select.value, result = this.$('#vx-sel' + n + ' .vx-result');

		result.className = 'vx-result';
		result.textContent = _('Changing…');
		callSetDisplay(n === 1 ? slot : undefined, n === 2 ? slot : undefined).then(function () {
			return callDisplay();
		}).then(function (display) {
			var now = display['interface' + n];

			result.textContent = now === slot
				? _('Now showing') + ' ' + slotName(slot) + ' (' + _('slot') + ' ' + slot + ')'
				: _('veloxd kept slot') + ' ' + now;
			select.removeAttribute('data-slots');
		}).catch(function (err) {
			result.className = 'vx-result error';
			result.textContent = (err.code === -32002
				? _('Access denied: this login may not change the selection.')
				: _('Could not change the selection:')) + ' (' + err.message + ')';
			select.removeAttribute('data-slots');
			self.fillChoices(select, [], self.shown[n - 1]);
		});
	},

	handleSave: null,
	handleSaveApply: null,
	handleReset: null
});
