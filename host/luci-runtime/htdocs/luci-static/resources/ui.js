'use strict';
'require baseclass';
'require dom';
'require view';

/*
 * The page furniture views use: notifications at the top of the page, the
 * modal dialog, the header's indicators, busy buttons, item lists, and the
 * loading of a view by its path.
 */

function isEmpty(v) {
	return v === null || v === undefined;
}

return baseclass.extend({
	__init__: function () {
		L.itemlist = L.bind(this.itemlist, this);
		L.showModal = L.bind(this.showModal, this);
		L.hideModal = L.bind(this.hideModal, this);
		document.addEventListener('keydown', L.bind(function (ev) {
			var btn;

			if (ev.key !== 'Escape' || !document.body.classList.contains('modal-overlay-active'))
				return;
			btn = document.querySelector('#modal_overlay > .modal .right > button, #modal_overlay > .modal .right > .btn, ' +
				'#modal_overlay > .modal .button-row > .btn');
			if (btn)
				btn.click();
		}, this));
	},

	addNotification: function (title, children) {
		var mc = document.querySelector('#maincontent') || document.body, classes = Array.prototype.slice.call(arguments, 2);
		var body = E('div', { 'style': 'flex:10' }), msg;

		if (!isEmpty(title))
			body.appendChild(E('h4', {}, [ title ]));
		dom.append(body, children);
		msg = E('div', { 'class': 'alert-message fade-in', 'style': 'display:flex' }, [
			body,
			E('div', { 'style': 'flex:1 1 auto;display:flex' }, [
				E('button', { 'class': 'btn', 'style': 'margin-left:auto;margin-top:auto', 'click': function () {
					msg.classList.add('fade-out');
					msg.remove();
				} }, [ _('Dismiss') ])
			])
		]);
		classes.forEach(function (c) { msg.classList.add(c); });
		mc.insertBefore(msg, mc.firstChild);
		return msg;
	},

	addTimeLimitedNotification: function (title, children, timeout) {
		var msg = this.addNotification.apply(this, [ title, children ].concat(Array.prototype.slice.call(arguments, 3)));

		window.setTimeout(function () { msg.remove(); }, timeout);
		return msg;
	},

	showModal: function (title, children) {
		var overlay = document.getElementById('modal_overlay'), dlg;

		if (!overlay) {
			overlay = E('div', { 'id': 'modal_overlay' }, [ E('div', { 'class': 'modal', 'role': 'dialog', 'aria-modal': true }) ]);
			document.body.appendChild(overlay);
		}
		dlg = overlay.firstElementChild;
		dlg.className = [ 'modal' ].concat(Array.prototype.slice.call(arguments, 2)).join(' ');
		dom.content(dlg, isEmpty(title) ? null : E('h4', {}, [ title ]));
		dom.append(dlg, children);
		document.body.classList.add('modal-overlay-active');
		return dlg;
	},

	hideModal: function () {
		document.body.classList.remove('modal-overlay-active');
	},

	showIndicator: function (id, label, handler, style) {
		var list = document.getElementById('indicators'), el;

		if (!list)
			return false;
		el = list.querySelector('span[data-indicator="%s"]'.format(id));
		if (!el) {
			el = E('span', { 'data-indicator': id, 'data-clickable': handler ? true : null, 'click': handler || null });
			list.appendChild(el);
		}
		el.setAttribute('data-style', style === 'inactive' ? 'inactive' : 'active');
		el.textContent = label;
		return true;
	},

	hideIndicator: function (id) {
		var el = document.querySelector('#indicators > span[data-indicator="%s"]'.format(id));

		if (el)
			el.remove();
		return !!el;
	},

	/* A listener that shows its control busy until fn's promise settles. */
	createHandlerFn: function (ctx, fn) {
		var args = Array.prototype.slice.call(arguments, 2);

		if (typeof fn === 'string')
			fn = ctx[fn];
		if (typeof fn !== 'function')
			return null;
		return function (ev) {
			var t = ev.currentTarget;

			t.classList.add('spinning');
			t.disabled = true;
			if (t.blur)
				t.blur();
			Promise.resolve(fn.apply(ctx, args.concat([ ev ]))).finally(function () {
				t.classList.remove('spinning');
				t.disabled = false;
			});
		};
	},

	itemlist: function (node, items, separators) {
		var seps = L.toArray(separators || E('br')), k = 0, i, sep;

		dom.content(node, null);
		for (i = 0; i + 1 < items.length; i += 2) {
			if (isEmpty(items[i + 1]))
				continue;
			if (node.firstChild) {
				sep = seps[k++ % seps.length];
				node.appendChild(dom.elem(sep) ? sep.cloneNode(true) : E('span', {}, [ sep ]));
			}
			node.appendChild(E('span', { 'class': 'nowrap' }, [
				items[i] ? E('strong', {}, [ items[i] + ': ' ]) : '',
				items[i + 1]
			]));
		}
		return node;
	},

	instantiateView: function (path) {
		var className = 'view.%s'.format(path.replace(/\//g, '.'));

		return L.require(className).then(function (inst) {
			if (!(inst instanceof view))
				L.raise('TypeError', 'Loaded class %s is not a descendant of View', className);
			return inst;
		}).catch(function (err) {
			dom.content(document.querySelector('#view'), null);
			L.error(err);
		});
	}
});
