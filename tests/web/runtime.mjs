// The client runtime stand-in (host/luci-runtime) against the facts of the
// real one that views rely on: boot and env, read-only state, module loading,
// the view class, rpc (batching, expect, reject, filter, the shape of its
// errors), session expiry, poll, E() and String.format. Odd replies come from
// a made-up endpoint, /fake/, that the test answers itself.
// Environment: WEB_URL (the gateway, serving tests/web/htdocs too).
import { launchChromium } from './chromium.mjs';
import { ok, eq, waitUntil, done } from './tap.mjs';

const url = process.env.WEB_URL;
const browser = await launchChromium();
const isCall = (b, object, method) => Array.isArray(b?.params) && b.params[1] === object && b.params[2] === method;

async function open(query, fake) {
	const page = await browser.newPage();
	const requests = [];
	page.on('request', (r) => {
		let body = null;
		try { body = JSON.parse(r.postData()); } catch { /* not JSON */ }
		if (r.method() === 'POST')
			requests.push({ url: r.url(), body });
		if (!fake)
			return;
		if (!new URL(r.url()).pathname.startsWith('/fake/'))
			return r.continue();
		const reply = fake.next(body);
		if (reply === 'hang')
			return fake.hung.push(r);
		r.respond({ status: reply.status || 200, contentType: 'application/json',
			body: typeof reply.body === 'string' ? reply.body : JSON.stringify(reply.body) });
	});
	if (fake)
		await page.setRequestInterception(true);
	await page.goto(url + query, { waitUntil: 'load' });
	const booted = await waitUntil(`the runtime to boot (${query})`, () => page.evaluate(() => !!(window.L && L.loaded)), (v) => v, 20);
	return { page, requests, booted };
}

// In the page: what a rejection looks like.
const SHAPE = `window.shape = (e) => e instanceof Error ? {
	name: e.name, ctor: e.constructor.name, own: Object.getOwnPropertyNames(e).filter((k) => k !== 'stack').sort(),
	first: e.message.split('\\n')[0], stack: e.message.split('\\n').slice(1).every((l) => /^  at \\S/.test(l)) &&
	e.message.includes('\\n') } : { resolved: e };
window.settle = (p) => p.then((v) => v, shape);`;

try {
	// --- boot, env, read-only state -------------------------------------------
	{
		const { page, requests, booted } = await open('');
		ok('the runtime boots and the view renders', booted &&
			await waitUntil('the view', () => page.evaluate(() => !!document.querySelector('#vx-sel1')), (v) => v, 20));
		const env = await page.evaluate(() => ({ ...L.env, perm: L.hasViewPermission(), page: document.body.dataset.page,
			footer: document.querySelectorAll('.cbi-page-actions').length, rpc: !!L.rpc, ui: !!L.ui }));
		ok('env: sessionid of the login, pollinterval 5, ubuspath /ubus/, no rpctimeout', /^[0-9a-f]{32}$/.test(env.sessionid) &&
			env.pollinterval === 5 && env.ubuspath === '/ubus/' && env.rpctimeout === undefined, env);
		ok('env: base_url and resource_version from the script tag, cgi_base from scriptname',
			env.base_url === '/luci-static/resources' && env.resource_version === 'dev' && env.cgi_base === '/cgi-bin', env);
		ok('env: the menu node, satisfied and writable for root; hasViewPermission() true',
			env.nodespec?.satisfied === true && env.nodespec?.readonly === false && env.perm === true, env.nodespec);
		eq('the body names the page by its menu path', env.page, 'admin-status-veloxd');
		ok('single-segment modules are attached to L', env.rpc && env.ui);
		eq('a status page with all three handlers null has an empty footer', env.footer, 0);
		const probe = requests.find((r) => r.body?.id === 'init');
		ok('the RPC base URL is probed with one unbatched "list"', probe && !Array.isArray(probe.body) &&
			probe.body.method === 'list' && new URL(probe.url).pathname === '/ubus/', probe);
		await page.close();
	}
	{
		const { page, requests } = await open('?user=viewer');
		const v = await page.evaluate(() => ({ perm: L.hasViewPermission(), readonly: L.env.nodespec?.readonly }));
		ok('a read-only login: nodespec.readonly, hasViewPermission() false', v.perm === false && v.readonly === true, v);
		await page.evaluate(SHAPE);
		const denied = await page.evaluate(() => settle(L.rpc.declare({ object: 'veloxd', method: 'set_display_interface',
			params: [ 'interface1' ] })(1)));
		eq('access denied rejects with a plain Error named RPCError: no code, the code in the message, a stack appended',
			denied, { name: 'RPCError', ctor: 'Error', own: [ 'message', 'name' ],
				first: 'RPC call to veloxd/set_display_interface failed with error -32002: Access denied', stack: true });
		ok('… after the session check (session access, scope uci) found the login valid',
			requests.some((r) => [].concat(r.body).some((b) => isCall(b, 'session', 'access') && b.params[3].scope === 'uci')) &&
			!await page.evaluate(() => document.body.classList.contains('modal-overlay-active')));
		await page.close();
	}
	{
		const page = await browser.newPage();
		await page.goto(`${url}?user=tester`, { waitUntil: 'load' });
		const t = await waitUntil('the refusal', () => page.evaluate(() => document.querySelector('#maincontent h2')?.textContent),
			(s) => !!s, 20);
		ok('a login without the page\'s group gets "Forbidden", not the view', t === 'Forbidden' &&
			!await page.evaluate(() => !!window.L), t);
		const o = await open('?view=test/blank');
		ok('a view without a menu node: hasViewPermission() null', await o.page.evaluate(() => L.hasViewPermission()) === null);
		await page.close();
		await o.page.close();
	}

	// --- modules and views --------------------------------------------------------
	{
		const { page, requests } = await open('?view=test/blank');
		await page.evaluate(SHAPE);
		const d = await page.evaluate(async () => {
			const a = await settle(L.require('test.deps')), b = await settle(L.require('test.deps'));
			return a.args ? { same: a === b, leafSame: a.args.leaf === a.args.test_leaf, made: self.leafMade, args: a.args } : a;
		});
		ok('header: comments skipped, both quotes, "as VAR", dots become _, window/document/L passed; scanning stops at ' +
			'the first other string (a later require of a missing class is not loaded)',
			d.leafSame && d.args.window && d.args.document && d.args.L, d);
		ok('a class is loaded and instantiated once, then its instance is returned', d.same && d.made === 1, d);
		const errs = await page.evaluate(async () => ({
			missing: await settle(L.require('test.missing')),
			nonclass: await settle(L.require('test.nonclass')),
			cycle: await settle(L.require('test.cycle_a')),
			syntax: await settle(L.require('test.syntax')),
		}));
		ok('a missing class file: NetworkError "HTTP error 404 while loading class file …"', errs.missing.name === 'NetworkError' &&
			errs.missing.first === 'HTTP error 404 while loading class file "/luci-static/resources/test/missing.js?v=dev"', errs.missing);
		ok('a module that returns no class: TypeError "… factory yields invalid constructor"', errs.nonclass.name === 'TypeError' &&
			errs.nonclass.ctor === 'TypeError' && errs.nonclass.first === '"test.nonclass" factory yields invalid constructor', errs.nonclass);
		ok('a cycle: DependencyError "Circular dependency: …"', errs.cycle.name === 'DependencyError' &&
			/^Circular dependency: /.test(errs.cycle.first), errs.cycle);
		ok('a syntax error: SyntaxError naming the file', errs.syntax.name === 'SyntaxError',
			errs.syntax);
		const syn = await page.evaluate(() => L.require('test.syntax').catch((e) => e.message));
		ok('… "<msg>\\n  in <url>:<line>"', /\n {2}in \/luci-static\/resources\/test\/syntax\.js\?v=dev:/.test(syn), syn);

		const f = await page.evaluate(() => {
			const r = {};
			try { L.raise('TypeError', 'bad %d', 5.7); } catch (e) { r.t = shape(e); r.isType = e instanceof TypeError; }
			const old = new Error('old');
			try { L.raise(old, 'in %s', 'x'); } catch (e) { r.same = e === old; r.msg = e.message; }
			const once = new Error('shown once');
			for (let i = 0; i < 2; i++)
				try { L.error(once); } catch (e) { r.rethrown = e === once; }
			r.notes = [...document.querySelectorAll('.alert-message.danger')].filter((n) => n.textContent.includes('shown once'))
				.map((n) => [ n.querySelector('h4')?.textContent, n.querySelector('pre')?.textContent ]);
			return r;
		});
		ok('raise("TypeError"): a real TypeError, message formatted, stack lines appended',
			f.isType && f.t.first === 'bad 5' && f.t.stack, f.t);
		ok('raise(existing Error, fmt): the same object, "<text>: <old message>", no stack', f.same && f.msg === 'in x: old', f.msg);
		eq('error(e) twice: one danger notification (title = name, <pre> message), rethrown each time',
			[ f.notes, f.rethrown ], [ [ [ 'Error', 'shown once' ] ], true ]);

		const dom = await page.evaluate(() => {
			let clicks = 0;
			const a = E('b', {}, '<i>x</i>'), b = E('b', [ '<i>x</i>', null, 7 ]);
			const c = E('b', { 'click': () => clicks++, 'data-o': { k: [ 1 ] }, 'data-n': null, 'title': 3 }, 'y');
			c.click();
			const frag = E([ 'a', E('i', {}, [ 'b' ]) ]);
			return { a: a.innerHTML, b: b.textContent, bKids: b.childNodes.length, clicks, o: c.getAttribute('data-o'),
				n: c.hasAttribute('data-n'), t: c.getAttribute('title'), frag: frag.nodeType, fragText: frag.textContent };
		});
		eq('E(): a string child is HTML, array entries are text (null too), listeners, JSON attributes, null skipped',
			dom, { a: '<i>x</i>', b: '<i>x</i>null7', bKids: 3, clicks: 1, o: '{"k":[1]}', n: false, t: '3', frag: 11, fragText: 'ab' });
		const fmt = await page.evaluate(() => [
			'%s %s'.format('a'), '%d|%d|%d'.format(3.9, -3.9, 'abc'), '%05d|%-4s|%\'*6s'.format(42, 'ab', 'cd'),
			'%.2f'.format(1.005), '%1024.2mB|%1024.2mB|%1024.2mB|%1024.2mB'.format(1536, 1024, 0, 512.5),
			'%.2mB'.format(1500), '%1000.3mbit'.format(123456789), '%.10mB'.format(1500),
			'%t|%t'.format(90061, 59), /^[^<>&"']*$/.test('%h'.format('<a href="x">&\'').replace(/&#?\w+;/g, '')) &&
				'%h'.format('<a>').length > 3, '%x %X %o %b %c %u'.format(255, 255, 8, 5, 65, -1),
			'100%%'.format(), '%s'.format(),
		]);
		eq('String.format: reuse of the last substitution, d, padding, f, m (both divisors), t, h, x/X/o/b/c/u, %%',
			fmt, [ 'a a', '3|-4|0', '00042|ab  |****cd', '1.00', '1.50 KiB|1024 B|0 B|512.5 B', '1.50 KB', '123.457 Mbit',
				'1.5 KB', '1d 1h 1m 1s|0h 0m 59s', true, 'ff FF 10 101 A 4294967295',
				'100%', 'undefined' ]);
		await page.close();
	}
	for (const [ view, what ] of [ [ 'test/broken', 'render throws' ], [ 'test/notaview', 'the class is no view' ] ]) {
		const { page } = await open(`?view=${view}`);
		const r = await waitUntil('the notification', () => page.evaluate(() => ({
			note: [...document.querySelectorAll('#maincontent > .alert-message.danger')].map((n) => [ n.querySelector('h4')?.textContent,
				n.querySelector('pre')?.textContent.split('\n')[0] ]),
			spinner: document.querySelector('#view > .spinning')?.textContent || null,
			view: document.querySelector('#view')?.childNodes.length,
		})), (r) => r.note.length > 0, 20);
		if (view === 'test/broken')
			eq(`${what}: a danger notification, the view stays on the spinner`, r,
				{ note: [ [ 'TypeError', 'render failed' ] ], spinner: 'Loading view…', view: 1 });
		else
			eq(`${what}: TypeError "Loaded class … is not a descendant of View", #view emptied`, r,
				{ note: [ [ 'TypeError', 'Loaded class view.test.notaview is not a descendant of View' ] ], spinner: null, view: 0 });
		await page.close();
	}

	// --- rpc --------------------------------------------------------------------
	{
		const fake = { hung: [], next: () => ({ body: [] }) };
		const { page, requests } = await open('?view=test/blank', fake);
		await page.evaluate(SHAPE);
		const ubusPosts = () => requests.filter((r) => new URL(r.url).pathname === '/ubus/');
		const n0 = ubusPosts().length;
		const batch = await page.evaluate(async () => {
			const show = L.rpc.declare({ object: 'veloxd', method: 'get_display_interface', expect: { '': {} } });
			const test = L.rpc.declare({ object: 'veloxd', method: 'test', expect: { error_code: -1 } });
			const port = L.rpc.declare({ object: 'veloxd', method: 'get_lan_port_info', params: [ 'interface1', 'interface2' ],
				filter: (data, params, ...extra) => ({ keys: Object.keys(data).sort(), params, extra }) });
			return Promise.all([ show(), test(), port(9, undefined, 'x', 'y') ]);
		});
		const sent = ubusPosts().slice(n0);
		ok('calls made together go out as one POST of a JSON array, to the base URL with a cache-buster',
			sent.length === 1 && Array.isArray(sent[0].body) && sent[0].body.length === 3 && /\/ubus\/\?\d{13}$/.test(sent[0].url),
			sent.map((s) => s.url));
		const frames = sent[0]?.body || [];
		ok('frames: "call", consecutive numeric ids, the session id, positional params, undefined ones left out',
			frames.every((f) => f.jsonrpc === '2.0' && f.method === 'call' && f.params[0] === frames[0].params[0]) &&
			frames[1].id === frames[0].id + 1 && frames[2].id === frames[1].id + 1 &&
			JSON.stringify(frames[2].params[3]) === '{"interface1":9}', frames);
		eq('replies by position; expect picks a key; filter gets (data, the params sent, extra args)', batch,
			[ { interface1: 0, interface2: 3 }, 0,
				{ keys: [ 'rx_bytes', 'rx_packets', 'rx_speed', 'tx_bytes', 'tx_packets', 'tx_speed' ],
					params: { interface1: 9 }, extra: [ 'x', 'y' ] } ]);

		const status = await page.evaluate(async () => {
			const d = (o) => L.rpc.declare(Object.assign({ object: 'veloxd', method: 'nosuch' }, o));
			const dflt = d({ expect: { '': {} } });
			const a = await dflt(), b = await dflt();
			return { bare: await settle(d({})()), obj: a, same: a === b, list: await settle(d({ expect: { list: [] } })()),
				rej: await settle(d({ reject: true })()),
				missing: await settle(L.rpc.declare({ object: 'veloxd', method: 'test', expect: { list: [ 'd' ] } })()),
				wrongType: await settle(L.rpc.declare({ object: 'veloxd', method: 'test', expect: { error_code: 'd' } })()) };
		});
		eq('a ubus status: bare number without expect, the default with it (the same object each time)',
			[ status.bare, status.obj, status.same, status.list ], [ 3, {}, true, [] ]);
		eq('… and with reject: RPCError "failed with ubus code N: TEXT"', status.rej, { name: 'RPCError', ctor: 'Error',
			own: [ 'message', 'name' ], first: 'RPC call to veloxd/nosuch failed with ubus code 3: Method not found', stack: true });
		eq('expect: a missing key or another type gives the default', [ status.missing, status.wrongType ], [ [ 'd' ], 'd' ]);

		// Made-up replies at /fake/.
		const via = async (reply, script) => {
			fake.next = typeof reply === 'function' ? reply : () => reply;
			return page.evaluate(`(async () => { L.rpc.setBaseURL('/fake/'); try { return await (${script}); }
				finally { L.rpc.setBaseURL('/ubus/'); } })()`);
		};
		const two = `Promise.all([ settle(L.rpc.declare({ object: 'o', method: 'a' })()), settle(L.rpc.declare({ object: 'o', method: 'b' })()) ])`;
		eq('a batch reply is matched by position, not by id', await via((b) => ({ body: [
			{ jsonrpc: '2.0', id: b[1].id, result: [ 0, { first: 1 } ] }, { jsonrpc: '2.0', id: b[0].id, result: [ 0, { second: 1 } ] } ] }), two),
			[ { first: 1 }, { second: 1 } ]);
		const plain = { name: 'Error', ctor: 'Error', own: [ 'message' ], first: 'No related RPC reply', stack: false };
		eq('a batch reply that is no JSON array: plain Error "No related RPC reply" for each', await via({ body: { a: 1 } }, two),
			[ plain, plain ]);
		eq('… an empty array too', await via({ body: [] }, two), [ plain, plain ]);
		const http = await via({ status: 500, body: [ { jsonrpc: '2.0', id: 1, result: [ 0 ] } ] }, `settle(L.rpc.declare({ object: 'o', method: 'a' })())`);
		eq('a non-2xx batch reply with a JSON array: RPCError "failed with HTTP error 500: Internal Server Error"', http.first,
			'RPC call to o/a failed with HTTP error 500: Internal Server Error');
		eq('a frame without jsonrpc "2.0": "returned invalid message frame"', (await via({ body: [ { jsonrpc: '1.0', id: 1, result: [ 0 ] } ] },
			`settle(L.rpc.declare({ object: 'o', method: 'a' })())`)).first, 'RPC call to o/a returned invalid message frame');
		eq('a JSON-RPC error rejects even without reject:, before expect', (await via({ body: [ { jsonrpc: '2.0', id: 1,
			error: { code: -32000, message: 'Object not found' } } ] }, `settle(L.rpc.declare({ object: 'o', method: 'a', expect: { '': {} } })())`)).first,
			'RPC call to o/a failed with error -32000: Object not found');
		const syntax = await via({ body: 'not json' }, `settle(L.rpc.declare({ object: 'o', method: 'a', nobatch: true })())`);
		eq('nobatch: sent alone; a 2xx body that is no JSON: the native SyntaxError, no stack', [ syntax.name, syntax.ctor, syntax.stack,
			Array.isArray(requests.at(-1).body) ], [ 'SyntaxError', 'SyntaxError', false, false ]);
		fake.hung.length = 0;
		const slow = await via('hang', `(L.env.rpctimeout = 1, settle(L.rpc.declare({ object: 'o', method: 'a' })()))`);
		await page.evaluate(() => { delete L.env.rpctimeout; });
		eq('no answer within env.rpctimeout: plain Error "XHR request timed out", no stack', slow,
			{ name: 'Error', ctor: 'Error', own: [ 'message' ], first: 'XHR request timed out', stack: false });
		for (const r of fake.hung)
			await r.abort().catch(() => {});

		// poll
		const p0 = await page.evaluate(() => {
			const P = L.poll, r = { active0: P.active() };
			window.pt = { n: 0, slow: 0, thr: 0, rej: 0, dflt: 0 };
			window.count = () => { pt.n++; };
			r.added = P.add(count, 1);
			r.sync = pt.n;
			r.dup = P.add(count, 1);
			for (const [ k, args ] of [ [ 'notfn', [ 'x', 1 ] ], [ 'nan', [ () => {}, NaN ] ] ])
				try { P.add(...args); } catch (e) { r[k] = e.name + ': ' + e.message.split('\n')[0]; }
			r.ind = document.querySelector('#indicators [data-indicator="poll-status"]')?.dataset.style;
			window.slowFn = () => { pt.slow++; return new Promise((res) => { window.release = res; }); };
			P.add(slowFn, 1);
			P.add(() => { pt.thr++; throw new Error('poll body threw'); }, 1);
			P.add(() => { pt.rej++; return Promise.reject(new Error('poll body rejected')); }, 1);
			P.add(() => { pt.dflt++; }, 0);
			pt.base = pt.n;
			return r;
		});
		eq('poll.add: the first add starts polling and runs fn at once; a second add of it is refused; bad arguments throw', p0,
			{ active0: false, added: true, sync: 1, dup: false, notfn: 'TypeError: Invalid argument to LuCI.poll.add()',
				nan: 'TypeError: Invalid argument to LuCI.poll.add()', ind: 'active' });
		const pt = await waitUntil('eleven ticks', () => page.evaluate(() => ({ ...pt })), (t) => t.n - t.base >= 11, 120);
		ok('a slow call never overlaps itself', pt && pt.slow === 1, pt);
		ok('a synchronous throw disarms the entry for good', pt && pt.thr === 1, pt);
		ok('a rejection re-arms it', pt && pt.rej >= 5, pt);
		ok('interval 0 means env.pollinterval (5 s): 2 or 3 runs in 11 ticks', pt && pt.dflt >= 2 && pt.dflt <= 3, pt);
		await page.evaluate(() => release());
		ok('once settled, the slow call runs again', await waitUntil('the slow call', () => page.evaluate(() => pt.slow), (n) => n >= 2, 20));
		const p1 = await page.evaluate(() => {
			const P = L.poll, r = {};
			P.remove(count);
			P.remove(slowFn);
			r.removed = P.remove(count);
			r.stillActive = P.active();
			return r;
		});
		ok('remove() of an absent fn answers false', p1.removed === false);
		const p2 = await page.evaluate(() => {
			const P = L.poll, r = {};
			P.stop();
			r.ind = document.querySelector('#indicators [data-indicator="poll-status"]');
			r.ind = r.ind && [ r.ind.textContent, r.ind.dataset.style ];
			r.addAfterStop = P.add(count, 1) && P.active();
			r.start = P.start() && P.active();
			r.again = P.start();
			return r;
		});
		eq('stop(): "Paused" indicator, a later add does not restart; start() does, once', p2,
			{ ind: [ 'Paused', 'inactive' ], addAfterStop: false, start: true, again: false });
		await page.close();
	}
	{
		const { page, requests } = await open('?view=test/blank');
		await page.evaluate(SHAPE);
		const r = await page.evaluate(async () => {
			L.poll.add(() => {}, 1);
			L.rpc.setSessionID('f'.repeat(32));
			const e = await settle(L.rpc.declare({ object: 'veloxd', method: 'get_throughput', expect: { '': {} } })());
			const m = document.querySelector('#modal_overlay > .modal');
			return { e, active: L.poll.active(), open: document.body.classList.contains('modal-overlay-active'),
				title: m?.querySelector('h4')?.textContent, text: m?.querySelector('.alert-message.warning')?.textContent,
				button: m?.querySelector('.btn.primary')?.textContent };
		});
		eq('an expired login: SessionError "Login session is expired", the "Session expired" dialog, polling stopped', r, {
			e: { name: 'SessionError', ctor: 'Error', own: [ 'message', 'name' ], first: 'Login session is expired', stack: true },
			active: false, open: true, title: 'Session expired',
			text: 'A new login is required since the authentication session expired.', button: 'Log in…' });
		ok('… decided by the session check, which got "Access denied" itself', requests.some((q) =>
			[].concat(q.body).some((b) => isCall(b, 'session', 'access') && b.params[0] === 'f'.repeat(32))));
		await page.close();
	}
} finally {
	await browser.close();
}
done();
