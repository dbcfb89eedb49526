// Schedules that will not be recorded, in Chromium against the whole
// system: a series placed first takes both tuners from two schedules, and
// Upcoming and Series name what clashes and show the library's reason in
// words, hostile text as text.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert');
const puppeteer = require('puppeteer-core');
const { Stack, waitFor } = require('./stack.js');

const build = process.env.TEV_BUILD_DIR;
const now = Math.floor(Date.now() / 1000);
const later = (Math.floor(now / 1800) + 3) * 1800;
const BETA = 'Beta "Night" <i>live</i>';
const REASON = 'not recorded: Series Show (priority 1) and "Beta" <b>use</b> both tuners 📺 <img src=x onerror="window.injected = 1">';
const programmes = [
  { channel: 'bars.tev', name: 'Colour Bars', channelId: 'ch-bars', title: 'Alpha' },
  { channel: 'mandel.tev', name: 'Mandelbrot', channelId: 'ch-mandel', title: BETA },
  { channel: 'testcard.tev', name: 'Test Card', channelId: 'ch-testcard', title: 'Series Show' },
];

describe('schedules that will not be recorded, in a browser', { timeout: 600000 }, () => {
  const stack = new Stack(build, process.env.TEV_SOURCE_DIR);
  let browser;
  let page;
  const ids = {};
  const errors = [];

  before(async () => {
    await stack.start(programmes.map((p) => ({ channel: p.channel, title: p.title, start: later, seconds: 1800 })));
    const body = (p) => ({ channel: p.name, channelId: p.channelId, title: p.title, start: later, duration: 1800 });
    ids.alpha = (await stack.send('POST', '/api/schedules', body(programmes[0]))).id;
    ids.beta = (await stack.send('POST', '/api/schedules', body(programmes[1]))).id;
    const pass = await stack.send('POST', '/api/passes', { ...body(programmes[2]), priority: 1 });
    await waitFor('the series took both tuners', async () => {
      const items = (await stack.get('/api/upcoming')).items;
      ids.episode = (items.find((m) => m.passId === pass.id) || {}).id;
      return ids.episode && items.filter((m) => m.state === 'skip' && m.conflicts.length).length === 2;
    }, 30);
    browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--headless=new'] });
    page = await browser.newPage();
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(`${stack.url}/#upcoming`, { waitUntil: 'domcontentloaded' });
  });

  after(async () => {
    if (browser) await browser.close();
    await stack.stop();
  });

  const open = async (name) => {
    await page.evaluate((hash) => { location.hash = hash; }, `#${name}`);
    await page.waitForSelector(`main[data-page="${name}"]`);
  };
  const item = async (id) => (await stack.get('/api/upcoming')).items.find((m) => m.id === id);
  // The visible text of the note under `selector`, once it is drawn.
  const noteOf = async (selector) => {
    await page.waitForSelector(selector);
    return page.$eval(selector, (node) => node.innerText);
  };
  const setReason = (id, text) => stack.velctl('TevMediaV2', 'SetMediumAttributes',
    JSON.stringify(['', [id], [['conflictReason', text]], true]));

  it('names the schedules a row clashes with', async () => {
    await open('upcoming');
    for (const id of [ids.episode, ids.alpha]) {
      const note = await noteOf(`tr[data-id="${id}"] td.title .conflict`);
      const clashes = (await item(id)).conflicts;
      assert.ok(clashes.length > 0, id);
      assert.strictEqual(note, `Clashes with ${clashes.map((c) => `${c.title} on ${c.channel}`).join(', ')}`);
    }
    const row = await page.$eval(`tr[data-id="${ids.episode}"]`, (node) => node.innerText);
    assert.match(row, /Alpha on Colour Bars/);
    assert.ok(row.includes(`${BETA} on Mandelbrot`), row);
    assert.doesNotMatch(row, /object|,,/);
  });

  it('shows why a schedule is not recorded, as text, on Upcoming and Series', async () => {
    setReason(ids.alpha, REASON);
    await waitFor('the reason listed', async () => (await item(ids.alpha)).conflictReason === REASON, 20);
    await open('upcoming');
    const reason = `tr[data-id="${ids.alpha}"] td.title .reason`;
    assert.strictEqual(await noteOf(reason), REASON);
    assert.strictEqual(await page.$eval(reason, (node) => node.children.length), 0, 'no markup in the reason');
    assert.strictEqual(await page.$eval(reason, (node) => node.nextElementSibling.className), 'conflict',
      'the reason comes before the clash list');
    assert.strictEqual(await page.$(`tr[data-id="${ids.beta}"] .reason`), null, 'a row without a reason shows none');

    // Skipping the episode gives a tuner back: Alpha or Beta records after
    // all, and the reason the library still holds for it no longer applies;
    // the skipped episode carries one.
    setReason(ids.beta, 'not recorded: a reason from before');
    await page.waitForSelector(`tr[data-id="${ids.beta}"] .reason`);
    await stack.send('POST', `/api/media/${encodeURIComponent(ids.episode)}/skip`);
    let back;
    await waitFor('a schedule back', async () => {
      const items = (await stack.get('/api/upcoming')).items;
      back = (items.find((m) => (m.id === ids.alpha || m.id === ids.beta) && m.state === 'schedule') || {}).id;
      return back;
    }, 20);
    await page.waitForFunction((id) => !document.querySelector(`tr[data-id="${id}"] .reason`), {}, back);
    setReason(ids.episode, REASON);
    await waitFor('the episode\'s reason listed', async () => (await item(ids.episode)).conflictReason === REASON, 20);
    await open('series');
    const episodeReason = `ul.episodes li[data-id="${ids.episode}"] .reason`;
    assert.strictEqual(await noteOf(episodeReason), REASON);
    assert.strictEqual(await page.$eval(episodeReason, (node) => node.children.length), 0);
    assert.strictEqual(await page.evaluate(() => window.injected), undefined, 'no markup ran');
    assert.deepStrictEqual(errors, []);
  });
});
