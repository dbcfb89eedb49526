// Recordings: what was recorded, with its thumbnail, length, size and
// state (why it failed, when it did); rename, delete, download, and the
// position to resume from.
import { api, get } from './api.js';
import { act } from './app.js';
import { el, when, length, bytes } from './dom.js';

let root = null;

function mount(container) {
  root = container;
  container.append(el('h2', {}, 'Recordings'), el('div', { id: 'recordings-list', class: 'cards' }, el('p', { class: 'muted' }, 'Loading…')));
  refresh();
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

function card(item) {
  const id = encodeURIComponent(item.id);
  const recording = item.state === 'recording';
  const position = el('input', { type: 'number', min: 0, step: 1, value: 0, 'aria-label': 'Resume at (seconds)' });
  return el('article', { class: `card ${item.failed ? 'failed' : ''}`, dataset: { id: item.id, state: item.state } },
    item.thumbnail
      ? el('img', { class: 'thumb', src: `/api/media/${id}/thumbnail?s=${item.size}`, alt: '', onerror: (e) => e.target.replaceWith(el('div', { class: 'thumb none' }, 'no picture')) })
      : el('div', { class: 'thumb none' }, recording ? 'recording' : 'no picture'),
    el('div', { class: 'info' },
      el('h3', { class: 'name' }, item.title),
      el('p', { class: 'muted' }, `${item.channel} · ${when(item.start)} · ${length(item.duration)}${item.size ? ` · ${bytes(item.size)}` : ''}`),
      el('p', {}, el('span', { class: `state ${item.state}` }, item.stateText)),
      el('div', { class: 'buttons' },
        recording || item.failed ? null : el('a', { class: 'button download', href: `/api/media/${id}/file`, download: '' }, 'Download'),
        el('button', { class: 'rename', onclick: () => rename(item) }, 'Rename'),
        recording ? null : el('button', { class: 'delete danger', onclick: () => remove(item) }, 'Delete')),
      recording || item.failed ? null : el('form', {
        class: 'resume',
        onsubmit: (e) => { e.preventDefault(); act(() => api('PUT', `/api/media/${id}/position`, { seconds: Number(position.value) }), 'Resume position kept'); },
      }, el('label', {}, 'Resume at ', position, ' s'), el('button', { type: 'submit' }, 'Set'))));
}

async function refresh() {
  const box = root && root.querySelector('#recordings-list');
  if (!box) return;
  try {
    const list = await get('/api/recordings');
    box.replaceChildren(...(list.items.length ? list.items.map(card) : [el('p', { class: 'muted' }, 'Nothing has been recorded yet.')]));
  } catch (e) {
    box.replaceChildren(el('p', { class: 'error' }, e.message));
  }
}

export const recordingsPage = { mount, refresh };
