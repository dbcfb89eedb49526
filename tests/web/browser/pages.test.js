// The page in Debian's chromium, driven by puppeteer-core, against the
// whole system: record from the guide and watch it in Upcoming, start and
// finish live, make and reorder series, delete a recording and its file,
// and titles full of markup shown as text. Saves a screenshot of each page
// into $TEV_SCREENSHOTS.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { Stack, waitFor } = require('./stack.js');

const build = process.env.TEV_BUILD_DIR;
const shots = process.env.TEV_SCREENSHOTS || build;
const MARKUP = `<script>window.injected = 1</script><img src=x onerror="window.injected = 2">`;
const now = Math.floor(Date.now() / 1000);
const later = (Math.floor(now / 1800) + 2) * 1800;  // a half hour well ahead
// Starts after the first cases have run; long enough to count as complete.
const soon = { channel: 'testcard.tev', title: 'Soon Show', start: now + 75, seconds: 25 };

describe('tev-web in a browser', { timeout: 600000 }, () => {
  const stack = new Stack(build, process.env.TEV_SOURCE_DIR);
  let browser;
  let page;
  const alerts = [];

  before(async () => {
    await stack.start([
      soon,
      { channel: 'testcard.tev', title: MARKUP, start: later, seconds: 1800 },
      { channel: 'bars.tev', title: 'Quiz Night', start: later, seconds: 1800 },
      { channel: 'mandel.tev', title: 'Fractal Hour', start: later + 3600, seconds: 1800 },
    ]);
    browser = await puppeteer.launch({
      executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--headless=new'],
    });
    page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 800 });
    page.on('dialog', async (dialog) => {
      if (dialog.type() === 'confirm') return dialog.accept();
      alerts.push(dialog.message());
      return dialog.dismiss();
    });
    page.on('pageerror', (e) => alerts.push(`page error: ${e.message}`));
  });

  after(async () => {
    if (browser) await browser.close();
    await stack.stop();
  });

  const shot = (name) => page.screenshot({ path: path.join(shots, `web-${name}.png`) });
  const open = async (name) => {
    await page.evaluate((hash) => { location.hash = hash; }, `#${name}`);
    await page.waitForSelector(`main[data-page="${name}"]`);
  };
  // Until no live update has been due for half a second.
  const settled = () => waitFor('the page settled', async () => {
    const state = () => page.evaluate(() => (document.documentElement.dataset.busy ? 'busy' : document.documentElement.dataset.drawn));
    const before = await state();
    if (before === 'busy') return false;
    await new Promise((resolve) => setTimeout(resolve, 500));
    return (await state()) === before;
  }, 20);
  const textOf = (selector) => page.$eval(selector, (node) => node.textContent);
  // Clicks what `find` returns; a list redrawn by a live update between the
  // finding and the click is searched again.
  const clickFresh = async (find) => {
    for (let attempt = 1; ; attempt++) {
      const node = await find();
      try {
        await node.click();
        return node;
      } catch (e) {
        if (attempt >= 5 || !/detached/i.test(String(e.message))) throw e;
      }
    }
  };
  // The guide on the day of `seconds`.
  const openGuideAt = async (seconds) => {
    await open('guide');
    const midnight = (t) => new Date(t * 1000).setHours(0, 0, 0, 0);
    const day = Math.round((midnight(seconds) - midnight(Date.now() / 1000)) / 86400000);
    await page.waitForSelector('#guide-grid[data-ready="true"]');
    if (day !== 0) {
      await page.click(`.days button[data-day="${day}"]`);
      await page.waitForSelector(`.days button.active[data-day="${day}"]`);
      await page.waitForSelector('#guide-grid[data-ready="true"]');
    }
  };

  it('keeps the settings and shows the free space', async () => {
    await page.goto(`${stack.url}/#settings`, { waitUntil: 'domcontentloaded' });
    await page.waitForSelector('form.settings input[name="padding"]');
    await page.$eval('input[name="padding"]', (input) => { input.value = ''; });
    await page.type('input[name="padding"]', '0');
    await page.click('form.settings button[type="submit"]');
    await waitFor('padding saved', async () => (await stack.get('/api/settings')).padding === 0, 10);
    assert.match(await textOf('.volume'), /free of/);
    await shot('settings');
  });

  it('records a programme from the guide and lists it in Upcoming', async () => {
    await openGuideAt(soon.start);
    await page.waitForSelector('xpath/.//button[contains(@class,"prog")][.//span[text()="Soon Show"]]');
    await shot('guide');
    await clickFresh(() => page.waitForSelector('xpath/.//button[contains(@class,"prog")][.//span[text()="Soon Show"]]'));
    await page.waitForSelector('dialog[open] #record');
    await page.click('dialog[open] #record');
    await waitFor('scheduled', async () => (await stack.get('/api/upcoming')).items.some((m) => m.title === 'Soon Show'), 10);
    await open('upcoming');
    await page.waitForSelector('xpath/.//tr[.//span[@class="name"][text()="Soon Show"]]');
  });

  it('shows a title full of markup as text', async () => {
    await openGuideAt(later);
    await clickFresh(() => page.waitForFunction((title) => [...document.querySelectorAll('.prog .name')]
      .find((node) => node.textContent === title), {}, MARKUP));
    await page.waitForSelector('dialog[open] #record');
    assert.strictEqual(await textOf('dialog[open] h2'), MARKUP);
    await page.click('dialog[open] #record');
    await open('upcoming');
    await page.waitForFunction((title) => [...document.querySelectorAll('td.title .name')]
      .some((node) => node.textContent === title), {}, MARKUP);
    assert.strictEqual(await page.evaluate(() => window.injected), undefined, 'no markup ran');
    assert.strictEqual(await page.$$eval('main script, main img', (nodes) => nodes.length), 0);
    assert.deepStrictEqual(alerts, []);
  });

  it('sees the recording start and finish live, with its thumbnail', async () => {
    await open('upcoming');
    await page.evaluate(() => { window.sameDocument = true; });
    await page.waitForSelector('xpath/.//tr[@data-state="recording"][.//span[text()="Soon Show"]]', { timeout: 120000 });
    await shot('upcoming');
    await open('recordings');
    await page.waitForSelector('xpath/.//article[@data-state="complete"][.//h3[text()="Soon Show"]]', { timeout: 120000 });
    await page.waitForFunction(() => {
      const img = document.querySelector('article[data-state="complete"] img.thumb');
      return img && img.complete && img.naturalWidth > 0;
    }, { timeout: 60000 });
    assert.strictEqual(await page.evaluate(() => window.sameDocument), true, 'the page was never reloaded');
    await shot('recordings');
  });

  it('makes two series and reorders them', async () => {
    for (const [title, start] of [['Quiz Night', later], ['Fractal Hour', later + 3600]]) {
      await openGuideAt(start);
      await clickFresh(() => page.waitForSelector(`xpath/.//button[contains(@class,"prog")][.//span[text()="${title}"]]`));
      await page.waitForSelector('dialog[open] #record-series');
      await page.click('dialog[open] #record-series');
      await waitFor(`series ${title}`, async () => (await stack.get('/api/passes')).items.some((p) => p.title === title), 10);
    }
    await open('series');
    const order = () => page.$$eval('#series-list > li.pass .head .name', (nodes) => nodes.map((n) => n.textContent));
    await waitFor('both series listed', async () => (await order()).length === 2, 10);
    assert.deepStrictEqual(await order(), ['Quiz Night', 'Fractal Hour']);
    await page.waitForSelector('xpath/.//li[contains(@class,"pass")][.//span[@class="name"][text()="Quiz Night"]]//ul[@class="episodes"]/li');
    await clickFresh(() => page.waitForSelector('#series-list > li.pass:nth-child(2) button.up'));
    await waitFor('reordered', async () => JSON.stringify(await order()) === JSON.stringify(['Fractal Hour', 'Quiz Night']), 10);
    await settled();
    await shot('series');

    // Dragged with the mouse: Quiz Night back onto the first place. Headless
    // Chromium starts no drag of its own from mouse events; with the drag
    // intercepted the browser sends the page its dragenter, dragover and
    // drop events.
    const centre = async (selector) => {
      const b = await (await page.waitForSelector(selector)).boundingBox();
      return { x: b.x + b.width / 2, y: b.y + b.height / 2 };
    };
    await page.setDragInterception(true);
    await page.mouse.dragAndDrop(await centre('#series-list > li.pass:nth-child(2) .head .name'),
      await centre('#series-list > li.pass:nth-child(1) .head .name'), { delay: 50 });
    await page.setDragInterception(false);
    const kept = async () => (await stack.get('/api/passes')).items.map((p) => p.title);
    await waitFor('the module moved it', async () => JSON.stringify(await kept()) === JSON.stringify(['Quiz Night', 'Fractal Hour']), 10);
    await waitFor('shown moved', async () => JSON.stringify(await order()) === JSON.stringify(['Quiz Night', 'Fractal Hour']), 10);
  });

  it('shows the resume position the recorder keeps and sets it', async () => {
    await open('recordings');
    const card = 'article[data-state="complete"]';
    const kept = (text) => page.waitForFunction((sel, want) => document.querySelector(`${sel} .resume .kept`)?.textContent === want,
      {}, card, text);
    await kept('Plays from the start');
    await page.$eval(`${card} .resume input`, (input) => { input.value = ''; });
    await page.type(`${card} .resume input`, '754');
    await page.click(`${card} .resume button[type="submit"]`);
    const id = await page.$eval(card, (node) => node.dataset.id);
    await waitFor('position kept', async () => (await stack.get(`/api/media/${encodeURIComponent(id)}/info`)).PlayPosition === '754', 10);
    await kept('Resumes at 12 min 34 s');
    assert.strictEqual(await page.$eval(`${card} .resume input`, (input) => input.value), '754');
  });

  it('deletes a recording and its file', async () => {
    await open('recordings');
    const before = fs.readdirSync(stack.recordingFolder());
    assert.ok(before.some((name) => name.startsWith('Soon Show') && name.endsWith('.asf')), before.join(', '));
    await page.click('article[data-state="complete"] button.delete');
    await page.waitForFunction(() => !document.querySelector('article[data-state="complete"]'), { timeout: 20000 });
    await waitFor('file gone', () => !fs.readdirSync(stack.recordingFolder()).some((name) => name.startsWith('Soon Show')), 10);
    assert.deepStrictEqual(alerts, []);
  });
});
