// Settings: recording folders, padding, the space to keep free, and what
// the recording volume has left.
import { api, get } from './api.js';
import { toast } from './app.js';
import { el, bytes } from './dom.js';

let root = null;

function mount(container) {
  root = container;
  container.append(el('h2', {}, 'Settings'), el('div', { id: 'settings-form' }, el('p', { class: 'muted' }, 'Loading…')));
}

function volumeText(volume) {
  if (!volume) return 'The recording folder cannot be read.';
  return `${bytes(volume.freeBytes)} free of ${bytes(volume.totalBytes)} (${volume.folder})`;
}

function draw(box, s) {
  const field = (label, input) => el('label', { class: 'field' }, el('span', {}, label), input);
  const video = el('input', { name: 'videoDir', value: s.videoDir });
  const audio = el('input', { name: 'audioDir', value: s.audioDir });
  const padding = el('input', { name: 'padding', type: 'number', min: 0, max: 3600, value: s.padding });
  const free = el('input', { name: 'freeSpaceMB', type: 'number', min: 0, value: s.freeSpaceMB });
  const form = el('form', {
    class: 'settings',
    onsubmit: async (e) => {
      e.preventDefault();
      const change = { padding: Number(padding.value), freeSpaceMB: Number(free.value) };
      if (video.value !== s.videoDir) change.videoDir = video.value;
      if (audio.value !== s.audioDir) change.audioDir = audio.value;
      try {
        draw(box, await api('PUT', '/api/settings', change));
        toast('Settings saved');
      } catch (err) {
        toast(err.message, 'error');
      }
    },
  },
  field('Video folder', video), field('Audio folder', audio),
  field('Padding before and after (s)', padding), field('Keep free on the volume (MB)', free),
  el('p', { class: 'volume' }, 'Recording volume: ', volumeText(s.volume)),
  el('button', { type: 'submit' }, 'Save'));
  box.replaceChildren(form);
}

async function refresh() {
  const box = root && root.querySelector('#settings-form');
  if (!box || box.contains(document.activeElement)) return;
  try {
    draw(box, await get('/api/settings'));
  } catch (e) {
    box.replaceChildren(el('p', { class: 'error' }, e.message));
  }
}

export const settingsPage = { mount, refresh };
