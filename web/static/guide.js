// Guide: the channels' programmes of one day on a time line with a line at
// "now", a search by title, and recording a programme once or as a series.
import { api, get } from './api.js';
import { act } from './app.js';
import { el, clock, day, when, length, select, KEEP_UNTIL, MODES } from './dom.js';

const PX_PER_MIN = 4;
const HOUR = 3600;
let root = null;
let dayOffset = 0;
let nowTimer = null;

function dayStart(offset) {
  const d = new Date();
  d.setHours(0, 0, 0, 0);
  d.setDate(d.getDate() + offset);
  return Math.floor(d.getTime() / 1000);
}

const x = (seconds, start) => ((seconds - start) / 60) * PX_PER_MIN;

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
  container.append(el('div', { class: 'toolbar' }, days, form), el('div', { id: 'guide-results' }),
    el('div', { id: 'guide-grid', class: 'grid' }, el('p', { class: 'muted' }, 'Loading the guide…')));
  refresh();
}

async function refresh() {
  const grid = root && root.querySelector('#guide-grid');
  if (!grid) return;
  const start = dayStart(dayOffset);
  try {
    const [guide, upcoming] = await Promise.all([
      get(`/api/guide?from=${start - 4 * HOUR}&to=${start + 24 * HOUR}`), get('/api/upcoming')]);
    draw(grid, guide, upcoming.items, start);
  } catch (e) {
    grid.replaceChildren(el('p', { class: 'error' }, `The guide cannot be shown: ${e.message}`));
  }
}

// "channel id|start" of every programme already scheduled.
function scheduledKeys(items) {
  return new Set(items.map((m) => `${m.channel}|${m.start}`));
}

function draw(grid, guide, upcoming, start) {
  const end = start + 24 * HOUR;
  const width = x(end, start);
  const scheduled = scheduledKeys(upcoming);
  const ruler = el('div', { class: 'ruler' });
  ruler.style.width = `${width}px`;
  for (let t = start; t < end; t += 1800) {
    const tick = el('span', { class: 'tick' }, clock(t));
    tick.style.left = `${x(t, start)}px`;
    ruler.append(tick);
  }
  const rows = document.createDocumentFragment();
  for (const channel of guide.channels) {
    const line = el('div', { class: 'line' });
    line.style.width = `${width}px`;
    for (const p of channel.programmes) {
      if (p.start + p.duration <= start || p.start >= end) continue;
      const left = Math.max(0, x(p.start, start));
      const right = Math.min(width, x(p.start + p.duration, start));
      const block = el('button', {
        class: `prog${scheduled.has(`${channel.name}|${p.start}`) ? ' scheduled' : ''}`,
        title: `${p.title} ${clock(p.start)}`,
        onclick: () => details(channel, p),
      }, el('span', { class: 'name' }, p.title), el('span', { class: 'time' }, clock(p.start)));
      block.style.left = `${left}px`;
      block.style.width = `${Math.max(2, right - left - 2)}px`;
      line.append(block);
    }
    rows.append(el('div', { class: 'row' }, el('div', { class: 'chan' }, channel.name), line));
  }
  const body = el('div', { class: 'rows' }, el('div', { class: 'row head' }, el('div', { class: 'chan' }, 'Channel'), ruler), rows);
  const nowLine = el('div', { class: 'now', id: 'now-line' });
  body.append(nowLine);
  const placeNow = () => {
    const now = Date.now() / 1000;
    nowLine.hidden = now < start || now >= end;
    nowLine.style.left = `calc(var(--chan) + ${x(now, start)}px)`;
  };
  placeNow();
  clearInterval(nowTimer);
  nowTimer = setInterval(placeNow, 30000);
  const keepScroll = grid.scrollLeft;
  grid.replaceChildren(guide.channels.length ? body : el('p', { class: 'muted' }, 'The guide has no programmes for this day.'));
  grid.scrollLeft = keepScroll || (dayOffset === 0 ? Math.max(0, x(Date.now() / 1000, start) - 120) : x(start + 18 * HOUR, start));
  grid.dataset.ready = 'true';
}

async function search(title) {
  const box = root.querySelector('#guide-results');
  if (!title) { box.replaceChildren(); return; }
  box.replaceChildren(el('p', { class: 'muted' }, 'Searching…'));
  try {
    const found = await get(`/api/guide/search?title=${encodeURIComponent(title)}`);
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
