/*
 * The globals the router's pages get before any module loads: _() and N_()
 * for translatable text (no catalogue is loaded here, so every text stands
 * for itself) and String.prototype.format, the runtime's printf.
 */
'use strict';

function _(msg) {
	return msg;
}

function N_(n, singular, plural) {
	return n != 1 ? plural : singular;
}

(function () {
	var directive = /%(?:('.|0| )?(-)?(\d+)?(?:\.(\d+))?([sduxXobcfhqtm%]))/;
	var prefixes = [ 'K', 'M', 'G', 'T', 'P', 'E' ];

	function html(v) {
		if (v !== null && typeof v === 'object')
			return '';
		return String(v).replace(/[&"'<>]/g, function (c) {
			return '&#' + c.charCodeAt(0) + ';';
		});
	}

	function duration(v) {
		var s = Math.floor(+v || 0), d = Math.floor(s / 86400), h = Math.floor(s % 86400 / 3600);
		var m = Math.floor(s % 3600 / 60), text = h + 'h ' + m + 'm ' + (s % 60) + 's';

		return d > 0 ? d + 'd ' + text : text;
	}

	/* %[width].[prec]m: the width is the divisor, the precision's first digit counts */
	function scaled(v, width, prec) {
		var div = +width || 1000, p = prec !== undefined ? +prec.charAt(0) : 2, n = +v || 0, i = 0;

		while (n > div && i < prefixes.length) {
			n /= div;
			i++;
		}
		if (!i)
			return n + ' ';
		return n.toFixed(p) + ' ' + prefixes[i - 1] + (div == 1024 ? 'i' : '');
	}

	function convert(type, v, width, prec) {
		var n = Math.floor(+v || 0);

		switch (type) {
		case 's': return '' + v;
		case 'd': return String(n);
		case 'u': return String(n < 0 ? n + 4294967296 : n);
		case 'f': return prec !== undefined ? (+v || 0).toFixed(+prec) : String(+v);
		case 'x': return n.toString(16);
		case 'X': return n.toString(16).toUpperCase();
		case 'o': return n.toString(8);
		case 'b': return n.toString(2);
		case 'c': return String.fromCharCode(n);
		case 'h': return html(v);
		case 'q': return (v !== null && typeof v === 'object') ? '' : String(v).replace(/["']/g, function (c) {
			return '&#' + c.charCodeAt(0) + ';';
		});
		case 't': return duration(v);
		case 'm': return scaled(v, width, prec);
		}
	}

	function pad(text, padding, left, width) {
		var fill = padding ? padding.charAt(padding.length - 1) : ' ';

		while (width && text.length < +width)
			text = left ? text + fill : fill + text;
		return text;
	}

	String.prototype.format = function () {
		var args = arguments, next = 0, last, out = '', rest = String(this), m;

		while ((m = directive.exec(rest))) {
			out += rest.slice(0, m.index);
			rest = rest.slice(m.index + m[0].length);
			if (m[5] === '%') {
				out += '%';
				continue;
			}
			if (next < args.length) {
				last = convert(m[5], args[next++], m[3], m[4]);
				if (m[5] !== 'm')
					last = pad(last, m[1], m[2], m[3]);
			} else if (!args.length) {
				last = 'undefined';
			}
			out += last;
		}
		return out + rest;
	};

	String.format = function (fmt) {
		return String.prototype.format.apply(String(fmt), Array.prototype.slice.call(arguments, 1));
	};
})();
