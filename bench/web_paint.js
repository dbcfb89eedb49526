// Opens the Guide page of tev-web at URL in headless Chromium, RUNS times
// in a new tab each, and prints per run "painted N ms" from navigation to
// the grid drawn and painted (two animation frames after it is in the
// page), then checks what the viewer sees: points spread over every row
// and the hours in view must each land on a programme with its title.
// Prints "blank K of M" when some do not. In the last tab, then opens the
// day four days on from its tab and prints "another day N ms".
'use strict';
const puppeteer = require('puppeteer-core');

const seen = () => {
  const grid = document.getElementById('guide-grid');
  const box = grid.getBoundingClientRect();
  const chan = parseFloat(getComputedStyle(document.documentElement).getPropertyValue('--chan'));
  const head = grid.querySelector('.row.head').getBoundingClientRect().height;
  let points = 0, blank = 0;
  for (let y = box.top + head + 23; y < box.bottom - 20; y += 46) {
    for (let x = box.left + chan + 40; x < box.right - 20; x += 97) {
      points++;
      // Blocks are 2 px apart: a point in such a gap is tried 3 px on.
      const on = (px) => document.elementFromPoint(px, y)?.closest('.prog')?.querySelector('.name')?.textContent;
      if (!on(x) && !on(x + 3)) blank++;
    }
  }
  return { points, blank, blocks: grid.querySelectorAll('.prog').length };
};

(async () => {
  const runs = Number(process.argv[3] || 1);
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--headless=new'],
  });
  try {
    for (let run = 0; run < runs; run++) {
      const page = await browser.newPage();
      await page.setViewport({ width: 1600, height: 1000 });
      const begin = Date.now();
      await page.goto(`${process.argv[2]}/#guide`, { waitUntil: 'domcontentloaded' });
      await page.waitForSelector('#guide-grid[data-ready="true"]', { timeout: 30000 });
      await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
      const painted = Date.now() - begin;
      const view = await page.evaluate(seen);
      console.log(`painted ${painted} ms, ${view.blocks} programme blocks in the page, ${view.points - view.blank} of ${view.points} points in view on a programme`);
      if (view.blank) console.log(`blank ${view.blank} of ${view.points}`);
      if (run === runs - 1) {
        // Another day from its tab: asked for and drawn while the page is open.
        const tab = Date.now();
        await page.click('.days button[data-day="4"]');
        await page.waitForSelector('.days button.active[data-day="4"]');
        await page.waitForSelector('#guide-grid[data-ready="true"]', { timeout: 30000 });
        await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
        const other = await page.evaluate(seen);
        console.log(`another day ${Date.now() - tab} ms, ${other.points - other.blank} of ${other.points} points in view on a programme`);
      }
      await page.close();
    }
  } finally {
    await browser.close();
  }
})().catch((e) => { console.log(`failed: ${e.message}`); process.exit(1); });
