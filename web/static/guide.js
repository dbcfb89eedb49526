// Guide: the channels' programmes of one day on a time line with a line at
// "now", a search by title, and recording a programme once or as a series.
// A day of a large guide is tens of thousands of programmes, so the page
// asks for the hours in view first and draws only the rows and hours in
// view (and a margin); scrolling asks for and draws the rest. Every
// channel of the line-up has its row, programmes or not, with its number
// and logo; a day other than today opens at its first programme, or at
// 18:00 when it is full from midnight into the evening.
import { api, get } from './api.js';
import { act } from './app.js';
import { el, clock, day, when, length, select, KEEP_UNTIL, MODES } from './dom.js';

const PX_PER_MIN = 4;
const ROW = 46;  // px from one channel to the next, as --row in style.css
const HEAD = 28;  // px of the time ruler, as .row.head
const HOUR = 3600;
const SLICE = HOUR;  // the day is asked for in slices of this
const DRAW_ROWS = 8;  // rows drawn above and below the view
const DRAW_TIME = HOUR;  // time drawn either side of the view
const ASK_AHEAD = 2 * HOUR;  // time asked for either side once the view is drawn
let root = null;
let dayOffset = 0;
let nowTimer = null;
let view = null;  // the day on show (see openDay)

function dayStart(offset) {
  const d = new Date();
  d.setHours(0, 0, 0, 0);
  d.setDate(d.getDate() + offset);
  return Math.floor(d.getTime() / 1000);
}

const x = (seconds, start) => ((seconds - start) / 60) * PX_PER_MIN;
const chanWidth = () => parseFloat(getComputedStyle(document.documentElement).getPropertyValue('--chan')) || 160;

function mount(container) {
  root = container;
  const days = el('div', { class: 'days' });
  for (let i = 0; i < 7; i++) {
    days.append(el('button', {
      class: i === dayOffset ? 'active' : '', dataset: { day: i },
      onclick: () => { dayOffset = i; container.replaceChildren(); mount(container); },
    }, i === 0 ? 'Today' : day(dayStart(i))));
  }
  const query = el('input', { type: 'search', placeholder: 'Search by title', id: 'guide-search', 'aria-label': 'Search by title' });
  const form = el('form', { class: 'search', onsubmit: (e) => { e.preventDefault(); search(query.value.trim()); } },
    query, el('button', { type: 'submit' }, 'Search'));
  const grid = el('div', { id: 'guide-grid', class: 'grid' });
  container.append(el('div', { class: 'toolbar' }, days, form), el('div', { id: 'guide-results' }), grid);
  openDay(grid, dayStart(dayOffset));
}

// The day from `start` in `grid`: the sizes of the whole day, the
// programmes asked for so far and the part drawn.
async function openDay(grid, start) {
  const end = start + 24 * HOUR;
  const v = {
    grid, start, end, channels: [], byKey: new Map(), slices: new Array(24 * HOUR / SLICE).fill('none'),
    scheduled: new Set(), drawn: null, drawnRows: new Map(), ready: false,
  };
  const today = start === dayStart(0);
  view = v;
  const width = x(end, start);
  const ruler = el('div', { class: 'ruler' });
  ruler.style.width = `${width}px`;
  for (let t = start; t < end; t += 1800) {
    const tick = el('span', { class: 'tick' }, clock(t));
    tick.style.left = `${x(t, start)}px`;
    ruler.append(tick);
  }
  v.body = el('div', { class: 'grid-body', onclick: (e) => {
    const block = e.target.closest('.prog');
    const channel = block && v.channels[block.dataset.c];
    if (channel) details(channel, channel.shows.get(Number(block.dataset.s)));
  } });
  v.nowLine = el('div', { class: 'now', id: 'now-line' });
  const sized = el('div', { class: 'rows' }, el('div', { class: 'row head' }, el('div', { class: 'chan' }, 'Channel'), ruler), v.body, v.nowLine);
  sized.style.width = `calc(var(--chan) + ${width}px)`;
  grid.replaceChildren(sized, el('p', { class: 'muted loading' }, 'Loading the guide…'));
  if (today) grid.scrollLeft = Math.max(0, x(Date.now() / 1000, start) - 120);
  placeNow(v);
  clearInterval(nowTimer);
  nowTimer = setInterval(() => placeNow(v), 30000);
  grid.onscroll = () => {
    if (v.scrollFrame) return;
    v.scrollFrame = requestAnimationFrame(() => { v.scrollFrame = 0; follow(v); });
  };
  // The marks of what is scheduled follow when they come.
  markScheduled(v).then(() => { if (v.ready && v === view) draw(v); }, () => {});
  try {
    await lineup(v);
    if (!today) {
      // The early hours tell whether the day is full; a day that starts
      // late is asked for whole.
      await ask(v, start, start + 6 * HOUR);
      if (opening(v) === start) await ask(v, start + 18 * HOUR, start + 19 * HOUR);
      let at = opening(v);
      if (at === null) {
        await ask(v, start + 6 * HOUR, end);
        at = opening(v);
      }
      if (v === view) grid.scrollLeft = x(at ?? start + 18 * HOUR, start);
    }
    const seen = inView(v);
    await ask(v, seen.from, seen.to);
    if (!v.channels.length) await ask(v, start, end);
  } catch (e) {
    if (v !== view) return;
    v.failed = true;
    grid.replaceChildren(el('p', { class: 'error' }, `The guide cannot be shown: ${e.message}`));
    return;
  }
  if (v !== view) return;
  grid.querySelector('.loading')?.remove();
  if (!v.channels.length) {
    grid.replaceChildren(el('p', { class: 'muted' }, 'The guide has no programmes for this day.'));
    return;
  }
  draw(v);
  v.ready = true;
  grid.dataset.ready = 'true';
  follow(v);
}

// Where a day opens: 18:00 when it is full (programmes from midnight and
// in the evening), else its first programme; null when none is known yet.
function opening(v) {
  const evening = v.start + 18 * HOUR;
  let first = null;
  let fromMidnight = false;
  let inEvening = false;
  for (const channel of v.channels) {
    for (const p of channel.shows.values()) {
      const end = p.start + Math.max(p.duration, 1);
      if (end <= v.start || p.start >= v.end) continue;
      if (p.start <= v.start) fromMidnight = true;
      if (p.start < evening + HOUR && end > evening) inEvening = true;
      const from = Math.max(p.start, v.start);
      if (first === null || from < first) first = from;
    }
  }
  return fromMidnight && inEvening ? evening : first;
}

// The line-up's channels, each a row of its own in line-up order; the guide
// names the same channels by their ids. Without a line-up the guide's own
// channels make the rows.
async function lineup(v) {
  let channels = [];
  try {
    ({ channels } = await get('/api/channels'));
  } catch (e) {
    // The guide itself says when it cannot be shown.
  }
  for (const c of channels) {
    if (v.byKey.has(`id\n${c.id}`)) continue;
    const known = { name: c.name, id: c.id, number: c.number, logo: c.logo, mimeType: c.mimeType, shows: new Map() };
    v.byKey.set(`id\n${c.id}`, known);
    v.byKey.set(`name\n${c.name}`, known);
    v.channels.push(known);
  }
}

function placeNow(v) {
  const now = Date.now() / 1000;
  v.nowLine.hidden = now < v.start || now >= v.end;
  v.nowLine.style.left = `calc(var(--chan) + ${x(now, v.start)}px)`;
}

// The rows and the time in view.
function inView(v) {
  const g = v.grid;
  const from = v.start + (g.scrollLeft / PX_PER_MIN) * 60;
  const to = v.start + ((g.scrollLeft + g.clientWidth - chanWidth()) / PX_PER_MIN) * 60;
  // The ruler stays on top of the rows.
  return { from, to, first: Math.floor(g.scrollTop / ROW), last: Math.ceil((g.scrollTop + g.clientHeight - HEAD) / ROW) };
}

// Asks for the slices of [from, to) not asked for yet, in one request per
// run of them, and adds their programmes.
async function ask(v, from, to) {
  const first = Math.max(0, Math.floor((from - v.start) / SLICE));
  const last = Math.min(v.slices.length - 1, Math.floor((to - 1 - v.start) / SLICE));
  const runs = [];
  for (let i = first; i <= last; i++) {
    if (v.slices[i] !== 'none') continue;
    if (runs.length && runs[runs.length - 1][1] === i - 1) runs[runs.length - 1][1] = i;
    else runs.push([i, i]);
  }
  await Promise.all(runs.map(async ([a, b]) => {
    for (let i = a; i <= b; i++) v.slices[i] = 'asking';
    try {
      const guide = await get(`/api/guide?from=${v.start + a * SLICE}&to=${v.start + (b + 1) * SLICE}`);
      add(v, guide);
      for (let i = a; i <= b; i++) v.slices[i] = 'done';
    } catch (e) {
      for (let i = a; i <= b; i++) v.slices[i] = 'none';
      throw e;
    }
  }));
}

function add(v, guide) {
  for (const channel of guide.channels) {
    let known = (channel.id && v.byKey.get(`id\n${channel.id}`)) || v.byKey.get(`name\n${channel.name}`);
    if (!known) {
      // A guide channel the line-up does not list comes last.
      known = { name: channel.name, id: channel.id, number: '', logo: '', mimeType: channel.mimeType, shows: new Map() };
      if (channel.id) v.byKey.set(`id\n${channel.id}`, known);
      v.byKey.set(`name\n${channel.name}`, known);
      v.channels.push(known);
    }
    for (const p of channel.programmes) known.shows.set(p.start, p);
  }
}

// Starts are compared to the minute: the module may publish a second late.
const showKey = (channelName, start) => `${channelName}|${Math.floor(start / 60)}`;

async function markScheduled(v) {
  const upcoming = await get('/api/upcoming');
  v.scheduled = new Set(upcoming.items.map((m) => showKey(m.channel, m.start)));
}

// After a scroll: draws again when the view left what is drawn, and asks
// for the hours around the view.
function follow(v) {
  if (!v.ready || v !== view) return;
  const seen = inView(v);
  const d = v.drawn;
  if (!d || seen.first < d.first || seen.last > d.last || seen.from < d.from || seen.to > d.to) draw(v);
  ask(v, seen.from - ASK_AHEAD, seen.to + ASK_AHEAD).then(() => { if (v === view) draw(v); }, () => {});
}

// Number, logo and name; a long name wraps, and shows whole on hover.
function channelCell(channel) {
  const full = channel.number ? `${channel.number} ${channel.name}` : channel.name;
  const logo = channel.logo
    ? el('img', { class: 'logo', src: channel.logo, alt: '', loading: 'lazy', onerror: (e) => e.target.remove() })
    : null;
  return el('div', { class: 'chan', title: full },
    logo, channel.number ? el('span', { class: 'number' }, channel.number) : null, el('span', { class: 'cname' }, channel.name));
}

const overlaps = (p, from, to) => p.start + Math.max(p.duration, 1) > from && p.start < to;

function block(v, c, p) {
  const width = x(v.end, v.start);
  const left = Math.max(0, x(p.start, v.start));
  const right = Math.min(width, x(p.start + p.duration, v.start));
  const node = el('button', { class: 'prog', title: `${p.title} ${clock(p.start)}`, dataset: { c, s: p.start } },
    el('span', { class: 'name' }, p.title), el('span', { class: 'time' }, clock(p.start)));
  node.style.left = `${left}px`;
  node.style.width = `${Math.max(2, right - left - 2)}px`;
  return node;
}

// Draws the rows and hours in view and a margin. What is drawn already
// stays (a block being clicked or focused is not replaced); rows and blocks
// that left the margin go.
function draw(v) {
  const seen = inView(v);
  const first = Math.max(0, seen.first - DRAW_ROWS);
  const last = Math.min(v.channels.length - 1, seen.last + DRAW_ROWS);
  const from = Math.max(v.start, seen.from - DRAW_TIME);
  const to = Math.min(v.end, seen.to + DRAW_TIME);
  for (const [c, row] of v.drawnRows) {
    if (c < first || c > last) { row.node.remove(); v.drawnRows.delete(c); }
  }
  for (let c = first; c <= last; c++) {
    const channel = v.channels[c];
    let row = v.drawnRows.get(c);
    if (!row) {
      const line = el('div', { class: 'line' });
      line.style.width = `${x(v.end, v.start)}px`;
      row = { node: el('div', { class: 'row' }, channelCell(channel), line), line, blocks: new Map() };
      row.node.style.top = `${c * ROW}px`;
      v.body.append(row.node);
      v.drawnRows.set(c, row);
    }
    for (const [start, drawn] of row.blocks) {
      const p = channel.shows.get(start);
      if (p && overlaps(p, from, to) && p.title === drawn.p.title && p.duration === drawn.p.duration) continue;
      drawn.node.remove();
      row.blocks.delete(start);
    }
    for (const p of channel.shows.values()) {
      if (!overlaps(p, from, to)) continue;
      let drawn = row.blocks.get(p.start);
      if (!drawn) {
        drawn = { p, node: block(v, c, p) };
        row.line.append(drawn.node);
        row.blocks.set(p.start, drawn);
      }
      drawn.node.classList.toggle('scheduled', v.scheduled.has(showKey(channel.name, p.start)));
    }
  }
  v.body.style.height = `${v.channels.length * ROW}px`;
  v.drawn = { first, last, from, to };
}

// After a change elsewhere: the scheduled marks again (the guide itself is
// asked for again only when it could not be shown).
async function refresh() {
  const v = view;
  if (!v || !root || !root.contains(v.grid)) return;
  if (v.failed) { openDay(v.grid, v.start); return; }
  if (!v.ready) return;
  try {
    await markScheduled(v);
    if (v === view) draw(v);
  } catch (e) {
    // The banner says why; the marks stay as they were.
  }
}

async function search(title) {
  const box = root.querySelector('#guide-results');
  if (!title) { box.replaceChildren(); return; }
  box.replaceChildren(el('p', { class: 'muted' }, 'Searching…'));
  try {
    const found = await get(`/api/guide/search?title=${encodeURIComponent(title)}&from=${dayStart(0)}&to=${dayStart(7)}`);
    const items = [];
    for (const channel of found.channels) {
      for (const p of channel.programmes) {
        items.push(el('li', {}, el('button', { class: 'link', onclick: () => details(channel, p) },
          `${when(p.start)} · ${channel.name} · `, el('b', {}, p.title), p.episode ? ` – ${p.episode}` : '')));
      }
    }
    box.replaceChildren(el('h2', {}, `Search: ${title}`),
      items.length ? el('ul', { class: 'results' }, items) : el('p', { class: 'muted' }, 'Nothing in the coming week has that title.'));
  } catch (e) {
    box.replaceChildren(el('p', { class: 'error' }, e.message));
  }
}

function programmeBody(channel, p, keep) {
  return {
    channel: channel.name, channelId: channel.id, title: p.title, start: p.start, duration: p.duration,
    category: p.category, description: p.description, episode: p.episode, keepUntil: keep,
  };
}

function details(channel, p) {
  const dialog = document.getElementById('dialog');
  const keep = select(KEEP_UNTIL, 'UNTIL_SPACE_NEEDED', { id: 'keep-until' });
  const mode = select(MODES, 'ALL_EPISODES', { id: 'pass-mode' });
  const newOnly = el('input', { type: 'checkbox', id: 'new-only' });
  const anyChannel = el('input', { type: 'checkbox', id: 'any-channel' });
  const first = el('input', { type: 'checkbox', id: 'pass-first' });
  const close = () => dialog.close();
  dialog.replaceChildren(el('form', { method: 'dialog', class: 'details' },
    el('h2', {}, p.title),
    p.episode ? el('p', { class: 'episode' }, p.episode) : null,
    el('p', { class: 'muted' }, `${channel.name} · ${when(p.start)}–${clock(p.start + p.duration)} · ${length(p.duration)}${p.isNew ? ' · new' : ''}`),
    p.category ? el('p', {}, p.category) : null,
    p.description ? el('p', {}, p.description) : null,
    el('label', {}, 'Keep ', keep),
    el('div', { class: 'buttons' },
      el('button', { type: 'button', id: 'record', onclick: () => { close(); act(() => api('POST', '/api/schedules', programmeBody(channel, p, keep.value)), `"${p.title}" will be recorded`); } }, 'Record'),
      el('button', { type: 'button', class: 'secondary', onclick: close }, 'Close')),
    el('fieldset', {},
      el('legend', {}, 'Record the series'),
      el('label', {}, 'Episodes ', mode),
      el('label', {}, newOnly, ' new episodes only'),
      el('label', {}, anyChannel, ' also on other channels'),
      el('label', {}, first, ' ahead of my other series when tuners run short'),
      el('button', { type: 'button', id: 'record-series', onclick: () => {
        close();
        act(() => api('POST', '/api/passes', { ...programmeBody(channel, p, keep.value), mode: mode.value, newOnly: newOnly.checked, anyChannel: anyChannel.checked, ...(first.checked ? { priority: 1 } : {}) }),
          `Every episode of "${p.title}" will be recorded`);
      } }, 'Record series'))));
  dialog.showModal();
}

export const guidePage = { mount, refresh };
