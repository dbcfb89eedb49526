// The guide of a person's own line-up in Debian's chromium: a playlist with
// numbers and a logo, and a guide whose programmes start after midnight.
// Every channel has its row on every day, a day opens at its first
// programme (or at 18:00 when it is full from midnight) whatever time the
// last day showed, and the search finds titles on all seven days.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { Stack, sleep } = require('./stack.js');

const build = process.env.TEV_BUILD_DIR;
const shots = process.env.TEV_SCREENSHOTS || build;
const HOUR = 3600;
const PX_PER_MIN = 4;
const LONG = 'The Channel Whose Name Is Far Too Long For Its Cell';
// A 1x1 PNG.
const PNG = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==', 'base64');

function dayStart(offset) {
  const d = new Date();
  d.setHours(0, 0, 0, 0);
  d.setDate(d.getDate() + offset);
  return Math.floor(d.getTime() / 1000);
}

describe('the guide of a line-up of ones own', { timeout: 300000 }, () => {
  const stack = new Stack(build, process.env.TEV_SOURCE_DIR);
  let late;  // a day with programmes from 01:30 only
  let full;  // a film runs into it from the day before
  let morning;  // from midnight, but nothing in the evening
  let logos;
  let browser;
  let page;
  const errors = [];

  before(async () => {
    // The page's days are counted from today: not across a midnight.
    const toMidnight = dayStart(1) * 1000 - Date.now();
    if (toMidnight < 180000) await sleep(toMidnight + 1000);
    [late, full, morning] = [dayStart(2), dayStart(3), dayStart(4)];
    logos = http.createServer((req, res) => {
      if (req.url !== '/bars.png') { res.writeHead(404); res.end(); return; }
      res.writeHead(200, { 'Content-Type': 'image/png' });
      res.end(PNG);
    });
    await new Promise((resolve) => logos.listen(0, '127.0.0.1', resolve));
    const playlist = path.join(stack.dir, 'channels.m3u');
    fs.writeFileSync(playlist, [
      '#EXTM3U',
      `#EXTINF:-1 tvg-id="bars.tev" tvg-chno="2" tvg-logo="http://127.0.0.1:${logos.address().port}/bars.png",Colour Bars`,
      'http://127.0.0.1:9/bars',
      '#EXTINF:-1 tvg-id="testcard.tev" tvg-chno="5",Test Card',
      'http://127.0.0.1:9/card',
      '#EXTINF:-1 tvg-id="mandel.tev" tvg-chno="7.1",Mandelbrot',
      'http://127.0.0.1:9/mandel',
      `#EXTINF:-1 tvg-chno="12",${LONG}`,
      'http://127.0.0.1:9/long',
      '',
    ].join('\r\n'));
    await stack.start([
      { channel: 'bars.tev', title: 'Night Owl News', start: dayStart(0) + 300, seconds: 1200 },
      { channel: 'bars.tev', title: 'Night Owl News', start: late + 90 * 60, seconds: 1800 },
      { channel: 'mandel.tev', title: 'Small Hours Jazz', start: late + 2 * HOUR, seconds: 3600 },
      { channel: 'testcard.tev', title: 'Midnight Film', start: late + 23 * HOUR, seconds: 2 * HOUR },
      { channel: 'testcard.tev', title: 'Prime Time Drama', start: full + 18 * HOUR + 1800, seconds: 3600 },
      { channel: 'mandel.tev', title: 'Early Bird', start: morning, seconds: 3600 },
    ], { channels: playlist });
    browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--headless=new'] });
    page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 800 });
    page.on('pageerror', (e) => errors.push(e.message));
  });

  after(async () => {
    if (browser) await browser.close();
    await stack.stop();
    if (logos) logos.close();
  });

  const openDay = async (day) => {
    await page.click(`.days button[data-day="${day}"]`);
    await page.waitForSelector(`.days button.active[data-day="${day}"]`);
    await page.waitForSelector('#guide-grid[data-ready="true"]');
  };
  // Each drawn row's channel cell and the titles in view, top to bottom.
  const rows = () => page.$$eval('#guide-grid .grid-body > .row', (nodes) => {
    const grid = document.getElementById('guide-grid').getBoundingClientRect();
    return nodes.sort((a, b) => parseFloat(a.style.top) - parseFloat(b.style.top)).map((row) => ({
      channel: row.querySelector('.chan').textContent,
      title: row.querySelector('.chan').title,
      shown: [...row.querySelectorAll('.prog')].filter((p) => {
        const r = p.getBoundingClientRect();
        return r.right > grid.left + 160 && r.left < grid.right;
      }).map((p) => p.querySelector('.name').textContent),
    }));
  });
  const scrollLeft = () => page.$eval('#guide-grid', (g) => g.scrollLeft);

  it('opens a day that starts late at its first programme, with a row for every channel', async () => {
    await page.goto(`${stack.url}/#guide`, { waitUntil: 'domcontentloaded' });
    await page.waitForSelector('#guide-grid[data-ready="true"]');
    // The day before, scrolled far along: the next day does not keep that time.
    await openDay(1);
    await page.$eval('#guide-grid', (g) => { g.scrollLeft = 14 * 60 * 4; });
    await openDay(2);
    assert.strictEqual(await scrollLeft(), 90 * PX_PER_MIN);
    const shown = await rows();
    assert.deepStrictEqual(shown.map((r) => r.channel), ['2Colour Bars', '5Test Card', '7.1Mandelbrot', `12${LONG}`]);
    assert.deepStrictEqual(shown.map((r) => r.shown), [['Night Owl News'], [], ['Small Hours Jazz'], []]);
    assert.strictEqual(shown[3].title, `12 ${LONG}`);
    // The long name wraps inside its cell instead of being cut to one line.
    const lines = await page.$$eval('#guide-grid .grid-body .chan .cname', (names) =>
      names.map((n) => Math.round(n.getBoundingClientRect().height / parseFloat(getComputedStyle(n).lineHeight))));
    assert.strictEqual(lines[3], 2);
    // The logo came through tev-web.
    await page.waitForFunction(() => {
      const img = document.querySelector('#guide-grid .chan img.logo');
      return img && img.complete && img.naturalWidth === 1;
    }, { timeout: 10000 });
    assert.match(await page.$eval('#guide-grid .chan img.logo', (img) => img.getAttribute('src')), /^\/api\/channels\/[^/]+\/logo$/);
    await page.screenshot({ path: path.join(shots, 'web-guide-lineup.png') });
  });

  it('opens a day that is full from midnight at 18:00, one that is not at its start, and back again', async () => {
    await openDay(4);
    assert.strictEqual(await scrollLeft(), 0);
    assert.deepStrictEqual((await rows())[2].shown, ['Early Bird']);
    await openDay(3);
    assert.strictEqual(await scrollLeft(), 18 * 60 * PX_PER_MIN);
    let shown = await rows();
    assert.strictEqual(shown.length, 4);
    assert.deepStrictEqual(shown[1].shown, ['Prime Time Drama']);
    await openDay(2);
    assert.strictEqual(await scrollLeft(), 90 * PX_PER_MIN);
    shown = await rows();
    assert.deepStrictEqual(shown[0].shown, ['Night Owl News']);
  });

  it('finds a title on every day of the week, today\'s small hours too', async () => {
    await page.type('#guide-search', 'Night Owl News');
    await page.click('.search button[type="submit"]');
    await page.waitForSelector('#guide-results ul.results');
    const found = await page.$$eval('#guide-results li', (items) => items.map((li) => li.textContent));
    assert.strictEqual(found.length, 2, found.join('\n'));
    for (const item of found) assert.match(item, /Colour Bars · Night Owl News/);
    assert.deepStrictEqual(errors, []);
  });
});
