// Opens the page at WEB_URL, gives it WEB_WAIT seconds and saves a PNG of it
// at WEB_OUT.
import { launchChromium } from './chromium.mjs';

const browser = await launchChromium();
const page = await browser.newPage();
await page.setViewport({ width: 1000, height: 900, deviceScaleFactor: 1 });
await page.goto(process.env.WEB_URL, { waitUntil: 'load' });
await new Promise((r) => setTimeout(r, Number(process.env.WEB_WAIT || 0) * 1000));
await page.screenshot({ path: process.env.WEB_OUT, fullPage: true });
await browser.close();
console.log(`saved ${process.env.WEB_OUT}`);
