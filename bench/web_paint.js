// Opens the Guide page of tev-web at URL in headless Chromium and prints
// "painted N" with the milliseconds from navigation to the grid drawn and
// painted (two animation frames after it is in the page).
'use strict';
const puppeteer = require('puppeteer-core');

(async () => {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--headless=new'],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1600, height: 1000 });
    const begin = Date.now();
    await page.goto(`${process.argv[2]}/#guide`, { waitUntil: 'domcontentloaded' });
    await page.waitForSelector('#guide-grid[data-ready="true"]', { timeout: 30000 });
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
    const painted = Date.now() - begin;
    const blocks = await page.$$eval('.prog', (nodes) => nodes.length);
    console.log(`painted ${painted} ms, ${blocks} programmes`);
  } finally {
    await browser.close();
  }
})().catch((e) => { console.log(`failed: ${e.message}`); process.exit(1); });
