// TAP lines for the web tests, and waiting for a condition with a deadline.
let pass = 0, fail = 0;

export function ok(name, cond, detail) {
	if (cond) {
		pass++;
		console.log(`ok - ${name}`);
		return true;
	}
	fail++;
	console.log(`not ok - ${name}`);
	if (detail !== undefined)
		console.log(`#   ${typeof detail === 'string' ? detail : JSON.stringify(detail)}`);
	return false;
}

export const eq = (name, got, want) =>
	ok(name, JSON.stringify(got) === JSON.stringify(want), `expected ${JSON.stringify(want)}\n#   got      ${JSON.stringify(got)}`);

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Polls read() every 100 ms until pred holds or the deadline passes; the last
// reading either way, and null on a deadline.
export async function waitUntil(what, read, pred, seconds) {
	const end = Date.now() + seconds * 1000;
	let last;
	do {
		last = await read();
		if (pred(last))
			return last;
		await sleep(100);
	} while (Date.now() < end);
	console.log(`#   waiting for ${what} gave up; last: ${JSON.stringify(last)}`);
	return null;
}

export function done() {
	console.log(`${pass} passed, ${fail} failed`);
	process.exit(fail ? 1 : 0);
}
