// The page's frame: tabs, the status banner, messages, and the live event
// stream that keeps the shown page current.
import { el } from './dom.js';
import { guidePage } from './guide.js';
import { upcomingPage } from './upcoming.js';
import { recordingsPage } from './recordings.js';
import { seriesPage } from './series.js';
import { settingsPage } from './settings.js';

const pages = {
  guide: guidePage, upcoming: upcomingPage, recordings: recordingsPage,
  series: seriesPage, settings: settingsPage,
};
let current = null;
let reloadTimer = null;
let moduleOk = null;

export function toast(text, kind = 'info') {
  const note = el('div', { class: `toast ${kind}`, role: kind === 'error' ? 'alert' : 'status' }, text);
  document.getElementById('toasts').append(note);
  setTimeout(() => note.remove(), kind === 'error' ? 10000 : 5000);
}

// Runs an action of a page: its failure is said in a message.
export async function act(work, done) {
  try {
    await work();
    if (done) toast(done);
    reload();
  } catch (e) {
    toast(e.message, 'error');
  }
}

function showStatus(ok, message) {
  const banner = document.getElementById('status');
  banner.hidden = ok;
  banner.textContent = ok ? '' : `The recorder cannot be reached: ${message}`;
  if (ok && moduleOk === false) reload();
  moduleOk = ok;
}

// One refresh at a time: an answer asked for earlier but arriving later
// would otherwise draw the page as it was before the change.
let refreshing = false;
let again = false;
// While a refresh is due or running the page says so in data-busy, and
// data-drawn counts the refreshes, for whoever drives the page (a test) to
// wait until it is quiet.
async function refreshShown() {
  if (refreshing) { again = true; return; }
  refreshing = true;
  document.documentElement.dataset.busy = 'true';
  try {
    do {
      again = false;
      if (current) await current.refresh();
      const html = document.documentElement;
      html.dataset.drawn = String(Number(html.dataset.drawn || 0) + 1);
    } while (again);
  } finally {
    refreshing = false;
    if (!reloadTimer) delete document.documentElement.dataset.busy;
  }
}

export function reload() {
  clearTimeout(reloadTimer);
  document.documentElement.dataset.busy = 'true';
  reloadTimer = setTimeout(() => { reloadTimer = null; refreshShown(); }, 150);
}

function show() {
  const name = (location.hash || '#guide').slice(1);
  const page = pages[name] || pages.guide;
  for (const tab of document.querySelectorAll('#tabs a')) {
    tab.classList.toggle('active', tab.dataset.page === name);
  }
  const main = document.getElementById('page');
  main.replaceChildren();
  main.dataset.page = name;
  current = page;
  page.mount(main);
  refreshShown();
}

const SAID = {
  schedule: 'scheduled', recording: 'started', complete: 'finished', partial: 'finished (in part)',
  conflict: 'is in conflict', skip: 'skipped', '': 'removed',
};
// The same in a count: "3 scheduled, 3 removed".
const COUNTED = {
  schedule: 'scheduled', recording: 'started', complete: 'finished', partial: 'finished in part',
  conflict: 'in conflict', skip: 'skipped', '': 'removed',
};
let heard = [];
let heardTimer = null;

// Changes that come together (a series moved or changed re-makes its
// episodes) are told in one message; a failure is told on its own.
function announce(changes) {
  if (!changes.length) return;
  heard.push(...changes);
  clearTimeout(heardTimer);
  heardTimer = setTimeout(() => {
    const told = heard;
    heard = [];
    const fine = told.filter((c) => SAID[c.state] !== undefined);
    for (const c of told) {
      if (SAID[c.state] === undefined) toast(`"${c.title}" failed: ${c.state}`, 'error');
    }
    if (fine.length === 1) toast(`"${fine[0].title}" ${SAID[fine[0].state]}`);
    if (fine.length < 2) return;
    const titles = [...new Set(fine.map((c) => c.title))];
    const counts = new Map();
    for (const c of fine) counts.set(COUNTED[c.state], (counts.get(COUNTED[c.state]) || 0) + 1);
    const who = titles.length === 1 ? `"${titles[0]}"` : `"${titles[0]}" and ${titles.length - 1} more`;
    toast(`${who}: ${[...counts].map(([said, n]) => `${n} ${said}`).join(', ')}`);
  }, 500);
}

function listen() {
  const events = new EventSource('/api/events');
  events.addEventListener('status', (e) => {
    const status = JSON.parse(e.data);
    showStatus(status.ok, status.message);
  });
  events.addEventListener('media', (e) => {
    const { changes } = JSON.parse(e.data);
    announce(changes.filter((change) => change.kind !== 'pass' && change.state !== change.before));
    reload();
  });
  events.onerror = () => {
    if (events.readyState === EventSource.CONNECTING) {
      showStatus(false, 'lost contact with tev-web; trying again');
    }
  };
}

window.addEventListener('hashchange', show);
show();
listen();
