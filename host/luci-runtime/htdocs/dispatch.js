/*
 * What the router's web server does before a page reaches the browser, for
 * a development PC: logs in (?user=, root by default), finds the menu node
 * whose view is ?view= (veloxd/status by default), decides from the login's
 * access groups whether the page may be shown and whether it is read-only,
 * and hands the runtime the env its page header would. Then it loads the
 * view as the view template does.
 */
(function () {
	'use strict';

	var ANON = '00000000000000000000000000000000';
	var MENUS = [ '/usr/share/luci/menu.d/luci-app-veloxd.json' ];
	var q = new URLSearchParams(window.location.search);
	var viewPath = q.get('view') || 'veloxd/status';

	function call(sid, object, method, args) {
		return fetch('/ubus/', {
			method: 'POST',
			headers: { 'Content-Type': 'application/json' },
			body: JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'call', params: [ sid, object, method, args ] })
		}).then(function (res) { return res.json(); }).then(function (msg) {
			if (!Array.isArray(msg.result) || msg.result[0] !== 0)
				throw new Error('login refused');
			return msg.result[1];
		});
	}

	function findNode(menus) {
		var found = null;

		menus.forEach(function (menu) {
			Object.keys(menu).forEach(function (path) {
				var a = menu[path].action || {};

				if (!found && a.type === 'view' && a.path === viewPath)
					found = { path: path, node: menu[path] };
			});
		});
		return found;
	}

	/* Every group of depends.acl must be granted; none granting write makes the page read-only. */
	function nodespec(node, groups) {
		var state = JSON.parse(JSON.stringify(node)), acl = (node.depends || {}).acl || [];

		state.satisfied = acl.every(function (g) { return (groups[g] || []).length > 0; });
		state.readonly = acl.length > 0 && !acl.some(function (g) { return (groups[g] || []).indexOf('write') >= 0; });
		return state;
	}

	function fail(title, text) {
		document.title = title;
		document.getElementById('maincontent').innerHTML = '';
		document.getElementById('maincontent').appendChild(document.createElement('h2')).textContent = title;
		document.getElementById('maincontent').appendChild(document.createElement('p')).textContent = text;
	}

	Promise.all([
		call(ANON, 'session', 'login', { username: q.get('user') || 'root', password: q.get('password') || '' }),
		Promise.all(MENUS.map(function (url) {
			return fetch(url).then(function (res) { return res.ok ? res.json() : {}; }, function () { return {}; });
		}))
	]).then(function (r) {
		var login = r[0], found = findNode(r[1]), node = found ? nodespec(found.node, login.acls['access-group'] || {}) : null;
		var path = found ? found.path.split('/') : [];

		if (node && !node.satisfied) {
			fail('Forbidden', 'This login may not open this page.');
			return false;
		}
		document.body.setAttribute('data-page', path.join('-'));
		document.title = (found ? found.node.title + ' - ' : '') + 'Router - LuCI';
		document.getElementById('crumb').textContent = found ? found.node.title : viewPath;

		new window.LuCI({
			media: '/luci-static/bootstrap',
			resource: '/luci-static/resources',
			scriptname: '/cgi-bin/luci',
			pathinfo: '/' + path.join('/'),
			documentroot: '/www',
			requestpath: path,
			dispatchpath: path,
			pollinterval: 5,
			ubuspath: '/ubus/',
			sessionid: login.ubus_rpc_session,
			token: Array.prototype.map.call(window.crypto.getRandomValues(new Uint8Array(16)), function (b) {
				return ('0' + b.toString(16)).slice(-2);
			}).join(''),
			nodespec: node,
			apply_rollback: 90,
			apply_holdoff: 4,
			apply_timeout: 5,
			apply_display: 1.5,
			rollback_token: null
		});
		return true;
	}, function (err) {
		fail('Login failed', String(err && err.message || err));
	}).then(function (booted) {
		/* the view template's part; the runtime reports its own failures */
		if (booted)
			window.L.require('ui').then(function (ui) { ui.instantiateView(viewPath); });
	});
})();
