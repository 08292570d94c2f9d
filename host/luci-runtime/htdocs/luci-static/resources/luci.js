/*
 * The client runtime of the router's web interface, as far as our views use
 * it, so a view runs on a development PC as it runs on the router: classes
 * and module loading with 'require' directives, the view base class, poll,
 * request (which sends the bus calls of one animation frame as one batch),
 * dom and E(), raise/error with their stack lines, and the boot that turns
 * the header's env into L. rpc.js and ui.js are loaded as modules, cbi.js
 * supplies _() and String.prototype.format.
 *
 * Left out, as no view of ours uses them: form, uci, fs and the other file
 * modules, the boot's feature and preload queries, translation catalogues,
 * ui's widgets and tables, the object form of rpc.declare's params.
 */
(function (window, document) {
	'use strict';

	var L, env = {};

	/* --- classes ---------------------------------------------------------- */

	function makeClass(Parent, props) {
		var Class = function () {
			if (typeof this.__init__ === 'function')
				this.__init__.apply(this, arguments);
		};

		Class.prototype = Object.create(Parent ? Parent.prototype : Object.prototype);
		Object.assign(Class.prototype, props || {});
		Class.prototype.constructor = Class;
		Class.extend = function (p) { return makeClass(Class, p); };
		return Class;
	}

	var baseclass = makeClass(null, {});

	/* --- raise / error ---------------------------------------------------- */

	/* The caller's frames as "  at FN (URL:LINE:COL)", without raise's own. */
	function stackLines() {
		var lines = String(new Error().stack || '').split(/\n/), out = [];

		lines.forEach(function (line) {
			var m = /^\s*at (.*)$/.exec(line) || /^(.*)@(.*:\d+:\d+)$/.exec(line);

			if (!m)
				return;
			out.push(m.length > 2 ? '  at ' + (m[1] || '<anonymous>') + ' (' + m[2] + ')' : '  at ' + m[1]);
		});
		while (out.length && /^ {2}at (?:\S+\.)?(?:raise|error|stackLines) /.test(out[0]))
			out.shift();
		return out;
	}

	function raise(type, fmt) {
		var args = Array.prototype.slice.call(arguments, 2), e, Ctor, frames;

		if (type instanceof Error) {
			e = type;
			if (fmt)
				e.message = String(fmt).format.apply(String(fmt), args) + ': ' + e.message;
		} else {
			Ctor = typeof window[type] === 'function' && (window[type] === Error || window[type].prototype instanceof Error)
				? window[type] : Error;
			e = new Ctor(fmt ? String(fmt).format.apply(String(fmt), args) : 'Unspecified error');
			e.name = type || 'Error';
			frames = stackLines();
			if (frames.length)
				e.message += '\n' + frames.join('\n');
		}
		if (window.console && console.debug)
			console.debug(e);
		throw e;
	}

	/* Shows an error once (a notification, or instead of the page before ui
	 * is there), then throws it on. */
	function error() {
		try {
			raise.apply(null, arguments);
		} catch (e) {
			if (!e.reported) {
				if (L && L.ui)
					L.ui.addNotification(e.name || _('Runtime error'), E('pre', {}, [ e.message ]), 'danger');
				else
					dom.content(document.getElementById('maincontent') || document.body,
						E('pre', { 'class': 'alert-message error' }, [ e.message ]));
				e.reported = true;
			}
			throw e;
		}
	}

	/* --- dom -------------------------------------------------------------- */

	var instances = new WeakMap();

	function isPlainObject(v) {
		return v !== null && typeof v === 'object' && Object.getPrototypeOf(v) === Object.prototype;
	}

	var dom = {
		elem: function (n) {
			return n instanceof Node;
		},

		parse: function (html) {
			var t = document.createElement('template');

			t.innerHTML = html;
			return t.content.childNodes.length > 1 ? t.content : t.content.firstChild;
		},

		/* A Node is appended, an array's Nodes are appended and its other
		 * entries become text, a plain string is taken as HTML, a function's
		 * result is appended. */
		append: function (node, children) {
			if (!dom.elem(node) || children === undefined || children === null)
				return null;
			if (Array.isArray(children)) {
				var last = null;

				children.forEach(function (c) {
					last = dom.elem(c) ? node.appendChild(c) : node.appendChild(document.createTextNode(String(c)));
				});
				return last;
			}
			if (typeof children === 'function')
				return dom.append(node, children(node));
			if (dom.elem(children))
				return node.appendChild(children);
			node.innerHTML = String(children);
			return node.lastChild;
		},

		content: function (node, children) {
			if (!dom.elem(node))
				return null;
			while (node.firstChild)
				node.removeChild(node.firstChild);
			return dom.append(node, children);
		},

		attr: function (node, key, val) {
			if (!dom.elem(node))
				return;
			if (isPlainObject(key)) {
				Object.keys(key).forEach(function (k) { dom.attr(node, k, key[k]); });
				return;
			}
			if (val === null || val === undefined)
				return;
			if (typeof val === 'function')
				node.addEventListener(key, val);
			else if (typeof val === 'object')
				node.setAttribute(key, JSON.stringify(val));
			else
				node.setAttribute(key, val);
		},

		create: function (tag, attrs, children) {
			var node;

			if (Array.isArray(tag)) {
				node = document.createDocumentFragment();
				tag.forEach(function (c) { dom.append(node, [ c ]); });
				return node;
			}
			if (dom.elem(tag))
				node = tag;
			else if (String(tag).charAt(0) === '<')
				node = dom.parse(tag);
			else
				node = document.createElement(tag);
			if (attrs !== undefined && !isPlainObject(attrs)) {
				children = attrs;
				attrs = null;
			}
			if (attrs)
				dom.attr(node, attrs);
			dom.append(node, children);
			return node;
		},

		matches: function (node, selector) {
			return dom.elem(node) && node.nodeType === 1 && node.matches(selector);
		},

		parent: function (node, selector) {
			return dom.elem(node) && node.closest ? node.closest(selector) : null;
		},

		isEmpty: function (node) {
			return !node || !node.firstElementChild;
		},

		bindClassInstance: function (node, inst) {
			instances.set(node, inst);
		},

		findClassInstance: function (node) {
			for (; node; node = node.parentNode)
				if (instances.has(node))
					return instances.get(node);
			return null;
		}
	};

	var E = function () { return dom.create.apply(dom, arguments); };

	/* --- session ---------------------------------------------------------- */

	var session = {
		getID: function () {
			return env.sessionid || '00000000000000000000000000000000';
		},

		getToken: function () {
			return env.token || null;
		},

		/* per session id, in the tab's session storage */
		getLocalData: function (key) {
			try {
				var all = JSON.parse(window.sessionStorage.getItem('luci-session-store')) || {};

				return key === undefined ? all[session.getID()] || null
					: ((all[session.getID()] || {})[key] !== undefined ? all[session.getID()][key] : null);
			} catch (e) {
				return null;
			}
		},

		setLocalData: function (key, value) {
			try {
				var all = JSON.parse(window.sessionStorage.getItem('luci-session-store')) || {}, sid = session.getID();

				all[sid] = all[sid] || {};
				all[sid][key] = value;
				window.sessionStorage.setItem('luci-session-store', JSON.stringify(all));
				return true;
			} catch (e) {
				return false;
			}
		}
	};

	/* --- request ---------------------------------------------------------- */

	function Response(xhr, url, duration, content) {
		this.url = url;
		this.status = xhr.status;
		this.statusText = xhr.statusText;
		this.ok = xhr.status >= 200 && xhr.status <= 299;
		this.duration = duration;
		this.headers = { get: function (name) { return xhr.getResponseHeader(name); } };
		this.responseText = content !== undefined ? JSON.stringify(content) : xhr.responseText;
		this.content = content;
	}

	Response.prototype.text = function () {
		return this.responseText;
	};

	Response.prototype.json = function () {
		return this.content !== undefined ? this.content : JSON.parse(this.responseText);
	};

	function xhrSend(method, url, body, opts) {
		return new Promise(function (resolve, reject) {
			var xhr = new XMLHttpRequest(), t0 = Date.now();

			xhr.open(method, url, true);
			if (opts.timeout)
				xhr.timeout = opts.timeout;
			if (opts.credentials)
				xhr.withCredentials = true;
			Object.keys(opts.headers || {}).forEach(function (h) { xhr.setRequestHeader(h, opts.headers[h]); });
			xhr.onload = function () {
				if (!xhr.status)
					return reject(new Error('XHR request aborted by browser'));
				resolve({ xhr: xhr, duration: Date.now() - t0 });
			};
			xhr.ontimeout = function () { reject(new Error('XHR request timed out')); };
			xhr.onerror = xhr.onabort = function () { reject(new Error('XHR request aborted by browser')); };
			xhr.send(body);
		});
	}

	var interceptors = [];
	var batch = [];

	function intercept(res) {
		return Promise.all(interceptors.map(function (fn) { return fn(res); })).then(function () { return res; });
	}

	function rpcBaseURL() {
		return L && L.rpc ? L.rpc.getBaseURL() : null;
	}

	/* Everything queued in one animation frame goes out as one JSON array;
	 * the replies are handed out by position. */
	function flushBatch() {
		var q = batch, first = q[0];

		batch = [];
		xhrSend('POST', first.url, JSON.stringify(q.map(function (e) { return e.body; })), first.opts).then(function (r) {
			var json;

			try {
				json = JSON.parse(r.xhr.responseText);
			} catch (e) {
				json = null;
			}
			q.forEach(function (e, i) {
				if (!Array.isArray(json) || !json.length || json[i] === undefined)
					return e.reject(new Error('No related RPC reply'));
				intercept(new Response(r.xhr, e.url, r.duration, json[i])).then(e.resolve, e.reject);
			});
		}, function (err) {
			q.forEach(function (e) { e.reject(err); });
		});
	}

	var request = {
		request: function (target, options) {
			var opts = Object.assign({ method: 'GET', credentials: false }, options || {}), url = String(target);
			var base = rpcBaseURL(), body = opts.content;

			opts.headers = Object.assign({}, opts.headers);
			if (body !== null && typeof body === 'object')
				opts.headers['Content-Type'] = opts.headers['Content-Type'] || 'application/json';
			if (opts.method === 'POST' && body !== null && typeof body === 'object' && !opts.nobatch &&
			    base && url.indexOf(base) === 0) {
				return new Promise(function (resolve, reject) {
					batch.push({ url: url, opts: opts, body: body, resolve: resolve, reject: reject });
					if (batch.length === 1)
						window.requestAnimationFrame(flushBatch);
				});
			}
			if (body !== null && typeof body === 'object')
				body = JSON.stringify(body);
			return xhrSend(opts.method, url, body === undefined ? null : body, opts).then(function (r) {
				return intercept(new Response(r.xhr, url, r.duration));
			});
		},

		get: function (url, options) {
			return request.request(url, Object.assign({}, options, { method: 'GET' }));
		},

		post: function (url, data, options) {
			return request.request(url, Object.assign({}, options, { method: 'POST', content: data }));
		},

		addInterceptor: function (fn) {
			if (typeof fn === 'function')
				interceptors.push(fn);
			return fn;
		},

		removeInterceptor: function (fn) {
			var n = interceptors.length;

			interceptors = interceptors.filter(function (f) { return f !== fn; });
			return interceptors.length !== n;
		}
	};

	/* --- poll ------------------------------------------------------------- */

	/* One 1-s tick; an entry runs when the tick is a multiple of its interval
	 * and its previous run has settled. */
	var pollQueue = [], pollTimer = null, pollTick;

	function pollStep() {
		pollQueue.forEach(function (e) {
			if (pollTick % e.i !== 0 || !e.r)
				return;
			e.r = false;
			Promise.resolve(e.fn()).finally(function () { e.r = true; });
		});
		pollTick = (pollTick + 1) % 4294967296;
	}

	var poll = {
		add: function (fn, interval) {
			var i = (interval === null || interval === undefined || interval <= 0) ? env.pollinterval : Math.trunc(interval);

			if (typeof fn !== 'function' || isNaN(i))
				raise('TypeError', 'Invalid argument to LuCI.poll.add()');
			if (pollQueue.some(function (e) { return e.fn === fn; }))
				return false;
			pollQueue.push({ fn: fn, i: i, r: true });
			if (pollTick !== undefined && !poll.active())
				poll.start();
			return true;
		},

		remove: function (fn) {
			var n = pollQueue.length;

			pollQueue = pollQueue.filter(function (e) { return e.fn !== fn; });
			if (!pollQueue.length && poll.active()) {
				window.clearInterval(pollTimer);
				pollTimer = null;
				document.dispatchEvent(new CustomEvent('poll-stop'));
			}
			return pollQueue.length !== n;
		},

		start: function () {
			if (poll.active())
				return false;
			pollTick = 0;
			if (pollQueue.length) {
				pollTimer = window.setInterval(pollStep, 1000);
				pollStep();
				document.dispatchEvent(new CustomEvent('poll-start'));
			}
			return true;
		},

		stop: function () {
			if (!poll.active())
				return false;
			window.clearInterval(pollTimer);
			pollTimer = null;
			pollTick = undefined;
			document.dispatchEvent(new CustomEvent('poll-stop'));
			return true;
		},

		active: function () {
			return pollTimer !== null;
		}
	};

	/* --- view ------------------------------------------------------------- */

	var View = baseclass.extend({
		__init__: function () {
			var self = this, vp = document.getElementById('view');

			dom.content(vp, E('div', { 'class': 'spinning' }, _('Loading view…')));
			return whenLoaded().then(function () {
				return self.load();
			}).then(function (data) {
				return self.render(data);
			}).then(function (nodes) {
				var root = document.getElementById('view');

				dom.content(root, nodes);
				dom.append(root, self.addFooter());
			}).catch(L.error);
		},

		load: function () {},
		render: function () {},

		handleSave: function () {
			return Promise.all(maps().map(function (m) { return m.save(); }));
		},

		handleSaveApply: function (ev) {
			return this.handleSave(ev);
		},

		handleReset: function () {
			return Promise.all(maps().map(function (m) { return m.reset(); }));
		},

		addFooter: function () {
			var footer = E([]), list = maps(), readonly, buttons = [];

			readonly = list.length ? list.every(function (m) { return m.readonly; }) : !L.hasViewPermission();
			if (this.handleSaveApply)
				buttons.push(E('button', { 'class': 'btn cbi-button cbi-button-apply important', 'disabled': readonly || null,
					'click': this.handleSaveApply.bind(this) }, [ _('Save & Apply') ]));
			if (this.handleSave)
				buttons.push(E('button', { 'class': 'btn cbi-button cbi-button-save', 'disabled': readonly || null,
					'click': this.handleSave.bind(this) }, [ _('Save') ]));
			if (this.handleReset)
				buttons.push(E('button', { 'class': 'btn cbi-button cbi-button-reset', 'disabled': readonly || null,
					'click': this.handleReset.bind(this) }, [ _('Reset') ]));
			if (buttons.length)
				footer.appendChild(E('div', { 'class': 'cbi-page-actions' }, buttons));
			return footer;
		}
	});

	function maps() {
		var vp = document.getElementById('view');

		return Array.prototype.map.call(vp ? vp.querySelectorAll('.cbi-map') : [], dom.findClassInstance)
			.filter(function (m) { return m; });
	}

	/* --- modules ------------------------------------------------------------ */

	var builtins = { baseclass: baseclass, dom: dom, poll: poll, request: request, session: session, view: View };
	var loaded = {}, loading = {};

	/* The leading string literals: 'use strict', 'require NAME [as VAR]'. */
	function directives(src) {
		var deps = [], i = 0, m, d;

		for (;;) {
			i += /^(?:\s+|\/\/[^\n]*|\/\*[\s\S]*?\*\/)*/.exec(src.slice(i))[0].length;
			m = /^(['"])((?:(?!\1)[^\\\n]|\\.)*)\1\s*;?/.exec(src.slice(i));
			if (!m)
				break;
			if (m[2] !== 'use strict') {
				d = /^require\s+(\S+)(?:\s+as\s+(\S+))?$/.exec(m[2]);
				if (!d)
					break;
				deps.push({ name: d[1], as: d[2] || d[1].replace(/[^a-zA-Z0-9]/g, '_') });
			}
			i += m[0].length;
		}
		return deps;
	}

	function compile(name, url, src, deps) {
		try {
			return new Function([ 'window', 'document', 'L' ].concat(deps.map(function (d) { return d.as; })).join(','),
				src + '\n//# sourceURL=' + new URL(url, window.location.href).href);
		} catch (e) {
			if (e instanceof SyntaxError)
				raise('SyntaxError', '%s\n  in %s:%s', e.message, url, e.lineNumber || '?');
			throw e;
		}
	}

	function require(name, from) {
		var url;

		from = from || [];
		if (builtins[name])
			return Promise.resolve(builtins[name]);
		if (loaded[name])
			return Promise.resolve(loaded[name]);
		if (from.indexOf(name) >= 0)
			return new Promise(function () {
				raise('DependencyError', 'Circular dependency: class "%s" depends on "%s"', from[from.length - 1], name);
			});
		if (loading[name])
			return loading[name];
		url = '%s/%s.js%s'.format(env.base_url, name.replace(/\./g, '/'), env.resource_version ? '?v=' + env.resource_version : '');
		loading[name] = request.get(url, { cache: true }).then(function (res) {
			var src, deps;

			if (!res.ok)
				raise('NetworkError', 'HTTP error %d while loading class file "%s"', res.status, url);
			src = res.text();
			deps = directives(src);
			return Promise.all(deps.map(function (d) { return require(d.name, from.concat(name)); })).then(function (list) {
				var factory = compile(name, url, src, deps), Class, inst;

				Class = factory.apply(window, [ window, document, L ].concat(list));
				if (typeof Class !== 'function')
					raise('TypeError', '"%s" factory yields invalid constructor', name);
				inst = new Class();
				loaded[name] = inst;
				if (name.indexOf('.') < 0)
					L[name] = inst;
				return inst;
			});
		});
		loading[name].catch(function () { delete loading[name]; });
		return loading[name];
	}

	/* --- L ---------------------------------------------------------------- */

	var loadedDeferred = {};
	var loadedPromise = new Promise(function (resolve) { loadedDeferred.resolve = resolve; });

	function whenLoaded() {
		return L.loaded ? Promise.resolve() : loadedPromise;
	}

	function domReady() {
		return new Promise(function (resolve) {
			if (document.readyState !== 'loading')
				resolve();
			else
				document.addEventListener('DOMContentLoaded', function () { resolve(); });
		});
	}

	/* The endpoint that answers HTTP 200 to a "list" is the one to use. */
	function probeRPCBaseURL() {
		var cached = session.getLocalData('rpcBaseURL');

		if (cached)
			return Promise.resolve(cached);
		return request.post(env.ubuspath, { jsonrpc: '2.0', id: 'init', method: 'list' }, { nobatch: true })
			.then(function (res) { return res.status === 200 ? env.ubuspath : L.url('admin/ubus'); },
				function () { return L.url('admin/ubus'); })
			.then(function (url) {
				session.setLocalData('rpcBaseURL', url);
				return url;
			});
	}

	function notifySessionExpiry() {
		poll.stop();
		L.ui.showModal(_('Session expired'), [
			E('div', { 'class': 'alert-message warning' }, [ _('A new login is required since the authentication session expired.') ]),
			E('div', { 'class': 'right' }, [
				E('div', { 'class': 'btn primary', 'click': function () {
					var loc = window.location;

					window.location = loc.protocol + '//' + loc.host + loc.pathname + loc.search;
				} }, [ _('Log in…') ])
			])
		]);
		raise('SessionError', 'Login session is expired');
	}

	function setupDOM(rpc, ui, base) {
		var checkAccess = rpc.declare({ object: 'session', method: 'access', params: [ 'scope', 'object', 'function' ],
			expect: { access: true } });

		rpc.setBaseURL(base);
		/* An access denial on a session that no longer exists is an expired login. */
		rpc.addInterceptor(function (msg, req) {
			if (!isPlainObject(msg) || !isPlainObject(msg.error) || msg.error.code !== -32002)
				return;
			if (!req || (req.object === 'session' && req.method === 'access'))
				return;
			return checkAccess('uci', 'luci', 'read').catch(notifySessionExpiry);
		});
		request.addInterceptor(function (res) {
			if (res.status === 403 && res.headers.get('X-LuCI-Login-Required') === 'yes')
				notifySessionExpiry();
		});
		document.addEventListener('poll-start', function () {
			ui.showIndicator('poll-status', _('Refreshing'), togglePoll);
		});
		document.addEventListener('poll-stop', function () {
			ui.showIndicator('poll-status', _('Paused'), togglePoll, 'inactive');
		});
	}

	function togglePoll() {
		if (poll.active())
			poll.stop();
		else
			poll.start();
	}

	function LuCI(setenv) {
		var script = document.querySelector('script[src*="/luci.js"]'), m;

		L = this;
		window.L = this;
		Object.assign(env, setenv);
		if (!env.base_url && script) {
			m = /^(.*)\/luci\.js(?:\?v=([^?]+))?$/.exec(script.getAttribute('src'));
			if (m) {
				env.base_url = m[1];
				env.resource_version = m[2];
			}
		}
		if (!env.base_url)
			raise('InternalError', 'Cannot find url of luci.js');
		env.cgi_base = String(env.scriptname || '').replace(/\/[^\/]*$/, '');
		this.env = env;
		this.loaded = false;

		Promise.all([ domReady(), require('ui'), require('rpc'), probeRPCBaseURL() ]).then(function (r) {
			setupDOM(r[2], r[1], r[3]);
			/* a legacy form initialiser would run here; our pages have none */
			poll.start();
			L.loaded = true;
			loadedDeferred.resolve();
			document.dispatchEvent(new CustomEvent('luci-loaded'));
		}).catch(error);
	}

	LuCI.prototype = {
		baseclass: baseclass,
		dom: dom,
		poll: poll,
		request: request,
		session: session,
		raise: function () { return raise.apply(null, arguments); },
		/* handed around unbound, as in .catch(L.error) */
		error: function () { return error.apply(null, arguments); },
		require: function (name) { return require(name); },

		bind: function (fn, self) {
			return Function.prototype.bind.apply(fn, [ self ].concat(Array.prototype.slice.call(arguments, 2)));
		},

		resolveDefault: function (promise, def) {
			return Promise.resolve(promise).catch(function () { return def; });
		},

		isObject: function (v) {
			return v !== null && typeof v === 'object';
		},

		toArray: function (v) {
			if (Array.isArray(v))
				return v;
			if (v === null || v === undefined)
				return [];
			if (typeof v === 'object')
				return [ v ];
			var s = String(v).trim();

			return s !== '' ? s.split(/\s+/) : [];
		},

		sortedKeys: function (obj, key, type) {
			var keys = Object.keys(obj || {});

			return keys.sort(function (a, b) {
				var x = key ? obj[a][key] : a, y = key ? obj[b][key] : b;

				if (type === 'addr' || type === 'num') {
					x = +x;
					y = +y;
				}
				return x > y ? 1 : x < y ? -1 : 0;
			});
		},

		path: function (prefix, parts) {
			return [ prefix ].concat(parts.filter(function (p) { return p !== null && p !== undefined && p !== ''; })
				.map(function (p) { return String(p).replace(/^\/+|\/+$/g, ''); })).join('/');
		},

		url: function () { return this.path(env.scriptname, Array.prototype.slice.call(arguments)); },
		resource: function () { return this.path(env.resource, Array.prototype.slice.call(arguments)); },
		media: function () { return this.path(env.media, Array.prototype.slice.call(arguments)); },

		/* null without a node or when it is not satisfied, false when read-only */
		hasViewPermission: function () {
			if (!isPlainObject(env.nodespec) || !env.nodespec.satisfied)
				return null;
			return !env.nodespec.readonly;
		},

		notifySessionExpiry: function () { return notifySessionExpiry(); }
	};
	window.LuCI = LuCI;
	window.E = E;
})(window, document);
