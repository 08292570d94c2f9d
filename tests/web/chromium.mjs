// Headless Debian Chromium for the page tests, with a throw-away profile
// that goes with the browser.
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import puppeteer from 'puppeteer-core';

export async function launchChromium() {
	const profile = mkdtempSync(join(tmpdir(), 'web-chromium-'));
	const browser = await puppeteer.launch({
		executablePath: process.env.WEB_CHROMIUM || '/usr/bin/chromium',
		headless: true,
		userDataDir: profile,
		args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
			'--disable-background-networking', '--disable-component-update', '--disable-sync',
			'--disable-dev-shm-usage',
			// A page behind another tab would otherwise poll on the browser's
			// throttled timers, not on its own one-second tick.
			'--disable-background-timer-throttling', '--disable-renderer-backgrounding',
			'--disable-backgrounding-occluded-windows'],
	});
	// Removed once the browser has ended, or when the test ends without closing it.
	const remove = () => {
		try {
			rmSync(profile, { recursive: true, force: true, maxRetries: 10 });
		} catch {
			/* a browser still writing it; the exit hook tries again */
		}
	};
	const close = browser.close.bind(browser);
	browser.close = async () => {
		await close();
		remove();
	};
	process.on('exit', remove);
	return browser;
}
