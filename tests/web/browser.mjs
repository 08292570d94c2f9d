// The status page in a real browser (headless chromium over the DevTools
// protocol) against the sandbox's veloxd carrying generated traffic.
// Environment: WEB_URL, WEB_EXPECT (JSON: slot -> [tx, rx] in kbit/s),
// VX_BIN_UBUS, VX_SOCK, VX_VELOXD_PID, VX_BIN_VELOXD, WEB_VELOXD_ENV,
// optionally WEB_SCREENSHOT (a path) and WEB_SCREENSHOT_WAIT (seconds).
import { execFileSync, spawn } from 'node:child_process';
import { launchChromium } from './chromium.mjs';

const env = process.env;
const expect = JSON.parse(env.WEB_EXPECT);
const TOL = 5;
let pass = 0, fail = 0;

function ok(name, cond, detail) {
	if (cond) {
		pass++;
		console.log(`ok - ${name}`);
	} else {
		fail++;
		console.log(`not ok - ${name}`);
		if (detail !== undefined)
			console.log(`#   ${detail}`);
	}
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// "1.95 Mbit/s" -> kbit/s in veloxd's unit
function kbit(text) {
	const m = /^([\d.]+) (kbit|Mbit)\/s$/.exec((text || '').trim());
	if (!m)
		return NaN;
	return Number(m[1]) * (m[2] === 'Mbit' ? 1024 : 1);
}

function within(got, want, pct) {
	// a near-idle direction may show a few frames of background noise
	if (want === 0)
		return got < 2;
	return Math.abs(got - want) <= want * pct / 100;
}

function ubus(...args) {
	return JSON.parse(execFileSync(env.VX_BIN_UBUS, ['-s', env.VX_SOCK, ...args], { encoding: 'utf8' }));
}

// Everything the checks read from the page in one go.
function readPage(page) {
	return page.evaluate(() => {
		const q = (s) => document.querySelector(s);
		const sel = (n) => ({
			tx: q(`#vx-sel${n} .vx-speeds .vx-tx`)?.textContent,
			rx: q(`#vx-sel${n} .vx-speeds .vx-rx`)?.textContent,
			choice: q(`#vx-sel${n} .vx-choose`)?.value,
			result: q(`#vx-sel${n} .vx-result`)?.textContent,
			resultError: q(`#vx-sel${n} .vx-result`)?.classList.contains('error'),
			samples: Number(q(`#vx-sel${n} polyline.line-rx`)?.getAttribute('data-samples') || 0),
			points: (q(`#vx-sel${n} polyline.line-rx`)?.getAttribute('points') || '').split(' ').filter(Boolean).length,
		});
		const rows = {};
		for (const tr of document.querySelectorAll('#vx-slots tr[data-slot]'))
			rows[tr.dataset.slot] = { tx: tr.querySelector('.vx-tx').textContent, rx: tr.querySelector('.vx-rx').textContent };
		return { sel1: sel(1), sel2: sel(2), rows, mode: q('#vx-mode')?.textContent, alert: q('#vx-alert')?.textContent || '' };
	});
}

async function waitFor(page, what, pred, seconds) {
	let last;
	for (let i = 0; i < seconds * 4; i++) {
		last = await readPage(page);
		if (pred(last))
			return last;
		await sleep(250);
	}
	console.log(`#   waiting for ${what} gave up; page: ${JSON.stringify(last)}`);
	return null;
}

// Five readings, one a refresh of the page (its graph gains a sample with
// each); the middle one decides, so a sample that caught a generator's late
// tick does not.
async function medianReadings(page, pick) {
	const seen = [];
	let last = await readPage(page);
	for (let i = 0; i < 5; i++) {
		if (i) {
			const at = last.sel1.samples;
			last = await waitFor(page, 'the next refresh', (p) => p.sel1.samples !== at, 30) || last;
		}
		seen.push(pick(last));
	}
	return seen[0].map((_, k) => seen.map((s) => s[k]).sort((a, b) => a - b)[2]);
}

const browser = await launchChromium();

try {
	const page = await browser.newPage();
	await page.setViewport({ width: 1100, height: 1250 });
	const pageErrors = [];
	page.on('pageerror', (e) => pageErrors.push(e.message));
	// Refreshes of the page answered so far: each asks for the throughput once.
	let refreshes = 0;
	page.on('response', (r) => {
		if (/get_throughput/.test(r.request().postData() || ''))
			refreshes++;
	});
	await page.goto(env.WEB_URL, { waitUntil: 'load' });

	const first = await waitFor(page, 'the first figures', (p) =>
		!Number.isNaN(kbit(p.sel1.rx)) && Object.keys(p.rows).length === 5 && p.sel1.samples >= 2, 60);
	ok('page shows both selections and the five slots of mode ap', first !== null);
	ok('wireless mode is shown as access point', /Access point/.test(first?.mode || ''), first?.mode);

	// The selections at their defaults: slot 0 and slot 3.
	const [s1tx, s1rx, s2tx, s2rx] = await medianReadings(page, (p) =>
		[kbit(p.sel1.tx), kbit(p.sel1.rx), kbit(p.sel2.tx), kbit(p.sel2.rx)]);
	ok(`selection 1 (slot 0) receive ${s1rx} ~ ${expect[0][1]} kbit/s`, within(s1rx, expect[0][1], TOL));
	ok(`selection 1 (slot 0) transmit ${s1tx} ~ ${expect[0][0]} kbit/s`, within(s1tx, expect[0][0], TOL));
	ok(`selection 2 (slot 3) receive ${s2rx} ~ ${expect[3][1]} kbit/s`, within(s2rx, expect[3][1], TOL));
	ok(`selection 2 (slot 3) transmit ${s2tx} ~ ${expect[3][0]} kbit/s`, within(s2tx, expect[3][0], TOL));

	const slots = Object.keys(expect);
	const table = await medianReadings(page, (p) =>
		slots.flatMap((s) => [kbit(p.rows[s]?.tx), kbit(p.rows[s]?.rx)]));
	slots.forEach((s, i) => {
		ok(`table slot ${s} transmit ${table[2 * i]} ~ ${expect[s][0]} kbit/s`, within(table[2 * i], expect[s][0], TOL));
		ok(`table slot ${s} receive ${table[2 * i + 1]} ~ ${expect[s][1]} kbit/s`, within(table[2 * i + 1], expect[s][1], TOL));
	});

	// A sample a refresh: the count of answered refreshes may run one ahead of
	// the graph at either reading.
	const before = (await readPage(page)).sel1, refreshed0 = refreshes;
	const grown = await waitFor(page, 'four more samples', (p) => p.sel1.samples >= before.samples + 4, 30);
	const after = (grown || await readPage(page)).sel1, refreshed = refreshes - refreshed0;
	ok(`graph gains a point each refresh (${before.samples} -> ${after.samples} samples in ${refreshed} refreshes)`,
		grown !== null && Math.abs(after.samples - before.samples - refreshed) <= 1 && after.points === after.samples);

	// Move selection 1 to slot 1 with the page's control.
	const refreshesBeforeMove = refreshes;
	await page.select('#vx-sel1 .vx-choose', '1');
	const moved = await waitFor(page, 'selection 1 on slot 1', (p) =>
		/Now showing/.test(p.sel1.result) && within(kbit(p.sel1.tx), expect[1][0], TOL), 30);
	const sinceMove = refreshes - refreshesBeforeMove;
	ok('changing selection 1 to slot 1 moves its figures to slot 1\'s transmit speed', moved !== null);
	const disp = ubus('call', 'veloxd', 'get_display_interface');
	ok('ubus get_display_interface agrees (interface1 = 1, interface2 = 3)',
		disp.interface1 === 1 && disp.interface2 === 3, JSON.stringify(disp));
	ok(`the graph restarted for the new slot (${moved?.sel1.samples} samples, ${sinceMove} refreshes since the move)`,
		moved !== null && moved.sel1.samples <= sinceMove + 1);

	if (env.WEB_SCREENSHOT) {
		await sleep(Number(env.WEB_SCREENSHOT_WAIT || 0) * 1000);
		await page.screenshot({ path: env.WEB_SCREENSHOT, fullPage: true });
		console.log(`# screenshot: ${env.WEB_SCREENSHOT}`);
	}

	// A login without the page's write grant.
	const viewer = await browser.newPage();
	await viewer.goto(`${env.WEB_URL}?user=viewer`, { waitUntil: 'load' });
	const vfirst = await waitFor(viewer, 'figures for viewer', (p) => !Number.isNaN(kbit(p.sel1.tx)), 30);
	ok('a read-only login sees the figures', vfirst !== null);
	await viewer.select('#vx-sel2 .vx-choose', '0');
	const denied = await waitFor(viewer, 'the denial', (p) => p.sel2.resultError, 30);
	ok('a read-only login is told access was denied (-32002) when changing a selection',
		denied !== null && /Access denied/.test(denied.sel2.result) && /-32002/.test(denied.sel2.result), denied?.sel2.result);
	const disp2 = ubus('call', 'veloxd', 'get_display_interface');
	ok('the denied change did not happen', disp2.interface2 === 3, JSON.stringify(disp2));
	const back = await waitFor(viewer, 'the control back on slot 3', (p) => p.sel2.choice === '3', 30);
	ok('the denied control shows the selection in force again', back !== null);
	await viewer.close();
	await page.bringToFront();

	// veloxd goes away and comes back.
	process.kill(Number(env.VX_VELOXD_PID), 'SIGTERM');
	const down = await waitFor(page, 'the not-answering notice', (p) => /not answering/.test(p.alert), 30);
	ok('with veloxd stopped the page says the daemon is not answering', down !== null);
	ok('the notice carries the endpoint\'s reason (Object not found)', /Object not found/.test(down?.alert || ''), down?.alert);
	const restarted = spawn('env', [...env.WEB_VELOXD_ENV.split(' '), env.VX_BIN_VELOXD], { stdio: 'ignore', detached: false });
	const up = await waitFor(page, 'recovery', (p) => p.alert === '' && within(kbit(p.sel1.rx), expect[0][1], TOL), 60);
	ok('when veloxd is back the notice goes and live figures return', up !== null);
	restarted.unref();

	ok('no script errors on the page', pageErrors.length === 0, pageErrors.join('; '));
} finally {
	await browser.close();
}
console.log(`${pass} passed, ${fail} failed`);
process.exit(fail ? 1 : 0);
