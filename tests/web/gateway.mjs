// ubus-httpd against the endpoint's protocol facts, byte for byte where the
// reply is fixed, then against bad clients. Plain node, no packages.
// Environment: WEB_URL (the gateway, with -t 2), WEB_URL_OPEN (a second one
// with -a -X), VX_VELOXD_PID, VX_UBUSD_PID.
import net from 'node:net';

const url = new URL(process.env.WEB_URL);
const ANON = '00000000000000000000000000000000';
let pass = 0, fail = 0;

function ok(name, cond, detail) {
	if (cond) {
		pass++;
		console.log(`ok - ${name}`);
	} else {
		fail++;
		console.log(`not ok - ${name}`);
		if (detail !== undefined)
			console.log(`#   ${typeof detail === 'string' ? detail : JSON.stringify(detail)}`);
	}
}
const eq = (name, got, want) => ok(name, got === want, `expected ${want}\n#   got      ${got}`);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function post(body, path = '/ubus') {
	const res = await fetch(new URL(path, url), { method: 'POST', body });
	return { status: res.status, type: res.headers.get('content-type'), conn: res.headers.get('connection'), text: await res.text() };
}
const rpc = async (obj) => (await post(JSON.stringify(obj))).text;
const call = (id, sid, object, method, args = {}) =>
	({ jsonrpc: '2.0', id, method: 'call', params: [sid, object, method, args] });
const err = (id, code, message) => JSON.stringify({ jsonrpc: '2.0', id, error: { code, message } });

// One raw request on a fresh socket; resolves with everything read until close or `ms`.
function raw(bytes, ms = 3000) {
	return new Promise((resolve) => {
		const s = net.connect(url.port, url.hostname);
		let got = '';
		const t = setTimeout(() => { s.destroy(); resolve({ got, closed: false }); }, ms);
		s.on('data', (d) => { got += d; });
		s.on('close', () => { clearTimeout(t); resolve({ got, closed: true }); });
		s.on('error', () => {});
		s.write(bytes);
	});
}

async function timed(fn) {
	const t0 = performance.now();
	const r = await fn();
	return { r, ms: performance.now() - t0 };
}

// --- sessions ---------------------------------------------------------------
const login = async (user, extra = {}) => JSON.parse(await rpc(call(1, ANON, 'session', 'login', { username: user, password: 'x', ...extra })));
const root = await login('root');
const sid = root.result?.[1]?.ubus_rpc_session;
ok('login answers [0,{session dump}] with a 32-hex id, timeout 300 and the user',
	/^[0-9a-f]{32}$/.test(sid) && root.result[1].timeout === 300 && root.result[1].expires === 300 &&
	root.result[1].data.username === 'root' && root.result.length === 2, root);
const viewer = (await login('viewer')).result[1];
ok('a read-only login holds the page\'s read grants but not the setter',
	JSON.stringify(viewer.acls['access-group']['luci-app-veloxd']) === '["read"]' &&
	viewer.acls.ubus.veloxd.includes('get_throughput') && !viewer.acls.ubus.veloxd.includes('set_display_interface'), viewer.acls);
const tester = (await login('tester')).result[1].ubus_rpc_session;
eq('unknown user: [6]', await rpc(call(2, ANON, 'session', 'login', { username: 'nobody', password: '' })),
	'{"jsonrpc":"2.0","id":2,"result":[6]}');
eq('login without password: [2]', await rpc(call(3, ANON, 'session', 'login', { username: 'root' })),
	'{"jsonrpc":"2.0","id":3,"result":[2]}');
eq('session access answers for the caller\'s session', await rpc(call(4, sid, 'session', 'access', { object: 'veloxd', function: 'get_throughput' })),
	'{"jsonrpc":"2.0","id":4,"result":[0,{"access":true}]}');

// --- list -----------------------------------------------------------------
eq('list without params: every object path, sorted', await rpc({ jsonrpc: '2.0', id: 'init', method: 'list' }),
	'{"jsonrpc":"2.0","id":"init","result":["session","veloxd","veloxd.history"]}');
const sig = '{"veloxd":{"test":{},"get_interface_list":{},"get_display_interface":{},"get_throughput":{},' +
	'"get_lan_port_info":{"interface1":"number","interface2":"number"},"set_display_interface":{"interface1":"number","interface2":"number"}}}';
eq('list by name gives the signatures', await rpc({ jsonrpc: '2.0', id: 4, method: 'list', params: ['veloxd'] }),
	`{"jsonrpc":"2.0","id":4,"result":${sig}}`);
eq('list by prefix pattern, unknown names left out', await rpc({ jsonrpc: '2.0', id: 5, method: 'list', params: ['velo*', 'nope'] }),
	`{"jsonrpc":"2.0","id":5,"result":${sig.slice(0, -1)},"veloxd.history":{"get_history":{"interface1":"number","range":"string"}}}}`);
eq('list of [] is {}', await rpc({ jsonrpc: '2.0', id: 6, method: 'list', params: [] }), '{"jsonrpc":"2.0","id":6,"result":{}}');

// --- a mixed batch ----------------------------------------------------------
const batch = JSON.parse(await rpc([
	call(1, sid, 'veloxd', 'get_throughput'),
	call(2, tester, 'veloxd', 'nosuch'),
	call(3, tester, 'veloxd', 'get_throughput'),
	call(4, tester, 'velox', 'test'),
	'junk',
	{ jsonrpc: '2.0', id: 'x', method: 'frobnicate' },
	call(7, sid, 'veloxd', 'get_lan_port_info', { interface1: 12 }),
	call(8, tester, 'veloxd', 'test'),
	{ jsonrpc: '2.0', id: 9, method: 'list', params: ['nope'] },
]));
const b = batch.map((r) => JSON.stringify(r));
ok('batch: one reply per element, in request order', batch.length === 9 && batch.map((r) => r.id).join() === '1,2,3,4,,x,7,8,9', b);
ok('batch: a call with data answers [0,{…}]',
	/^\{"jsonrpc":"2\.0","id":1,"result":\[0,\{"interface1_tx":"\d+\.\d\d","interface1_rx":"\d+\.\d\d","interface2_tx":"\d+\.\d\d","interface2_rx":"\d+\.\d\d"\}\]\}$/.test(b[0]), b[0]);
eq('batch: a granted method the object lacks: [3]', b[1], '{"jsonrpc":"2.0","id":2,"result":[3]}');
eq('batch: not granted: -32002', b[2], err(3, -32002, 'Access denied'));
eq('batch: unknown object: -32000 before any access check', b[3], err(4, -32000, 'Object not found'));
eq('batch: a non-object element: -32700 with id null', b[4], err(null, -32700, 'Parse error'));
eq('batch: another JSON-RPC method: -32601, id kept as a string', b[5], err('x', -32601, 'Method not found'));
eq('batch: an empty reply is [0], never [0,{}]', b[6], '{"jsonrpc":"2.0","id":7,"result":[0]}');
eq('batch: object and method granted by globs', b[7], '{"jsonrpc":"2.0","id":8,"result":[0,{"error_code":0}]}');
eq('batch: list inside a batch', b[8], '{"jsonrpc":"2.0","id":9,"result":{}}');
eq('empty batch: []', await rpc([]), '[]');

// --- each error ---------------------------------------------------------------
const perr = err(null, -32700, 'Parse error');
for (const [name, body] of [['not JSON', '{"jsonrpc":'], ['empty body', ''], ['a scalar', '42'], ['a string', '"call"']])
	eq(`body ${name}: one -32700 with id null`, (await post(body)).text, perr);
for (const [name, obj] of [
	['jsonrpc missing', { id: 1, method: 'list' }],
	['jsonrpc "1.0"', { jsonrpc: '1.0', id: 1, method: 'list' }],
	['jsonrpc a number', { jsonrpc: 2.0, id: 1, method: 'list' }],
	['method missing', { jsonrpc: '2.0', id: 1 }],
	['method not a string', { jsonrpc: '2.0', id: 1, method: 7 }],
	['call params not an array', { jsonrpc: '2.0', id: 1, method: 'call', params: {} }],
	['call params too short', { jsonrpc: '2.0', id: 1, method: 'call', params: [sid, 'veloxd', 'test'] }],
	['call args not an object', { jsonrpc: '2.0', id: 1, method: 'call', params: [sid, 'veloxd', 'test', []] }],
	['call sid not a string', { jsonrpc: '2.0', id: 1, method: 'call', params: [1, 'veloxd', 'test', {}] }],
])
	eq(`${name}: -32700`, await rpc(obj), err(1, -32700, 'Parse error'));
eq('ubus_rpc_session in the args: -32602', await rpc(call(1, sid, 'veloxd', 'set_display_interface', { ubus_rpc_session: sid, interface1: 1 })),
	err(1, -32602, 'Invalid parameters'));
eq('anonymous session on a page method: -32002', await rpc(call(1, ANON, 'veloxd', 'get_throughput')), err(1, -32002, 'Access denied'));
eq('unknown session id: -32002', await rpc(call(1, 'f'.repeat(32), 'veloxd', 'get_throughput')), err(1, -32002, 'Access denied'));
eq('read-only login on the setter: -32002', await rpc(call(1, viewer.ubus_rpc_session, 'veloxd', 'set_display_interface', { interface1: 1 })),
	err(1, -32002, 'Access denied'));
eq('id of any type comes back, absent id as null', await rpc({ jsonrpc: '2.0', method: 'call', params: [sid, 'veloxd', 'test', {}] }),
	'{"jsonrpc":"2.0","id":null,"result":[0,{"error_code":0}]}');
eq('an object id comes back as it was', await rpc({ jsonrpc: '2.0', id: { a: [1] }, method: 'call', params: [sid, 'veloxd', 'test', {}] }),
	'{"jsonrpc":"2.0","id":{"a":[1]},"result":[0,{"error_code":0}]}');

// Sliding expiry: a 2-s session lives while used, then lapses.
const short = (await login('root', { timeout: 2 })).result[1].ubus_rpc_session;
for (let i = 0; i < 3; i++) {
	await sleep(1000);
	await rpc(call(1, short, 'veloxd', 'test'));
}
eq('a session in use does not lapse', await rpc(call(1, short, 'veloxd', 'test')), '{"jsonrpc":"2.0","id":1,"result":[0,{"error_code":0}]}');
await sleep(3100);
eq('an idle session lapses: -32002', await rpc(call(1, short, 'veloxd', 'test')), err(1, -32002, 'Access denied'));

// --- HTTP framing ---------------------------------------------------------
{
	const r = await post(JSON.stringify(call(1, sid, 'veloxd', 'test')), '/ubus/?1733600000000');
	ok('POST /ubus/ with a cache-busting query: 200 application/json', r.status === 200 && r.type === 'application/json' &&
		r.text === '{"jsonrpc":"2.0","id":1,"result":[0,{"error_code":0}]}', r);
	const big = JSON.stringify(call(1, sid, 'veloxd', 'test'));
	const fits = await post(big + ' '.repeat(65536 - big.length));
	eq('a body of exactly 64 KiB is served', fits.text, '{"jsonrpc":"2.0","id":1,"result":[0,{"error_code":0}]}');
	const over = await raw(`POST /ubus HTTP/1.1\r\nHost: x\r\nContent-Length: 65537\r\n\r\n${big}${' '.repeat(65537 - big.length)}`);
	ok('a body over 64 KiB: -32700 and the connection closed',
		over.closed && over.got.startsWith('HTTP/1.1 200') && /\r\nConnection: close\r\n/i.test(over.got) && over.got.endsWith(perr), over.got);
	const opt = await fetch(new URL('/ubus', url), { method: 'OPTIONS' });
	ok('OPTIONS: 200, application/json, empty', opt.status === 200 && opt.headers.get('content-type') === 'application/json' &&
		(await opt.text()) === '', opt.status);
	ok('GET on the endpoint: 404', (await fetch(new URL('/ubus/', url))).status === 404);
	ok('POST below the endpoint: 404', (await post('{}', '/ubus/call/veloxd')).status === 404);
	const put = await fetch(new URL('/ubus', url), { method: 'PUT', body: '{}' });
	ok('another HTTP method: 400 with the error page', put.status === 400 && (await put.text()) === '<h1>Bad Request</h1>Invalid Request');
	ok('files outside the document roots are not served', (await raw('GET /../../../../etc/passwd HTTP/1.0\r\n\r\n')).got.startsWith('HTTP/1.0 404') ||
		(await raw('GET /../../../../etc/passwd HTTP/1.0\r\n\r\n')).got.startsWith('HTTP/1.1 404'));
}

// --- a login whose globs deny a group, and a gateway without checks and with CORS
{
	const limited = (await login('limited')).result[1];
	ok('a "!glob" in a login\'s list keeps that group out although "*" matches it',
		!limited.acls['access-group']['luci-app-veloxd'] && limited.acls['access-group']['gw-test'] !== undefined, limited.acls);
	eq('… so the page\'s methods are denied to it', await rpc(call(1, limited.ubus_rpc_session, 'veloxd', 'get_throughput')),
		err(1, -32002, 'Access denied'));
	eq('… except one that another group grants too', await rpc(call(1, limited.ubus_rpc_session, 'veloxd', 'get_display_interface')),
		'{"jsonrpc":"2.0","id":1,"result":[0,{"interface1":0,"interface2":3}]}');

	const open = new URL(process.env.WEB_URL_OPEN);
	const r = await fetch(new URL('/ubus', open), { method: 'POST', headers: { Origin: 'http://example.test' },
		body: JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'call', params: ['', 'veloxd', 'get_display_interface', {}] }) });
	ok('without checks (-a) an empty sid calls as the anonymous session',
		(await r.text()) === '{"jsonrpc":"2.0","id":1,"result":[0,{"interface1":0,"interface2":3}]}');
	ok('with -X the origin is echoed, credentials allowed',
		r.headers.get('access-control-allow-origin') === 'http://example.test' &&
		r.headers.get('access-control-allow-credentials') === 'true' &&
		r.headers.get('access-control-allow-methods') === 'GET, POST, OPTIONS', [...r.headers]);
	const pre = await fetch(new URL('/ubus', open), { method: 'OPTIONS', headers: { Origin: 'http://example.test',
		'Access-Control-Request-Method': 'POST', 'Access-Control-Request-Headers': 'content-type' } });
	ok('pre-flight: 200 with the requested headers echoed', pre.status === 200 &&
		pre.headers.get('access-control-allow-headers') === 'content-type', [...pre.headers]);
	const odd = await fetch(new URL('/ubus', open), { method: 'OPTIONS', headers: { Origin: 'http://example.test',
		'Access-Control-Request-Method': 'DELETE' } });
	ok('pre-flight for another method: no CORS headers', !odd.headers.get('access-control-allow-origin'));
	const plain = await fetch(new URL('/ubus', url), { method: 'OPTIONS', headers: { Origin: 'http://example.test' } });
	ok('without -X: no CORS headers', !plain.headers.get('access-control-allow-origin'));
}

// --- bad clients ------------------------------------------------------------
const probe = () => timed(() => rpc(call(1, sid, 'veloxd', 'test')));
const good = '{"jsonrpc":"2.0","id":1,"result":[0,{"error_code":0}]}';
{
	// A client that sends half a body and stalls, one that stalls in its
	// headers, and one that trickles a byte at a time.
	const stall = [];
	for (const part of ['POST /ubus HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{"jsonrpc"', 'POST /ubus HTTP/1.1\r\nHo']) {
		const s = net.connect(url.port, url.hostname);
		s.on('error', () => {});
		s.write(part);
		stall.push(s);
	}
	const trickle = net.connect(url.port, url.hostname);
	trickle.on('error', () => {});
	const tr = setInterval(() => trickle.write('X'), 50);
	await sleep(300);
	const p = await probe();
	ok(`stalled and trickling clients do not hold up others (${p.ms.toFixed(0)} ms)`, p.r === good && p.ms < 3000);
	clearInterval(tr);
	trickle.destroy();
	stall.forEach((s) => s.destroy());
}
{
	// Half requests: connect, send a fragment, hang up.
	const halves = [];
	for (let i = 0; i < 100; i++)
		halves.push(raw(['POST /ubus HTTP/1.1\r\nContent-Length: 50\r\n\r\n{"js', 'GET / HT', '\x00\xff\r\n\r\n', 'POST'][i % 4], 200));
	await Promise.all(halves);
	const p = await probe();
	ok('a hundred half requests later the gateway still answers', p.r === good);
}
{
	// Many idle connections at once.
	const many = [];
	for (let i = 0; i < 400; i++) {
		const s = net.connect(url.port, url.hostname);
		s.on('error', () => {});
		many.push(s);
	}
	await sleep(500);
	const p = await probe();
	ok(`400 idle connections do not keep others out (${p.ms.toFixed(0)} ms)`, p.r === good && p.ms < 3000);
	many.forEach((s) => s.destroy());
}
{
	const huge = await raw(`GET / HTTP/1.1\r\nHost: x\r\nX-Big: ${'a'.repeat(100 * 1024)}\r\n\r\n`);
	ok('oversized headers are refused', /^HTTP\/1\.1 4\d\d/.test(huge.got) || (huge.closed && huge.got === ''), huge.got.slice(0, 80));
	const garbage = await raw('\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03garbage\r\n\r\n');
	ok('a TLS hello or garbage gets an error, not a hang', huge.closed && garbage.closed);
	const p = await probe();
	ok('after oversized and garbage requests the gateway still answers', p.r === good);
}

// --- the backend misbehaving ---------------------------------------------------
{
	process.kill(Number(process.env.VX_VELOXD_PID), 'SIGSTOP');
	const t = await timed(() => rpc(call(1, sid, 'veloxd', 'test')));
	process.kill(Number(process.env.VX_VELOXD_PID), 'SIGCONT');
	eq('a call with no answer within the timeout: -32003', t.r, err(1, -32003, 'ubus request timed out'));
	ok(`… after the 2-s timeout (${t.ms.toFixed(0)} ms)`, t.ms >= 1900);
	await sleep(300);
	eq('the daemon answers again afterwards', await rpc(call(1, sid, 'veloxd', 'test')), good);
	process.kill(Number(process.env.VX_UBUSD_PID), 'SIGKILL');
	await sleep(300);
	eq('without a bus: -32603', await rpc(call(1, sid, 'veloxd', 'test')), err(1, -32603, 'Internal error'));
}

console.log(`${pass} passed, ${fail} failed`);
process.exit(fail ? 1 : 0);
