// Headless Debian Chromium for the page tests, with a throw-away profile.
import { mkdtempSync } from 'node:fs';
import puppeteer from 'puppeteer-core';

export function launchChromium() {
	return puppeteer.launch({
		executablePath: process.env.WEB_CHROMIUM || '/usr/bin/chromium',
		headless: true,
		userDataDir: mkdtempSync('/tmp/web-chromium-'),
		args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
			'--disable-background-networking', '--disable-component-update', '--disable-sync',
			'--disable-dev-shm-usage',
			// A page behind another tab would otherwise poll on the browser's
			// throttled timers, not on its own one-second tick.
			'--disable-background-timer-throttling', '--disable-renderer-backgrounding',
			'--disable-backgrounding-occluded-windows'],
	});
}
