// The status page in a real browser (headless chromium over the DevTools
// protocol) against the sandbox's veloxd carrying generated traffic.
// Environment: WEB_URL, WEB_EXPECT (JSON: slot -> [tx, rx] in kbit/s),
// VX_BIN_UBUS, VX_SOCK, VX_VELOXD_PID, VX_BIN_VELOXD, WEB_VELOXD_ENV,
// optionally WEB_SCREENSHOT (a path) and WEB_SCREENSHOT_WAIT (seconds).
import { execFileSync, spawn } from 'node:child_process';
import { launchChromium } from './chromium.mjs';
import { ok, eq, sleep, waitUntil, done } from './tap.mjs';

const env = process.env;
const expect = JSON.parse(env.WEB_EXPECT);
const TOL = 5;

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
	return JSON.parse(execFileSync(env.VX_BIN_UBUS, ['-s', env.VX_SOCK, ...args], { encoding: 'utf8' }) || '{}');
}

// Everything the checks read from the page in one go.
function readPage(page) {
	return page.evaluate(() => {
		const q = (s) => document.querySelector(s);
		const sel = (n) => {
			const line = q(`#vx-sel${n} polyline.line-rx`), choose = q(`#vx-sel${n} .vx-choose`);
			return {
				tx: q(`#vx-sel${n} .vx-speeds .vx-tx`)?.textContent,
				rx: q(`#vx-sel${n} .vx-speeds .vx-rx`)?.textContent,
				choice: choose?.value,
				disabled: choose?.disabled,
				result: q(`#vx-sel${n} .vx-result`)?.textContent,
				resultError: q(`#vx-sel${n} .vx-result`)?.classList.contains('error'),
				samples: Number(line?.getAttribute('data-samples') || 0),
				points: (line?.getAttribute('points') || '').split(' ').filter(Boolean).length,
				ylabels: [...document.querySelectorAll(`#vx-sel${n} svg.vx-graph .ylabel`)].map((t) => t.textContent),
				dayEmpty: q(`#vx-sel${n} svg.vx-day text.empty`)?.textContent,
				daySamples: Number(q(`#vx-sel${n} svg.vx-day polyline.line-rx`)?.getAttribute('data-samples') || 0),
				dayPoints: (q(`#vx-sel${n} svg.vx-day polyline.line-rx`)?.getAttribute('points') || '').split(' ').filter(Boolean).length,
				bars: [...document.querySelectorAll(`#vx-sel${n} svg.vx-hours rect.bar-rx`)].map((r) => Number(r.dataset.bytes)),
				dayNote: q(`#vx-sel${n} .vx-day-note`)?.textContent,
			};
		};
		const rows = {};
		for (const tr of document.querySelectorAll('#vx-slots tr[data-slot]'))
			rows[tr.dataset.slot] = { tx: tr.querySelector('.vx-tx').textContent, rx: tr.querySelector('.vx-rx').textContent,
				totals: [...tr.querySelectorAll('.vx-totals')].map((td) => td.textContent) };
		const alert = q('#vx-alert');
		return { sel1: sel(1), sel2: sel(2), rows, mode: q('#vx-mode')?.textContent,
			alert: alert && alert.style.display !== 'none' ? alert.textContent : '', readonly: q('#vx-readonly')?.textContent || null };
	});
}

const waitFor = (page, what, pred, seconds) => waitUntil(what, () => readPage(page), pred, seconds);

// Five readings, one a refresh of the page; the middle one decides, so a
// sample that caught a generator's late tick does not. refreshes() counts
// the polls sent: one sent after another has been answered, since a poll
// never overlaps the one before.
async function medianReadings(page, pick, refreshes) {
	const seen = [];
	for (let i = 0; i < 5; i++) {
		if (i) {
			const at = refreshes();
			await waitUntil('the next refresh', async () => refreshes(), (n) => n >= at + 2, 30);
		}
		seen.push(pick(await readPage(page)));
	}
	return seen[0].map((_, k) => seen.map((s) => s[k]).sort((a, b) => a - b)[2]);
}

// How the page fits its window: overflow, the table in its card, graphs as
// wide as their cards, labels of the narrow table layout, the dropdowns.
function layout(page) {
	return page.evaluate(() => {
		const inner = (el) => {
			const cs = getComputedStyle(el), r = el.getBoundingClientRect();
			return { left: r.left + parseFloat(cs.paddingLeft) + parseFloat(cs.borderLeftWidth),
				right: r.right - parseFloat(cs.paddingRight) - parseFloat(cs.borderRightWidth) };
		};
		const table = document.querySelector('#vx-slots'), card = table.closest('.cbi-section');
		const graphs = [...document.querySelectorAll('.vx svg.vx-graph, .vx svg.vx-day')].map((g) => {
			const c = inner(g.closest('.cbi-section')), r = g.getBoundingClientRect();
			return r.left - c.left <= 1 && c.right - r.right <= 1;
		});
		const ctx = document.createElement('canvas').getContext('2d');
		const cut = [...document.querySelectorAll('.vx-choose')].filter((s) => {
			const cs = getComputedStyle(s);
			ctx.font = `${cs.fontSize} ${cs.fontFamily}`;
			const need = Math.max(...[...s.options].map((o) => ctx.measureText(o.text).width)) +
				parseFloat(cs.paddingLeft) + parseFloat(cs.paddingRight) + 16;
			return s.getBoundingClientRect().width < need;
		}).length;
		const td = table.querySelector('tr[data-slot] td.vx-tx');
		return {
			pageFits: document.documentElement.scrollWidth <= window.innerWidth,
			tableInCard: table.getBoundingClientRect().right <= inner(card).right + 1 && card.scrollWidth <= card.clientWidth,
			graphsFill: graphs.length === 4 && graphs.every(Boolean),
			graphWidth: Math.round(document.querySelector('.vx svg.vx-graph').getBoundingClientRect().width),
			titlesShown: getComputedStyle(table.querySelector('tr.table-titles')).display !== 'none',
			cellLabel: td ? getComputedStyle(td, '::before').content : null,
			cut,
		};
	});
}

const browser = await launchChromium();

try {
	const page = await browser.newPage();
	await page.setViewport({ width: 1100, height: 1250 });
	const pageErrors = [];
	page.on('pageerror', (e) => pageErrors.push(e.message));
	const posts = [];
	page.on('request', (r) => {
		if (r.method() === 'POST' && new URL(r.url()).pathname === '/ubus/')
			posts.push(r.postData());
	});
	const pollCount = () => posts.filter((b) => b?.includes('"get_throughput"')).length;

	// veloxd has run a while before the page opens: its graphs are full at once.
	// Polls add a point each, so points beyond the polls made (less the one
	// in flight at either end of a reading) came from the history.
	const kept = await waitUntil('veloxd\'s history of slot 0', async () => {
		try {
			return ubus('call', 'veloxd.history', 'get_history', '{"interface1": 0}').rx_speed?.length || 0;
		} catch {
			return 0;	/* not on the bus yet */
		}
	}, (n) => n >= 12, 150);
	await page.goto(env.WEB_URL, { waitUntil: 'load' });

	const first = await waitFor(page, 'the first figures', (p) =>
		!Number.isNaN(kbit(p.sel1.rx)) && Object.keys(p.rows).length === 5 && p.sel1.samples >= 1, 60);
	const polled = pollCount();
	ok('page shows both selections and the five slots of mode ap', first !== null);
	ok(`opened after veloxd ran ${kept} s, the graph has that many points at once (${first?.sel1.samples} points after ${polled} polls)`,
		kept && first && first.sel1.samples >= kept && first.sel1.points === first.sel1.samples &&
		first.sel1.samples - polled >= kept - 3);
	ok('… both selections', first && first.sel2.samples - polled >= kept - 3, first?.sel2);
	ok('the day graph says the first 5-minute average is still to come', /^No 5-minute averages yet/.test(first?.sel1.dayEmpty || ''),
		first?.sel1);
	ok('wireless mode is shown as access point', /Access point/.test(first?.mode || ''), first?.mode);
	ok('a login with write access gets enabled controls and no read-only note',
		first && !first.sel1.disabled && !first.sel2.disabled && first.readonly === null);

	// The selections at their defaults: slot 0 and slot 3.
	const [s1tx, s1rx, s2tx, s2rx] = await medianReadings(page, (p) =>
		[kbit(p.sel1.tx), kbit(p.sel1.rx), kbit(p.sel2.tx), kbit(p.sel2.rx)], pollCount);
	ok(`selection 1 (slot 0) receive ${s1rx} ~ ${expect[0][1]} kbit/s`, within(s1rx, expect[0][1], TOL));
	ok(`selection 1 (slot 0) transmit ${s1tx} ~ ${expect[0][0]} kbit/s`, within(s1tx, expect[0][0], TOL));
	ok(`selection 2 (slot 3) receive ${s2rx} ~ ${expect[3][1]} kbit/s`, within(s2rx, expect[3][1], TOL));
	ok(`selection 2 (slot 3) transmit ${s2tx} ~ ${expect[3][0]} kbit/s`, within(s2tx, expect[3][0], TOL));

	const slots = Object.keys(expect);
	const table = await medianReadings(page, (p) =>
		slots.flatMap((s) => [kbit(p.rows[s]?.tx), kbit(p.rows[s]?.rx)]), pollCount);
	slots.forEach((s, i) => {
		ok(`table slot ${s} transmit ${table[2 * i]} ~ ${expect[s][0]} kbit/s`, within(table[2 * i], expect[s][0], TOL));
		ok(`table slot ${s} receive ${table[2 * i + 1]} ~ ${expect[s][1]} kbit/s`, within(table[2 * i + 1], expect[s][1], TOL));
	});
	const cur = await readPage(page);
	ok('the wired total shows that it carries speeds only, no totals',
		cur.rows[2]?.totals.length === 1 && /speeds only/.test(cur.rows[2].totals[0]) && !/\d B\b/.test(cur.rows[2].totals[0]),
		cur.rows[2]);
	ok('the other slots show bytes and packets', /\d+(\.\d\d)? (B|KiB|MiB|GiB) \(\d+ packets?\)/.test(cur.rows[0]?.totals[1]),
		cur.rows[0]);
	eq('the table is LuCI\'s: table.table, a tr.table-titles of th.th, rows tr.tr of td.td in alternating row styles, ' +
		'every figure cell titled', await page.evaluate(() => {
		const t = document.querySelector('#vx-slots');
		return [ t.matches('table.table'), t.rows[0].matches('tr.tr.table-titles') && [...t.rows[0].cells].every((c) => c.matches('th.th')),
			[...t.querySelectorAll('tr[data-slot]')].map((r) => r.matches('tr.tr.cbi-rowstyle-' + (r.rowIndex % 2 ? 1 : 2)) &&
				[...r.cells].every((c) => c.matches('td.td')) && [...r.cells].slice(1).every((c) => c.dataset.title)) ];
	}), [ true, true, [ true, true, true, true, true ] ]);

	const before = (await readPage(page)).sel1;
	const grown = await waitFor(page, 'the graph to gain points', (p) => p.sel1.samples >= Math.min(before.samples + 2, 180), 30);
	ok('the graph gains a point each poll, one per sample', grown && grown.sel1.points === grown.sel1.samples, grown?.sel1);

	// One HTTP request per poll: each carries the poll's every call, once.
	const mark = posts.length;
	await waitUntil('six polls', async () => posts.length - mark, (n) => n >= 6, 60);
	const polls = posts.slice(mark, mark + 6).map((b) => JSON.parse(b || 'null'));
	const per = polls.map((b) => Array.isArray(b) ? b.map((c) => c.params?.[2]) : b);
	ok('one HTTP request per poll, carrying all of its calls (list, selections, speeds, a port info per slot)',
		polls.length === 6 && per.every((m) => Array.isArray(m) && m.filter((x) => x === 'get_throughput').length === 1 &&
			m.filter((x) => x === 'get_interface_list').length === 1 && m.filter((x) => x === 'get_lan_port_info').length === 5),
		per);

	// Move selection 1 to slot 1 with the page's control.
	await page.select('#vx-sel1 .vx-choose', '1');
	const moved = await waitFor(page, 'selection 1 on slot 1', (p) =>
		/Now showing/.test(p.sel1.result) && within(kbit(p.sel1.tx), expect[1][0], TOL), 30);
	ok('changing selection 1 to slot 1 moves its figures to slot 1\'s transmit speed', moved !== null);
	const since = pollCount();
	const full = await waitFor(page, 'slot 1\'s last minutes', (p) => p.sel1.samples >= kept, 30);
	ok('… and its graph shows slot 1\'s last minutes at once', full && full.sel1.samples - (pollCount() - since) >= kept - 3,
		full?.sel1.samples);
	const disp = ubus('call', 'veloxd', 'get_display_interface');
	ok('ubus get_display_interface agrees (interface1 = 1, interface2 = 3)',
		disp.interface1 === 1 && disp.interface2 === 3, JSON.stringify(disp));

	// A spare slot carries nothing: the axis still reads sensibly.
	ubus('call', 'veloxd', 'set_display_interface', '{"interface2": 4}');
	const spare = await waitFor(page, 'selection 2 on the spare slot', (p) => p.sel2.choice === '4' && p.sel2.samples >= 1, 30);
	eq('an all-zero graph labels its axis 0, 0.5, 1 kbit/s', spare?.sel2.ylabels, [ '0', '0.5 kbit/s', '1 kbit/s' ]);
	ubus('call', 'veloxd', 'set_display_interface', '{"interface2": 3}');
	await waitFor(page, 'selection 2 back on slot 3', (p) => p.sel2.choice === '3', 30);

	// From a wide screen down to a phone.
	for (const [w, h] of [[1600, 1000], [390, 844], [360, 740]]) {
		await page.setViewport({ width: w, height: h });
		const l = await waitUntil(`the layout at ${w} px`, () => layout(page), (l) => l.graphsFill, 30);
		ok(`${w} px: nothing runs out of the page or its card; graphs as wide as their cards; no dropdown cuts its labels`,
			l && l.pageFits && l.tableInCard && l.graphsFill && l.cut === 0, l);
		if (w > 760)
			ok(`${w} px: the graphs go beyond 760 px (${l?.graphWidth} px)`, l?.graphWidth > 760);
		else
			ok(`${w} px: the table becomes labelled cells, its title row hidden`, l && !l.titlesShown && l.cellLabel === '"Transmit"', l);
	}
	await page.setViewport({ width: 1100, height: 1250 });

	if (env.WEB_SCREENSHOT) {
		await sleep(Number(env.WEB_SCREENSHOT_WAIT || 0) * 1000);
		await page.screenshot({ path: env.WEB_SCREENSHOT, fullPage: true });
		console.log(`# screenshot: ${env.WEB_SCREENSHOT}`);
	}

	// A day takes a day to gather: the day graphs drawn from a made-up full
	// day in the reply's form, with amounts for selection 1 (slot 1), of
	// speeds only for selection 2 (slot 3).
	{
		const day = await browser.newPage();
		await day.setViewport({ width: 1100, height: 1250 });
		const rxBytes = Array.from({ length: 288 }, (_, i) => 1000000 + 1000 * i);
		await day.setRequestInterception(true);
		day.on('request', async (r) => {
			const body = r.postData();
			if (r.method() !== 'POST' || !body?.includes('"day"'))
				return r.continue();
			const calls = JSON.parse(body);
			const replies = await (await fetch(r.url(), { method: 'POST', body })).json();
			calls.forEach((c, i) => {
				const a = c.params?.[3];
				if (c.params?.[2] !== 'get_history' || a.range !== 'day')
					return;
				const made = { interface1: a.interface1, range: 'day', interval: 300, age: 47,
					tx_speed: rxBytes.map(() => '10.00'), rx_speed: rxBytes.map((b) => (b * 8 / 1024 / 300).toFixed(2)) };
				if (a.interface1 !== 3)
					Object.assign(made, { tx_bytes: rxBytes.map(() => '384000'), rx_bytes: rxBytes.map(String) });
				replies[i] = { jsonrpc: '2.0', id: c.id, result: [ 0, made ] };
			});
			r.respond({ status: 200, contentType: 'application/json', body: JSON.stringify(replies) });
		});
		await day.goto(env.WEB_URL, { waitUntil: 'load' });
		const d = await waitFor(day, 'the day graphs', (p) => p.sel1.daySamples > 0 && p.sel2.daySamples > 0, 30);
		const sum = rxBytes.reduce((a, b) => a + b, 0);
		ok('a full day: 288 five-minute averages, one point each', d && d.sel1.daySamples === 288 && d.sel1.dayPoints === 288, d?.sel1);
		ok(`… the amount received in each clock hour, summed to the byte (${sum} B in ${d?.sel1.bars.length} bars)`,
			d && d.sel1.bars.length >= 24 && d.sel1.bars.length <= 25 && d.sel1.bars.reduce((a, b) => a + b, 0) === sum, d?.sel1.bars);
		ok('… and in words', /received 314\.07 MiB, sent 105\.47 MiB in the last 2[45] hours/.test(d?.sel1.dayNote || ''), d?.sel1.dayNote);
		ok('a slot of speeds only gets the averages, no amounts, and says so',
			d && d.sel2.daySamples === 288 && d.sel2.bars.length === 0 && /^Speeds only/.test(d.sel2.dayNote), d?.sel2);
		await day.close();
		await page.bringToFront();
	}

	// A login without the page's write grant.
	const viewer = await browser.newPage();
	const viewerErrors = [];
	viewer.on('pageerror', (e) => viewerErrors.push(e.message));
	await viewer.goto(`${env.WEB_URL}?user=viewer`, { waitUntil: 'load' });
	const vfirst = await waitFor(viewer, 'the read-only page', (p) => p.sel2.choice === '3', 30);
	ok('a read-only login sees the figures, its controls disabled and a note, before any click',
		vfirst && vfirst.sel1.disabled && vfirst.sel2.disabled && /not change the selections/.test(vfirst.readonly || ''), vfirst);
	// A control that is enabled anyway (an old page, a browser's tools) meets the denial.
	await viewer.evaluate(() => { document.querySelector('#vx-sel2 .vx-choose').disabled = false; });
	await viewer.select('#vx-sel2 .vx-choose', '0');
	const denied = await waitFor(viewer, 'the denial', (p) => p.sel2.resultError, 30);
	eq('… and is told access was denied, in one short line', denied?.sel2.result,
		'Access denied: this login may not change the selection.');
	const disp2 = ubus('call', 'veloxd', 'get_display_interface');
	ok('the denied change did not happen', disp2.interface2 === 3, JSON.stringify(disp2));
	const back = await waitFor(viewer, 'the control back on slot 3', (p) => p.sel2.choice === '3', 30);
	ok('the denied control shows the selection in force again', back !== null);
	ok('no script errors on the read-only page', viewerErrors.length === 0, viewerErrors.join('; '));
	await viewer.close();
	await page.bringToFront();

	// veloxd goes away and comes back.
	process.kill(Number(env.VX_VELOXD_PID), 'SIGTERM');
	const down = await waitFor(page, 'the not-answering notice', (p) => /not answering/.test(p.alert), 30);
	ok('with veloxd stopped the page says the daemon is not answering, and why, in one line',
		down && /\(veloxd is not on the bus\)/.test(down.alert) && !/\n|RPC call| at /.test(down.alert), down?.alert);
	ok('… and the mode line says the figures are unavailable', down && /unavailable/.test(down.mode) && !/Not supported/.test(down.mode),
		down?.mode);
	const restarted = spawn('env', [...env.WEB_VELOXD_ENV.split(' '), env.VX_BIN_VELOXD], { stdio: 'ignore', detached: false });
	const up = await waitFor(page, 'recovery', (p) => p.alert === '' && within(kbit(p.sel1.rx), expect[0][1], TOL) &&
		/Access point/.test(p.mode), 30);
	ok('when veloxd is back the notice goes and live figures return', up !== null);
	restarted.unref();

	ok('no script errors on the page', pageErrors.length === 0, pageErrors.join('; '));
} finally {
	await browser.close();
}
done();
