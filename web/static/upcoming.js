// Upcoming: every schedule still to record, with its state, why it will
// not be recorded and the schedules it clashes with; skip, record after
// all, cancel, keep-until.
import { api, get } from './api.js';
import { act } from './app.js';
import { el, when, length, select, KEEP_UNTIL } from './dom.js';

let root = null;

function mount(container) {
  root = container;
  container.append(el('h2', {}, 'Upcoming'), el('div', { id: 'upcoming-list' }, el('p', { class: 'muted' }, 'Loading…')));
}

// Why the schedule will not be recorded, in the library's words.
export function reasonNote(item) {
  return item.conflictReason ? el('div', { class: 'reason' }, item.conflictReason) : null;
}

function conflictNote(item) {
  if (!item.conflicts || !item.conflicts.length) return null;
  return el('div', { class: 'conflict' }, 'Clashes with ',
    item.conflicts.map((c, i) => [i ? ', ' : '', el('b', {}, c.title), ` on ${c.channel}`]));
}

function actions(item) {
  const id = encodeURIComponent(item.id);
  const buttons = [];
  if (item.state === 'schedule' || item.state === 'conflict') {
    buttons.push(el('button', { class: 'skip', onclick: () => act(() => api('POST', `/api/media/${id}/skip`), `"${item.title}" skipped`) }, 'Skip'));
  }
  if (item.state === 'skip' || item.state === 'conflict') {
    buttons.push(el('button', { class: 'unskip', onclick: () => act(() => api('POST', `/api/media/${id}/unskip`)) }, 'Record'));
  }
  buttons.push(el('button', {
    class: 'cancel danger',
    onclick: () => act(() => api('POST', `/api/media/${id}/cancel`), item.state === 'recording' ? `"${item.title}" stopped` : `"${item.title}" cancelled`),
  }, item.state === 'recording' ? 'Stop' : 'Cancel'));
  return buttons;
}

function row(item) {
  const keep = select(KEEP_UNTIL, item.keepUntil, {
    'aria-label': 'Keep until',
    onchange: (e) => act(() => api('PATCH', `/api/media/${encodeURIComponent(item.id)}`, { keepUntil: e.target.value }), 'Kept as chosen'),
  });
  const clashes = item.conflictReason || (item.conflicts && item.conflicts.length);
  return el('tr', { dataset: { id: item.id, state: item.state }, class: clashes ? 'has-conflict' : '' },
    el('td', {}, when(item.start)),
    el('td', {}, item.channel),
    el('td', { class: 'title' }, el('span', { class: 'name' }, item.title), item.episode ? el('div', { class: 'muted' }, item.episode) : null,
      reasonNote(item), conflictNote(item)),
    el('td', {}, length(item.duration)),
    el('td', {}, el('span', { class: `state ${item.state}` }, item.stateText)),
    el('td', {}, keep),
    el('td', { class: 'actions' }, actions(item)));
}

async function refresh() {
  const box = root && root.querySelector('#upcoming-list');
  if (!box) return;
  try {
    const list = await get('/api/upcoming');
    box.replaceChildren(list.items.length
      ? el('table', { class: 'list' },
        el('thead', {}, el('tr', {}, ['When', 'Channel', 'Programme', 'Length', 'State', 'Keep', ''].map((h) => el('th', {}, h)))),
        el('tbody', {}, list.items.map(row)))
      : el('p', { class: 'muted' }, 'Nothing is scheduled. Pick a programme in the Guide.'));
  } catch (e) {
    box.replaceChildren(el('p', { class: 'error' }, e.message));
  }
}

export const upcomingPage = { mount, refresh };
