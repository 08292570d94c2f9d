/*
 * The few pieces of the router's web client runtime that our views use, so a
 * view module runs unchanged on a development PC: module loading with
 * 'require' directives, the view, rpc and poll classes, the E() DOM builder
 * and a pass-through _() for translatable text.
 */
(function (window, document) {
	'use strict';

	var ANON_SID = '00000000000000000000000000000000';

	var env = {
		sessionid: ANON_SID,
		ubuspath: '/ubus/',
		resource: '/luci-static/resources',
		pollinterval: 5,
		rpctimeout: 20
	};

	function _(text) {
		return text;
	}

	/* Minimal class system: Base.extend({...}) with an optional __init__. */
	function extend(Base, props) {
		function Class() {
			if (this.__init__)
				this.__init__.apply(this, arguments);
		}
		Class.prototype = Object.create(Base.prototype);
		Object.assign(Class.prototype, props || {});
		Class.prototype.constructor = Class;
		Class.extend = function (p) { return extend(Class, p); };
		return Class;
	}

	function Base() {}
	var baseclass = extend(Base, {});

	/* E(tag, [attrs], [children]): function-valued attributes become listeners. */
	function E(tag, attrs, children) {
		var node = document.createElement(tag);

		if (attrs === undefined || attrs === null || Array.isArray(attrs) ||
		    typeof attrs !== 'object' || attrs instanceof Node) {
			children = attrs;
			attrs = null;
		}
		Object.keys(attrs || {}).forEach(function (key) {
			var val = attrs[key];

			if (val === null || val === undefined)
				return;
			if (typeof val === 'function')
				node.addEventListener(key, val);
			else
				node.setAttribute(key, String(val));
		});
		append(node, children);
		return node;
	}

	function append(node, children) {
		if (children === null || children === undefined)
			return;
		if (Array.isArray(children))
			children.forEach(function (c) { append(node, c); });
		else if (children instanceof Node)
			node.appendChild(children);
		else
			node.appendChild(document.createTextNode(String(children)));
	}

	/* rpc: calls made in one turn of the event loop travel as one batch. */
	var rpcQueue = [];
	var rpcFlushPending = false;
	var rpcId = 1;

	function rpcError(message, code) {
		var err = new Error(message);

		err.code = code;
		return err;
	}

	function rpcPost(body) {
		var ctl = new AbortController();
		var timer = setTimeout(function () { ctl.abort(); }, env.rpctimeout * 1000);

		return fetch(env.ubuspath + '?' + Date.now(), {
			method: 'POST',
			headers: { 'Content-Type': 'application/json' },
			credentials: 'include',
			body: JSON.stringify(body),
			signal: ctl.signal
		}).then(function (res) {
			if (!res.ok)
				throw rpcError('HTTP error ' + res.status, res.status);
			return res.json();
		}).catch(function (err) {
			throw err.code ? err : rpcError('No answer from the web server (' + err.message + ')', 0);
		}).finally(function () {
			clearTimeout(timer);
		});
	}

	function typeOf(v) {
		return Object.prototype.toString.call(v);
	}

	function rpcSettle(entry, msg) {
		var req = entry.req, o = entry.opts, ret, key;

		if (!msg || typeof msg !== 'object' || msg.jsonrpc !== '2.0')
			return entry.reject(rpcError('Invalid reply to ' + o.object + '.' + o.method, 0));
		if (msg.error && msg.error.code && msg.error.message)
			return entry.reject(rpcError(o.object + '.' + o.method + ': ' +
				msg.error.message + ' (' + msg.error.code + ')', msg.error.code));
		if (req.method === 'list')
			return entry.resolve(msg.result);
		ret = Array.isArray(msg.result) ? (msg.result.length > 1 ? msg.result[1] : msg.result[0]) : null;
		if (o.reject && typeof ret === 'number' && ret !== 0)
			return entry.reject(rpcError(o.object + '.' + o.method + ': status ' + ret, ret));
		if (o.expect) {
			key = Object.keys(o.expect)[0];
			if (key !== '')
				ret = (ret !== null && typeof ret === 'object') ? ret[key] : undefined;
			if (ret === undefined || ret === null || typeOf(ret) !== typeOf(o.expect[key]))
				ret = o.expect[key];
		}
		entry.resolve(o.filter ? o.filter(ret, entry.args) : ret);
	}

	function rpcFlush() {
		var q = rpcQueue;

		rpcQueue = [];
		rpcFlushPending = false;
		rpcPost(q.map(function (e) { return e.req; })).then(function (replies) {
			if (!Array.isArray(replies) || !replies.length)
				throw rpcError('No related RPC reply', 0);
			q.forEach(function (e, i) { rpcSettle(e, replies[i]); });
		}).catch(function (err) {
			q.forEach(function (e) { e.reject(err); });
		});
	}

	function rpcEnqueue(req, opts, args) {
		return new Promise(function (resolve, reject) {
			rpcQueue.push({ req: req, opts: opts, args: args, resolve: resolve, reject: reject });
			if (!rpcFlushPending) {
				rpcFlushPending = true;
				setTimeout(rpcFlush, 0);
			}
		});
	}

	var rpc = {
		declare: function (opts) {
			return function () {
				var args = {}, i;

				for (i = 0; opts.params && i < opts.params.length && i < arguments.length; i++)
					if (arguments[i] !== undefined)
						args[opts.params[i]] = arguments[i];
				return rpcEnqueue({
					jsonrpc: '2.0',
					id: rpcId++,
					method: 'call',
					params: [env.sessionid || ANON_SID, opts.object, opts.method, args]
				}, opts, args);
			};
		},
		list: function () {
			var names = Array.prototype.slice.call(arguments);
			var req = { jsonrpc: '2.0', id: rpcId++, method: 'list' };

			if (names.length)
				req.params = names;
			return rpcEnqueue(req, { object: 'ubus', method: 'list' }, {});
		}
	};

	/* poll: one 1-s tick; a function runs every `interval` ticks, never overlapping itself. */
	var pollQueue = [];
	var pollTimer = null;
	var pollTick = 0;

	function pollStep() {
		pollQueue.forEach(function (e) {
			if (pollTick % e.interval || e.running)
				return;
			e.running = true;
			Promise.resolve().then(e.fn).catch(function (err) {
				console.error(err);
			}).finally(function () {
				e.running = false;
			});
		});
		pollTick++;
	}

	var poll = {
		add: function (fn, interval) {
			if (pollQueue.some(function (e) { return e.fn === fn; }))
				return false;
			pollQueue.push({ fn: fn, interval: interval || env.pollinterval, running: false });
			poll.start();
			return true;
		},
		remove: function (fn) {
			pollQueue = pollQueue.filter(function (e) { return e.fn !== fn; });
			if (!pollQueue.length)
				poll.stop();
		},
		start: function () {
			if (pollTimer)
				return;
			pollTimer = setInterval(pollStep, 1000);
			pollStep();
		},
		stop: function () {
			clearInterval(pollTimer);
			pollTimer = null;
		},
		active: function () {
			return pollTimer !== null;
		}
	};

	function viewRoot() {
		return document.getElementById('view');
	}

	function showError(err) {
		var root = viewRoot();

		root.textContent = '';
		root.appendChild(E('p', { 'class': 'alert-message error' }, String(err && err.message || err)));
	}

	var view = baseclass.extend({
		__init__: function () {
			var self = this;

			Promise.resolve().then(function () {
				return self.load();
			}).then(function (data) {
				return self.render(data);
			}).then(function (node) {
				var root = viewRoot();

				root.textContent = '';
				append(root, node);
			}).catch(showError);
		},
		load: function () {},
		render: function () {},
		handleSave: null,
		handleSaveApply: null,
		handleReset: null
	});

	var classes = { baseclass: baseclass, view: view, rpc: rpc, poll: poll };

	/* Evaluates a view module: leading 'require X' directives become arguments. */
	function loadView(path) {
		return fetch(env.resource + '/view/' + path + '.js').then(function (res) {
			if (!res.ok)
				throw new Error('Cannot load view ' + path + ': HTTP ' + res.status);
			return res.text();
		}).then(function (src) {
			var names = [], re = /^\s*(?:'use strict'|'require ([\w.]+)');?/, m, rest = src, Module, ViewClass;

			while ((m = re.exec(rest))) {
				if (m[1]) {
					if (!classes[m[1]])
						throw new Error('View ' + path + ' requires ' + m[1] + ', which this runtime lacks');
					names.push(m[1]);
				}
				rest = rest.slice(m[0].length);
			}
			Module = Function.apply(null, ['E', '_', 'L'].concat(names, ['"use strict";\n' + rest +
				'\n//# sourceURL=' + env.resource + '/view/' + path + '.js']));
			ViewClass = Module.apply(null, [E, _, L].concat(names.map(function (n) { return classes[n]; })));
			return new ViewClass();
		});
	}

	var callLogin = rpc.declare({
		object: 'session',
		method: 'login',
		params: ['username', 'password'],
		reject: true
	});

	/* Logs in as ?user= (root by default), then shows ?view= (or opts.view). */
	function boot(opts) {
		var q = new URLSearchParams(window.location.search);

		return callLogin(q.get('user') || 'root', q.get('password') || '').then(function (s) {
			if (!s || !s.ubus_rpc_session)
				throw new Error('Login refused');
			env.sessionid = s.ubus_rpc_session;
			return loadView(q.get('view') || opts.view);
		}).catch(showError);
	}

	var L = { env: env, boot: boot, require: function (n) { return classes[n]; } };

	window.L = L;
	window.E = E;
	window._ = _;
})(window, document);
