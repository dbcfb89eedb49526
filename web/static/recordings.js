// Recordings: what was recorded, with its thumbnail, length, size and
// state (why it failed, when it did); rename, delete, download, and the
// position to resume from.
import { api, get } from './api.js';
import { act } from './app.js';
import { el, redraw, when, length, bytes } from './dom.js';

let root = null;

function mount(container) {
  root = container;
  container.append(el('h2', {}, 'Recordings'), el('div', { id: 'recordings-list', class: 'cards' }, el('p', { class: 'muted' }, 'Loading…')));
}

function rename(item) {
  const name = window.prompt('New name', item.title);
  if (name === null || name.trim() === '' || name === item.title) return;
  act(() => api('PATCH', `/api/media/${encodeURIComponent(item.id)}`, { title: name.trim() }), 'Renamed');
}

function remove(item) {
  if (!window.confirm(`Delete "${item.title}" and its file?`)) return;
  act(() => api('DELETE', `/api/media/${encodeURIComponent(item.id)}`), `"${item.title}" deleted`);
}

// The position the recorder keeps for a card, asked for once the card is in
// view (one request each: a long list is not asked for all at once).
const shown = new IntersectionObserver((entries) => {
  for (const entry of entries) {
    if (!entry.isIntersecting) continue;
    shown.unobserve(entry.target);
    showPosition(entry.target);
  }
});

async function showPosition(form) {
  const kept = form.querySelector('.kept');
  try {
    const info = await get(`/api/media/${encodeURIComponent(form.dataset.id)}/info`);
    const seconds = Number(info.PlayPosition) || 0;
    kept.dataset.seconds = seconds;
    kept.textContent = seconds > 0 ? `Resumes at ${length(seconds)}` : 'Plays from the start';
    form.querySelector('input').value = seconds;
  } catch (e) {
    kept.textContent = `Resume position unknown: ${e.message}`;
  }
}

function card(item) {
  const id = encodeURIComponent(item.id);
  const recording = item.state === 'recording';
  return el('article', { class: `card ${item.failed ? 'failed' : ''}`, dataset: { id: item.id, state: item.state } },
    item.thumbnail
      ? el('img', { class: 'thumb', src: `/api/media/${id}/thumbnail?s=${item.size}`, alt: '', onerror: (e) => e.target.replaceWith(el('div', { class: 'thumb none' }, 'no picture')) })
      : el('div', { class: 'thumb none' }, recording ? 'recording' : 'no picture'),
    el('div', { class: 'info' },
      el('h3', { class: 'name' }, item.title),
      el('p', { class: 'muted' }, `${item.channel} · ${when(item.start)} · ${length(item.duration)}${item.size ? ` · ${bytes(item.size)}` : ''}`),
      el('p', {}, el('span', { class: `state ${item.state}` }, item.stateText),
        item.failure ? el('span', { class: 'failure' }, ` ${item.failure}`) : null),
      el('div', { class: 'buttons' },
        recording || item.failed ? null : el('a', { class: 'button download', href: `/api/media/${id}/file`, download: '' }, 'Download'),
        el('button', { class: 'rename', onclick: () => rename(item) }, 'Rename'),
        recording ? null : el('button', { class: 'delete danger', onclick: () => remove(item) }, 'Delete')),
      recording || item.failed ? null : resumeForm(item)));
}

function resumeForm(item) {
  const id = encodeURIComponent(item.id);
  const position = el('input', { type: 'number', min: 0, step: 1, value: 0, 'aria-label': 'Resume at (seconds)' });
  const form = el('form', {
    class: 'resume', dataset: { id: item.id },
    onsubmit: (e) => {
      e.preventDefault();
      act(async () => {
        await api('PUT', `/api/media/${id}/position`, { seconds: Number(position.value) });
        showPosition(form);
      }, 'Resume position kept');
    },
  }, el('p', { class: 'kept muted' }, '…'), el('label', {}, 'Resume at ', position, ' s'), el('button', { type: 'submit' }, 'Set'));
  shown.observe(form);
  return form;
}

// The cards on show by recording id, with the data each was drawn from.
let cards = new Map();

async function refresh() {
  const box = root && root.querySelector('#recordings-list');
  if (!box) return;
  try {
    const list = await get('/api/recordings');
    const before = cards;
    cards = redraw(box, cards, list.items.map((item) => [item.id, item, () => card(item)]),
      el('p', { class: 'muted' }, 'Nothing has been recorded yet.'));
    for (const [id, old] of before) {
      if (cards.get(id) !== old) old.node.querySelectorAll('form.resume').forEach((form) => shown.unobserve(form));
    }
  } catch (e) {
    box.replaceChildren(el('p', { class: 'error' }, e.message));
  }
}

export const recordingsPage = { mount, refresh };
