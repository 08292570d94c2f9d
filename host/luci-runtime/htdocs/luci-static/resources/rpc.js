'use strict';
'require baseclass';
'require request';

/*
 * Bus calls over the web server's JSON-RPC endpoint. A declared call returns
 * a promise; calls made in one animation frame travel in one HTTP request
 * (request batches them). Failures reject with an Error named "RPCError"
 * whose message carries the code and the caller's stack lines, and which
 * has no other fields.
 */

var rpcRequestID = 1, rpcSessionID = L.env.sessionid || '00000000000000000000000000000000';
var rpcBaseURL = L.url('admin/ubus'), rpcInterceptors = [];

var statusTexts = [
	'Command OK', 'Invalid command', 'Invalid argument', 'Method not found', 'Resource not found',
	'No data received', 'Permission denied', 'Request timeout', 'Not supported', 'Unspecified error',
	'Connection lost'
];

function typeName(v) {
	return Object.prototype.toString.call(v);
}

return baseclass.extend({
	call: function (req, cb, nobatch) {
		return request.post(rpcBaseURL + '?' + Date.now(), req, {
			timeout: (L.env.rpctimeout != null ? L.env.rpctimeout : 20) * 1000,
			nobatch: nobatch,
			credentials: true
		}).then(cb, cb);
	},

	/* The reply of one call: HTTP status, interceptors, frame, JSON-RPC
	 * error, ubus status, expect, filter. */
	handleCallReply: function (req, res) {
		var self = this, msg;

		try {
			if (res instanceof Error)
				throw res;
			if (!res.ok)
				L.raise('RPCError', 'RPC call to %s/%s failed with HTTP error %d: %s',
					req.object, req.method, res.status, res.statusText || '?');
			msg = res.json();
		} catch (e) {
			return req.reject(e);
		}

		Promise.all(rpcInterceptors.map(function (fn) { return fn(msg, req); })).then(function checkReply() {
			var ret, key, dflt;

			if (msg === null || typeof msg !== 'object' || msg.jsonrpc !== '2.0')
				L.raise('RPCError', 'RPC call to %s/%s returned invalid message frame', req.object, req.method);
			if (msg.error !== null && typeof msg.error === 'object' && msg.error.code && msg.error.message)
				L.raise('RPCError', 'RPC call to %s/%s failed with error %d: %s',
					req.object, req.method, msg.error.code, msg.error.message);
			if (req.list)
				return msg.result;

			ret = Array.isArray(msg.result) ? (msg.result.length > 1 ? msg.result[1] : msg.result[0]) : null;
			if (req.rejectStatus && Array.isArray(msg.result) && msg.result[0] !== 0)
				L.raise('RPCError', 'RPC call to %s/%s failed with ubus code %d: %s',
					req.object, req.method, msg.result[0], self.getStatusText(msg.result[0]));
			key = typeName(req.expect) === '[object Object]' ? Object.keys(req.expect)[0] : undefined;
			if (key !== undefined) {
				dflt = req.expect[key];
				if (key !== '' && ret !== null && ret !== undefined)
					ret = ret[key];
				if (ret === null || ret === undefined || typeName(ret) !== typeName(dflt))
					ret = dflt;
			}
			if (typeof req.filter === 'function')
				return req.filter.apply(self, [ ret, req.params ].concat(req.extra));
			return ret;
		}).then(req.resolve, req.reject);
	},

	list: function () {
		var self = this, msg = { jsonrpc: '2.0', id: rpcRequestID++, method: 'list' };
		var names = Array.prototype.slice.call(arguments);

		if (names.length)
			msg.params = names;
		return new Promise(function (resolve, reject) {
			self.call(msg, L.bind(self.handleCallReply, self, {
				list: true, object: 'ubus', method: 'list', resolve: resolve, reject: reject
			}));
		});
	},

	/* Positional arguments fill the keys of params in order; the rest go to
	 * filter only. */
	declare: function (options) {
		var self = this;

		return function () {
			var args = Array.prototype.slice.call(arguments), params = {}, extra = args, i;

			if (Array.isArray(options.params)) {
				for (i = 0; i < options.params.length && i < args.length; i++)
					params[options.params[i]] = args[i];
				extra = args.slice(options.params.length);
			}
			return new Promise(function (resolve, reject) {
				var msg = {
					jsonrpc: '2.0',
					id: rpcRequestID++,
					method: 'call',
					params: [ rpcSessionID, options.object, options.method, params ]
				};

				self.call(msg, L.bind(self.handleCallReply, self, {
					object: options.object,
					method: options.method,
					params: params,
					expect: options.expect,
					filter: options.filter,
					rejectStatus: !!options.reject,
					extra: extra,
					resolve: resolve,
					reject: reject
				}), options.nobatch);
			});
		};
	},

	getSessionID: function () { return rpcSessionID; },
	setSessionID: function (sid) { rpcSessionID = sid; },
	getBaseURL: function () { return rpcBaseURL; },
	setBaseURL: function (url) { rpcBaseURL = url; },

	getStatusText: function (code) {
		return _(statusTexts[code] || 'Unknown error code');
	},

	addInterceptor: function (fn) {
		if (typeof fn === 'function')
			rpcInterceptors.push(fn);
		return fn;
	},

	removeInterceptor: function (fn) {
		var n = rpcInterceptors.length;

		rpcInterceptors = rpcInterceptors.filter(function (f) { return f !== fn; });
		return rpcInterceptors.length !== n;
	}
});
