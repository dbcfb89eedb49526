// Series: the season passes in priority order (1 is kept first when
// tuners run short); drag a pass, or use its arrows, to move it; change
// how it records; remove it with its schedules. An episode that will not
// be recorded says why.
import { api, get } from './api.js';
import { act } from './app.js';
import { el, redraw, when, select, KEEP_UNTIL, MODES } from './dom.js';
import { reasonNote } from './upcoming.js';

let root = null;
let dragged = null;

function mount(container) {
  root = container;
  container.append(el('h2', {}, 'Series'), el('ol', { id: 'series-list', class: 'passes' }, el('p', { class: 'muted' }, 'Loading…')));
}

const patch = (pass, body, done) => act(() => api('PATCH', `/api/passes/${encodeURIComponent(pass.id)}`, body), done);

function move(pass, priority) {
  if (priority < 1 || priority === pass.priority) return;
  patch(pass, { priority }, `"${pass.title}" moved to place ${priority}`);
}

function item(pass, episodes) {
  const li = el('li', { class: 'pass', draggable: pass.priority > 0 ? 'true' : 'false', dataset: { id: pass.id, priority: pass.priority } },
    el('div', { class: 'head' },
      el('span', { class: 'place' }, pass.priority > 0 ? String(pass.priority) : '–'),
      el('span', { class: 'name' }, pass.title),
      el('span', { class: 'muted' }, ` ${pass.channel}${pass.restrictOneChannel ? '' : ' and other channels'}`),
      el('span', { class: 'buttons' },
        el('button', { class: 'up', 'aria-label': 'Higher priority', disabled: pass.priority <= 1, onclick: () => move(pass, pass.priority - 1) }, '↑'),
        el('button', { class: 'down', 'aria-label': 'Lower priority', disabled: pass.priority < 1, onclick: () => move(pass, pass.priority + 1) }, '↓'),
        el('button', { class: 'remove danger', onclick: () => {
          if (window.confirm(`Remove the series "${pass.title}" and its schedules?`)) {
            act(() => api('DELETE', `/api/passes/${encodeURIComponent(pass.id)}`), `"${pass.title}" removed`);
          }
        } }, 'Remove'))),
    el('div', { class: 'edit' },
      el('label', {}, 'Episodes ', select(MODES, pass.scheduleMode, { class: 'mode', onchange: (e) => patch(pass, { scheduleMode: e.target.value }, 'Series changed') })),
      el('label', {}, 'Keep ', select(KEEP_UNTIL, pass.keepUntil, { class: 'keep', onchange: (e) => patch(pass, { keepUntil: e.target.value }, 'Series changed') })),
      el('label', {}, el('input', { type: 'checkbox', class: 'one-channel', checked: pass.restrictOneChannel, onchange: (e) => patch(pass, { restrictOneChannel: e.target.checked }, 'Series changed') }), ' only on this channel')),
    episodes.length
      ? el('ul', { class: 'episodes' }, episodes.map((e) => el('li', { dataset: { id: e.id } }, `${when(e.start)} `, el('span', { class: 'name' }, e.episode || e.title), ` – ${e.stateText}`, reasonNote(e))))
      : el('p', { class: 'muted' }, 'No episodes in the coming week.'));
  li.addEventListener('dragstart', (e) => { dragged = pass; e.dataTransfer.effectAllowed = 'move'; });
  li.addEventListener('dragover', (e) => { if (dragged && pass.priority > 0) { e.preventDefault(); li.classList.add('drop'); } });
  li.addEventListener('dragleave', () => li.classList.remove('drop'));
  li.addEventListener('drop', (e) => {
    e.preventDefault();
    li.classList.remove('drop');
    if (dragged && dragged.id !== pass.id) move(dragged, pass.priority);
    dragged = null;
  });
  return li;
}

// The items on show by pass id, with the data each was drawn from.
let shown = new Map();

async function refresh() {
  const list = root && root.querySelector('#series-list');
  if (!list) return;
  try {
    const [passes, upcoming] = await Promise.all([get('/api/passes'), get('/api/upcoming')]);
    shown = redraw(list, shown, passes.items.map((p) => {
      const episodes = upcoming.items.filter((s) => s.passId === p.id);
      return [p.id, [p, episodes], () => item(p, episodes)];
    }), el('p', { class: 'muted' }, 'No series yet. Open a programme in the Guide and choose "Record series".'));
  } catch (e) {
    list.replaceChildren(el('p', { class: 'error' }, e.message));
  }
}

export const seriesPage = { mount, refresh };
