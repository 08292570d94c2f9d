'use strict';
'require view';
'require poll';
'require rpc';

/*
 * Live figures of veloxd: the two display selections, each with its last
 * three minutes and its last day, every slot of the wireless mode's
 * interface list, and the controls that move the selections.
 *
 * veloxd reports speeds in units of 1024 bit/s, shown as "kbit/s" here.
 * Every poll sends all of its calls in one animation frame, so they travel
 * as one HTTP request; the history of a selection rides along when it is
 * due (at open, after a change of slot, and when a 5-minute entry is new).
 */

var callInterfaceList = rpc.declare({ object: 'veloxd', method: 'get_interface_list', expect: { list: [] } });
var callDisplay = rpc.declare({ object: 'veloxd', method: 'get_display_interface', expect: { '': {} } });
var callThroughput = rpc.declare({ object: 'veloxd', method: 'get_throughput', expect: { '': {} } });
var callPortInfo = rpc.declare({ object: 'veloxd', method: 'get_lan_port_info', params: [ 'interface1' ], expect: { '': {} } });
var callSetDisplay = rpc.declare({ object: 'veloxd', method: 'set_display_interface', params: [ 'interface1', 'interface2' ], expect: { error_code: -1 } });
var callHistory = rpc.declare({ object: 'veloxd.history', method: 'get_history', params: [ 'interface1', 'range' ], expect: { '': {} } });

var SVG_NS = 'http://www.w3.org/2000/svg';
var RECENT = 180;		/* one-second samples: the last three minutes */
var DAY = 86400, STEP = 300;	/* the day in 5-minute entries */
var PAD = { left: 74, right: 10, top: 10, bottom: 22 };

var slotNames = {
	0: _('LAN port 1'),
	1: _('LAN port 2'),
	2: _('Wired total'),
	3: _('Wireless (access point)'),
	7: _('Wireless (client / WDS)'),
	9: _('Bridge')
};

function slotName(slot) {
	return slotNames[slot] || _('Spare slot %d').format(slot);
}

function slotLabel(slot) {
	return _('%s (slot %d)').format(slotName(slot), slot);
}

function hasHistory(slot) {
	return slotNames[slot] !== undefined;
}

/* --- errors: one short line a person understands ----------------------- */

function firstLine(err) {
	return String((err && err.message) || err || '').split('\n')[0];
}

/* The JSON-RPC code of a failed call; the runtime keeps it in the message. */
function rpcCode(err) {
	var m = /failed with error (-?\d+):/.exec(firstLine(err));

	return err && err.name === 'RPCError' && m ? +m[1] : null;
}

function reason(err) {
	var line = firstLine(err), m;

	if (err && err.name === 'SessionError')
		return _('the login session has expired');
	switch (rpcCode(err)) {
	case -32002: return _('access denied');
	case -32000: return _('veloxd is not on the bus');
	case -32003: return _('veloxd did not answer in time');
	case -32603: return _('the bus is not available');
	}
	if ((m = /failed with HTTP error (\d+)/.exec(line)))
		return _('the web server answered with HTTP error %d').format(+m[1]);
	if (/^(No related RPC reply|XHR request)/.test(line) || (err && err.name === 'SyntaxError'))
		return _('the web server did not answer');
	if ((m = /failed with ubus code \d+: (.*)$/.exec(line)))
		return m[1];
	return line.length > 80 ? line.slice(0, 79) + '…' : line;
}

/* --- figures ------------------------------------------------------------ */

function modeText(list) {
	if (list === null)
		return _('unknown while the figures are unavailable');
	if (list.indexOf(3) >= 0)
		return _('Access point (ap)');
	if (list.indexOf(7) >= 0)
		return _('Client or WDS (client, wds)');
	return _('Not supported: veloxd lists no interfaces for the configured mode');
}

var speedUnits = [ [ 1, 'kbit/s' ], [ 1024, 'Mbit/s' ], [ 1048576, 'Gbit/s' ] ];
var byteUnits = [ [ 1, 'B' ], [ 1024, 'KiB' ], [ 1048576, 'MiB' ], [ 1073741824, 'GiB' ], [ 1099511627776, 'TiB' ] ];

function unitFor(units, v) {
	var u = units[0], i;

	for (i = 1; i < units.length && v >= units[i][0]; i++)
		u = units[i];
	return u;
}

function formatSpeed(kbit) {
	var v = Number(kbit) || 0, u = unitFor(speedUnits, v);

	return '%.2f %s'.format(v / u[0], u[1]);
}

function formatBytes(n) {
	return '%1024.2mB'.format(Number(n) || 0);
}

/* A top for the axis and a step between its lines of 1, 2 or 5 times a power
 * of ten, at most four steps, and never below 1 of the unit, so a quiet
 * graph reads 0, 0.5, 1. */
function niceScale(units, peak) {
	var u = unitFor(units, peak), v = Math.max(peak / u[0], 1);
	var mag = Math.pow(10, Math.floor(Math.log10(v / 4))), f = [ 1, 2, 5, 10 ], i;

	for (i = 0; f[i] * mag * 4 < v; i++);
	return { step: f[i] * mag, top: Math.ceil(v / (f[i] * mag) - 1e-9) * f[i] * mag, div: u[0], unit: u[1] };
}

/* --- drawing ------------------------------------------------------------ */

function svg(tag, attrs, text) {
	var node = document.createElementNS(SVG_NS, tag);

	Object.keys(attrs || {}).forEach(function (k) { node.setAttribute(k, attrs[k]); });
	if (text !== undefined)
		node.textContent = text;
	return node;
}

/* Clears a graph and sizes it to its box: the width of its card, in pixels. */
function frame(node, height) {
	var w = Math.round(node.getBoundingClientRect().width) || 600;

	while (node.firstChild)
		node.removeChild(node.firstChild);
	node.setAttribute('viewBox', '0 0 ' + w + ' ' + height);
	node.setAttribute('height', height);
	return { node: node, x0: PAD.left, x1: w - PAD.right, y0: PAD.top, y1: height - PAD.bottom, w: w };
}

function yAxis(f, sc) {
	var k, y, n = Math.round(sc.top / sc.step);

	f.node.appendChild(svg('rect', { x: f.x0, y: f.y0, width: f.x1 - f.x0, height: f.y1 - f.y0, 'class': 'plot' }));
	for (k = 0; k <= n; k++) {
		y = f.y1 - (f.y1 - f.y0) * k / n;
		f.node.appendChild(svg('line', { x1: f.x0, x2: f.x1, y1: y, y2: y, 'class': 'grid' }));
		f.node.appendChild(svg('text', { x: f.x0 - 6, y: y + 4, 'class': 'ylabel' },
			k ? +(k * sc.step).toFixed(2) + ' ' + sc.unit : '0'));
	}
}

function xTick(f, x, label) {
	f.node.appendChild(svg('line', { x1: x, x2: x, y1: f.y0, y2: f.y1, 'class': 'grid' }));
	f.node.appendChild(svg('text', { x: x, y: f.y1 + 15, 'class': 'xlabel' }, label));
}

/* pts: [x, value] pairs; rx as a filled area with its line, tx as a line */
function series(f, sc, pts, dir, count) {
	var top = sc.top * sc.div, line = pts.map(function (p) {
		return p[0].toFixed(1) + ',' + (f.y1 - (f.y1 - f.y0) * Math.min(p[1] / top, 1)).toFixed(1);
	});

	if (dir === 'rx' && pts.length)
		f.node.appendChild(svg('polygon', { 'class': 'area-rx', points: [ pts[0][0].toFixed(1) + ',' + f.y1 ]
			.concat(line, pts[pts.length - 1][0].toFixed(1) + ',' + f.y1).join(' ') }));
	f.node.appendChild(svg('polyline', { 'class': 'line-' + dir, points: line.join(' '), 'data-samples': count }));
}

function peakOf(list, keys) {
	var peak = 0;

	list.forEach(function (s) { keys.forEach(function (k) { peak = Math.max(peak, s[k] || 0); }); });
	return peak;
}

/* The last three minutes, newest at the right edge, one point a second. */
function drawRecent(node, samples) {
	var f = frame(node, 180), sc = niceScale(speedUnits, peakOf(samples, [ 'tx', 'rx' ])), i;
	var x = function (j) { return f.x1 - (f.x1 - f.x0) * (samples.length - 1 - j) / (RECENT - 1); };

	yAxis(f, sc);
	for (i = 0; i <= 3; i++)
		xTick(f, f.x0 + (f.x1 - f.x0) * i / 3, i === 3 ? _('now') : _('-%d min').format(3 - i));
	[ 'rx', 'tx' ].forEach(function (dir) {
		series(f, sc, samples.map(function (s, j) { return [ x(j), s[dir] ]; }), dir, samples.length);
	});
}

/* Where a moment (seconds since the epoch) falls on the day graphs. */
function dayX(f, end, t) {
	return f.x1 - (f.x1 - f.x0) * (end - t) / DAY;
}

function hourTicks(f, end) {
	var every = f.x1 - f.x0 < 420 ? 6 : 3, d = new Date((end - DAY) * 1000), t;

	d.setMinutes(0, 0, 0);
	for (t = d.getTime() / 1000 + 3600; t <= end; t += 3600) {
		var h = new Date(t * 1000).getHours();

		/* none so close to the left edge that it crowds the axis */
		if (h % every === 0 && dayX(f, end, t) - f.x0 > 20)
			xTick(f, dayX(f, end, t), '%02d:00'.format(h));
	}
}

function drawDay(node, entries, end, empty) {
	var f = frame(node, 150), sc = niceScale(speedUnits, peakOf(entries, [ 'tx', 'rx' ]));

	yAxis(f, sc);
	hourTicks(f, end);
	[ 'rx', 'tx' ].forEach(function (dir) {
		series(f, sc, entries.map(function (e) { return [ dayX(f, end, e.end - STEP / 2), e[dir] ]; }), dir, entries.length);
	});
	if (!entries.length && empty)
		node.appendChild(svg('text', { x: (f.x0 + f.x1) / 2, y: (f.y0 + f.y1) / 2 + 4, 'class': 'empty' }, empty));
}

/* The bytes moved in each clock hour, received and sent side by side. */
function drawHours(node, hours, end) {
	var f = frame(node, 110), sc = niceScale(byteUnits, peakOf(hours, [ 'txb', 'rxb' ]));
	var top = sc.top * sc.div, h = f.y1 - f.y0;

	yAxis(f, sc);
	hourTicks(f, end);
	hours.forEach(function (hr) {
		var a = Math.max(dayX(f, end, hr.start), f.x0), b = Math.min(dayX(f, end, hr.start + 3600), f.x1);
		var w = Math.max((b - a) / 2 - 1, 0.5);

		[ [ 'rx', hr.rxb, a + 0.5 ], [ 'tx', hr.txb, a + 0.5 + w ] ].forEach(function (bar) {
			var bh = h * Math.min(bar[1] / top, 1);

			node.appendChild(svg('rect', { 'class': 'bar-' + bar[0], x: bar[2].toFixed(1), y: (f.y1 - bh).toFixed(1),
				width: w.toFixed(1), height: bh.toFixed(1), 'data-bytes': bar[1] }, undefined));
		});
	});
}

/* A "day" reply as entries with their end times, and the clock hours they fill. */
function dayEntries(reply, now) {
	var n = Array.isArray(reply.rx_speed) ? reply.rx_speed.length : 0, newest = now - (+reply.age || 0), out = [], i;

	for (i = 0; i < n; i++)
		out.push({
			end: newest - (n - 1 - i) * STEP,
			tx: Number(reply.tx_speed[i]) || 0,
			rx: Number(reply.rx_speed[i]) || 0,
			txb: reply.tx_bytes ? Number(reply.tx_bytes[i]) || 0 : null,
			rxb: reply.rx_bytes ? Number(reply.rx_bytes[i]) || 0 : null
		});
	return out.filter(function (e) { return e.end > now - DAY; });
}

function hourSums(entries) {
	var hours = [], byStart = {};

	entries.forEach(function (e) {
		var d = new Date((e.end - STEP) * 1000), key;

		d.setMinutes(0, 0, 0);
		key = d.getTime() / 1000;
		if (!byStart[key]) {
			byStart[key] = { start: key, txb: 0, rxb: 0 };
			hours.push(byStart[key]);
		}
		byStart[key].txb += e.txb;
		byStart[key].rxb += e.rxb;
	});
	return hours;
}

/* --- the view ------------------------------------------------------------ */

return view.extend({
	load: function () {
		/* a daemon that is down now is retried by the poll */
		return Promise.all([ callInterfaceList(), callDisplay() ]).catch(function (err) {
			return [ null, {}, err ];
		});
	},

	css: [
		'.vx select.cbi-input-select{width:auto;max-width:100%}',
		'.vx-head{display:flex;flex-wrap:wrap;gap:6px 12px;align-items:center;margin-bottom:8px}',
		'.vx-result.error{color:#b42318;font-weight:bold}',
		'.vx-speeds{display:flex;flex-wrap:wrap;gap:4px 28px;margin:4px 0 6px;font-size:15px}',
		'.vx-speeds strong{font-size:18px;font-variant-numeric:tabular-nums}',
		'.vx-key-rx::before,.vx-key-tx::before{content:"";display:inline-block;width:14px;height:3px;margin:0 6px 4px 0;vertical-align:middle}',
		'.vx-key-rx::before{background:#2c6fbb}.vx-key-tx::before{background:#3d9a3d}',
		'.vx svg{display:block;width:100%;overflow:visible}',
		'.vx svg .plot{fill:#fcfcfc;stroke:#ccc}.vx svg .grid{stroke:#e5e5e5}',
		'.vx svg text{font-size:11px;fill:#666}.vx svg .ylabel{text-anchor:end}.vx svg .xlabel,.vx svg .empty{text-anchor:middle}',
		'.vx svg polyline{fill:none;stroke-width:1.5;stroke-linejoin:round}',
		'.vx svg .line-rx{stroke:#2c6fbb}.vx svg .area-rx{fill:#2c6fbb;fill-opacity:.18}.vx svg .line-tx{stroke:#3d9a3d}',
		'.vx svg .bar-rx{fill:#2c6fbb;fill-opacity:.75}.vx svg .bar-tx{fill:#3d9a3d;fill-opacity:.75}',
		'.vx-caption{color:#666;font-size:12px;margin:2px 0 12px}',
		'.vx h4{margin:14px 0 4px}',
		'@media screen and (max-width:600px){#vx-slots .td.vx-name,#vx-slots .td.vx-wide{flex-basis:100%}#vx-slots .td.vx-name{font-weight:bold}}'
	].join(''),

	render: function (data) {
		var self = this;

		this.readonly = L.hasViewPermission ? L.hasViewPermission() === false : false;
		this.list = data[0] || [];
		this.sel = [ 1, 2 ].map(function () {
			return { slot: -1, recent: [], needRecent: false, day: null, dayDue: 0 };
		});
		this.lastGood = null;

		this.root = E('div', { 'class': 'cbi-map vx' }, [
			E('style', {}, [ this.css ]),
			E('h2', {}, [ _('Traffic') ]),
			E('div', { 'class': 'cbi-map-descr' }, [
				_('Live figures of veloxd, refreshed every second. Speeds in binary units: 1 kbit/s = 1024 bit/s, 1 Mbit/s = 1024 kbit/s.')
			]),
			E('div', { 'id': 'vx-alert', 'class': 'alert-message warning', 'role': 'alert', 'style': 'display:none' }),
			E('div', { 'class': 'cbi-section' }, [
				E('div', { 'class': 'vx-head' }, [
					E('span', { 'class': 'nowrap' }, [ E('strong', {}, [ _('Wireless mode') + ': ' ]), E('span', { 'id': 'vx-mode' }, [ '–' ]) ]),
					E('span', { 'class': 'nowrap' }, [ E('strong', {}, [ _('Last update') + ': ' ]), E('span', { 'id': 'vx-updated' }, [ '–' ]) ])
				]),
				this.readonly ? E('div', { 'id': 'vx-readonly', 'class': 'alert-message notice' }, [
					_('This login may look at the figures but not change the selections.')
				]) : E([])
			]),
			this.selectionBox(1),
			this.selectionBox(2),
			E('div', { 'class': 'cbi-section' }, [
				E('h3', {}, [ _('Interfaces of the current wireless mode') ]),
				E('table', { 'class': 'table', 'id': 'vx-slots' }, [
					E('tr', { 'class': 'tr table-titles' }, [
						E('th', { 'class': 'th' }, [ _('Interface') ]),
						E('th', { 'class': 'th right' }, [ _('Transmit') ]),
						E('th', { 'class': 'th right' }, [ _('Receive') ]),
						E('th', { 'class': 'th right' }, [ _('Transmitted') ]),
						E('th', { 'class': 'th right' }, [ _('Received') ])
					]),
					E('tr', { 'class': 'tr placeholder' }, [ E('td', { 'class': 'td', 'colspan': 5 }, [ E('em', {}, [ _('Collecting data…') ]) ]) ])
				])
			])
		]);

		this.apply(data[0], data[1], null, null, []);
		if (data[2])
			this.failed(data[2]);
		window.addEventListener('resize', function () { self.redraw(); });
		poll.add(L.bind(this.refresh, this), 1);
		return this.root;
	},

	$: function (sel) {
		return this.root.querySelector(sel);
	},

	selectionBox: function (n) {
		var self = this;

		return E('div', { 'class': 'cbi-section', 'id': 'vx-sel' + n }, [
			E('h3', {}, [ _('Selection %d').format(n) ]),
			E('div', { 'class': 'vx-head' }, [
				E('label', { 'for': 'vx-choose' + n }, [ _('Shows') ]),
				E('select', {
					'class': 'cbi-input-select vx-choose',
					'id': 'vx-choose' + n,
					'disabled': this.readonly ? '' : null,
					'title': this.readonly ? _('This login may not change the selection') : null,
					'change': function (ev) { self.choose(n, ev.target); }
				}),
				E('span', { 'class': 'vx-result' })
			]),
			E('div', { 'class': 'vx-speeds' }, [
				E('span', { 'class': 'vx-key-rx' }, [ _('Receive') + ' ', E('strong', { 'class': 'vx-rx' }, [ '–' ]) ]),
				E('span', { 'class': 'vx-key-tx' }, [ _('Transmit') + ' ', E('strong', { 'class': 'vx-tx' }, [ '–' ]) ])
			]),
			svg('svg', { 'class': 'vx-graph', 'role': 'img', 'aria-label': _('Speeds of the last three minutes') }),
			E('div', { 'class': 'vx-caption' }, [ _('Last three minutes, one point a second') ]),
			E('h4', {}, [ _('Last 24 hours') ]),
			svg('svg', { 'class': 'vx-day', 'role': 'img', 'aria-label': _('Average speeds of the last 24 hours') }),
			E('div', { 'class': 'vx-caption' }, [ _('Average speed of each five minutes') ]),
			svg('svg', { 'class': 'vx-hours', 'role': 'img', 'aria-label': _('Amount moved in each hour') }),
			E('div', { 'class': 'vx-caption vx-day-note' })
		]);
	},

	/* The history calls this poll carries: a selection's last minutes when
	 * its slot is new to the page, its day when a 5-minute entry is due. */
	historyCalls: function () {
		var now = Date.now(), calls = [];

		this.sel.forEach(function (s, i) {
			if (!hasHistory(s.slot))
				return;
			if (s.needRecent)
				calls.push({ sel: i, slot: s.slot, range: 'recent' });
			if (now >= s.dayDue)
				calls.push({ sel: i, slot: s.slot, range: 'day' });
		});
		return calls;
	},

	refresh: function () {
		var self = this, list = this.list, want = this.historyCalls();
		var calls = [ callInterfaceList(), callDisplay(), callThroughput() ];

		list.forEach(function (slot) { calls.push(callPortInfo(slot)); });
		want.forEach(function (w) { calls.push(L.resolveDefault(callHistory(w.slot, w.range), null)); });
		return Promise.all(calls).then(function (r) {
			var info = r.slice(3, 3 + list.length);

			want.forEach(function (w, i) { w.reply = r[3 + list.length + i]; });
			self.apply(r[0], r[1], r[2], list.map(function (slot, i) { return [ slot, info[i] ]; }), want);
		}, function (err) {
			self.failed(err);
		});
	},

	failed: function (err) {
		var alert = this.$('#vx-alert');

		this.$('#vx-mode').textContent = modeText(null);
		if (err && err.name === 'SessionError')
			alert.textContent = _('The login session has expired: log in again to see current figures.');
		else if (rpcCode(err) === -32002)
			alert.textContent = _('This login may not read the figures of veloxd.');
		else if (this.lastGood)
			alert.textContent = _('veloxd is not answering (%s). The figures below are from %s; the page tries again every second.')
				.format(reason(err), this.lastGood);
		else
			alert.textContent = _('veloxd is not answering (%s); the page tries again every second.').format(reason(err));
		alert.style.display = '';
		/* whatever comes back may have started afresh */
		this.sel.forEach(function (s) { s.needRecent = true; s.dayDue = 0; });
	},

	fillChoices: function (select, list, current) {
		var slots = list.slice(), key;

		if (slots.indexOf(current) < 0)
			slots.push(current);
		key = slots.join(',') + '/' + current;
		if (select.getAttribute('data-slots') === key)
			return;
		select.textContent = '';
		slots.forEach(function (slot) {
			var opt = E('option', { 'value': slot }, [ slotLabel(slot) ]);

			opt.selected = slot === current;
			select.appendChild(opt);
		});
		select.setAttribute('data-slots', key);
	},

	apply: function (list, display, thr, info, history) {
		var self = this, now = Date.now();

		if (list === null)
			return;
		this.list = list;
		this.$('#vx-mode').textContent = modeText(list);
		this.$('#vx-alert').style.display = 'none';
		[ 1, 2 ].forEach(function (n) {
			var s = self.sel[n - 1], slot = display['interface' + n], box = self.$('#vx-sel' + n), fromHistory = false;

			if (typeof slot !== 'number')
				return;
			self.fillChoices(box.querySelector('.vx-choose'), list, slot);
			self.follow(s, slot);
			history.forEach(function (h) {
				if (h.sel !== n - 1 || h.slot !== slot)
					return;
				fromHistory = self.takeHistory(s, h, now) || fromHistory;
			});
			if (thr && thr['interface' + n + '_tx'] !== undefined) {
				if (!fromHistory)
					s.recent.push({ tx: Number(thr['interface' + n + '_tx']) || 0, rx: Number(thr['interface' + n + '_rx']) || 0 });
				if (s.recent.length > RECENT)
					s.recent.splice(0, s.recent.length - RECENT);
				box.querySelector('.vx-tx').textContent = formatSpeed(thr['interface' + n + '_tx']);
				box.querySelector('.vx-rx').textContent = formatSpeed(thr['interface' + n + '_rx']);
			}
		});
		/* port infos go by the list of the poll before; none yet is no news */
		if (info && (info.length || !list.length))
			this.updateTable(info);
		if (thr) {
			this.lastGood = new Date().toLocaleTimeString();
			this.$('#vx-updated').textContent = this.lastGood;
		}
		this.redraw();
	},

	/* A selection on another slot starts its graphs afresh, and the next
	 * poll asks for the slot's history. */
	follow: function (s, slot) {
		if (typeof slot !== 'number' || s.slot === slot)
			return;
		s.slot = slot;
		s.recent = [];
		s.day = null;
		s.needRecent = hasHistory(slot);
		s.dayDue = 0;
	},

	/* true when the reply replaced the last minutes, which then end with
	 * this poll's figures */
	takeHistory: function (s, h, now) {
		var r = h.reply, age;

		if (h.range === 'recent') {
			s.needRecent = false;
			if (!r || r.interface1 !== s.slot || !Array.isArray(r.rx_speed))
				return false;
			s.recent = r.rx_speed.map(function (rx, i) {
				return { tx: Number(r.tx_speed[i]) || 0, rx: Number(rx) || 0 };
			}).slice(-RECENT);
			return s.recent.length > 0;
		}
		if (!r || r.interface1 !== s.slot || !Array.isArray(r.rx_speed)) {
			s.day = { none: true };
			s.dayDue = now + STEP * 1000;
			return false;
		}
		s.day = { reply: r, at: now / 1000 };
		/* the next entry is due when the newest is five minutes old; a slot
		 * that is not sampled now is asked again in five minutes */
		age = +r.age || 0;
		s.dayDue = now + (!r.rx_speed.length ? 60 : age < STEP ? Math.max(STEP - age + 2, 10) : STEP) * 1000;
		return false;
	},

	redraw: function () {
		var self = this, now = Date.now() / 1000;

		this.sel.forEach(function (s, i) {
			var box = self.$('#vx-sel' + (i + 1)), entries, hours, note = box.querySelector('.vx-day-note'), rx = 0, tx = 0;

			drawRecent(box.querySelector('.vx-graph'), s.recent);
			entries = s.day && s.day.reply ? dayEntries(s.day.reply, s.day.at) : [];
			drawDay(box.querySelector('.vx-day'), entries, now, !hasHistory(s.slot) ? _('veloxd keeps no history for a spare slot')
				: s.day && s.day.none ? _('The history of this slot is not available')
				: s.day ? _('No 5-minute averages yet: the first comes 5 to 10 minutes after veloxd starts') : null);
			hours = entries.length && entries[0].rxb !== null ? hourSums(entries) : [];
			box.querySelector('.vx-hours').style.display = hours.length ? '' : 'none';
			if (hours.length)
				drawHours(box.querySelector('.vx-hours'), hours, now);
			hours.forEach(function (h) { rx += h.rxb; tx += h.txb; });
			if (entries.length && !hours.length)
				note.textContent = s.slot === 2
					? _('Speeds only: the wired total is the sum of LAN port 1 and 2, which show the amounts moved.')
					: _('Speeds only: veloxd keeps no amounts for this slot.');
			else if (hours.length)
				note.textContent = _('Amount moved in each hour: received %s, sent %s in %s.').format(
					formatBytes(rx), formatBytes(tx), N_(hours.length, 'the last hour', 'the last %d hours').format(hours.length));
			else
				note.textContent = '';
		});
	},

	updateTable: function (info) {
		var table = this.$('#vx-slots'), rows;

		rows = info.map(function (pair, i) {
			var slot = pair[0], d = pair[1] || {}, cls = 'tr cbi-rowstyle-' + (i % 2 + 1);
			var cells = [
				E('td', { 'class': 'td vx-name' }, [ slotName(slot) + ' ', E('small', {}, [ _('(slot %d)').format(slot) ]) ]),
				E('td', { 'class': 'td right vx-tx', 'data-title': _('Transmit') }, [ formatSpeed(d.tx_speed) ]),
				E('td', { 'class': 'td right vx-rx', 'data-title': _('Receive') }, [ formatSpeed(d.rx_speed) ])
			];

			if (slot === 2)
				cells.push(E('td', { 'class': 'td right vx-wide vx-totals', 'colspan': 2, 'data-title': _('Totals') }, [
					E('em', {}, [ _('speeds only: the sum of LAN port 1 and 2') ])
				]));
			else
				[ [ 'tx', _('Transmitted') ], [ 'rx', _('Received') ] ].forEach(function (t) {
					cells.push(E('td', { 'class': 'td right vx-totals', 'data-title': t[1] }, [
						formatBytes(d[t[0] + '_bytes']) + ' ', E('small', {}, [
							N_(+d[t[0] + '_packets'] || 0, '(%d packet)', '(%d packets)').format(+d[t[0] + '_packets'] || 0) ])
					]));
				});
			return E('tr', { 'class': cls, 'data-slot': slot }, cells);
		});
		while (table.rows.length > 1)
			table.deleteRow(1);
		if (!rows.length)
			rows.push(E('tr', { 'class': 'tr placeholder' }, [ E('td', { 'class': 'td', 'colspan': 5 }, [
				E('em', {}, [ _('veloxd lists no interfaces for the configured mode') ]) ]) ]));
		rows.forEach(function (tr) { table.appendChild(tr); });
	},

	choose: function (n, select) {
		var self = this, slot = +select.value, result = this.$('#vx-sel' + n + ' .vx-result');

		result.className = 'vx-result';
		result.textContent = _('Changing…');
		return callSetDisplay(n === 1 ? slot : undefined, n === 2 ? slot : undefined).then(function () {
			return callDisplay();
		}).then(function (display) {
			var now = display['interface' + n];

			self.follow(self.sel[n - 1], now);
			self.redraw();
			result.textContent = now === slot
				? _('Now showing %s').format(slotLabel(slot))
				: _('veloxd kept %s').format(slotLabel(now));
			select.removeAttribute('data-slots');
		}).catch(function (err) {
			result.className = 'vx-result error';
			result.textContent = rpcCode(err) === -32002
				? _('Access denied: this login may not change the selection.')
				: _('Could not change the selection: %s.').format(reason(err));
			select.removeAttribute('data-slots');
			self.fillChoices(select, self.list, self.sel[n - 1].slot);
		});
	},

	handleSave: null,
	handleSaveApply: null,
	handleReset: null
});
