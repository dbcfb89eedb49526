// Building the page from data: every text goes in as a text node, never
// as markup, so a title like "<script>" is shown as it is. Children may be
// nested lists (a map that gives several nodes per entry).

export function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key === 'dataset') Object.assign(node.dataset, value);
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key === 'value') node.value = value;
    else if (key === 'checked') node.checked = value;
    else node.setAttribute(key, value === true ? '' : String(value));
  }
  for (const child of children.flat(Infinity)) {
    if (child === undefined || child === null || child === false) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

// Puts the nodes for `entries` ([key, data, make]) into `box` in order. A
// node drawn from equal data stays as it is, so what is typed in it, the
// focus and a drag in progress outlive a live update. Returns what is on
// show, for the next call.
export function redraw(box, shown, entries, empty) {
  const next = new Map();
  for (const [key, data, make] of entries) {
    const drawn = JSON.stringify(data);
    const old = shown.get(key);
    next.set(key, old && old.drawn === drawn && box.contains(old.node) ? old : { drawn, node: make() });
  }
  const nodes = next.size ? [...next.values()].map((c) => c.node) : [empty];
  nodes.forEach((node, i) => { if (box.children[i] !== node) box.insertBefore(node, box.children[i] || null); });
  while (box.children.length > nodes.length) box.lastElementChild.remove();
  return next;
}

export function pad(n) { return String(n).padStart(2, '0'); }

export function clock(seconds) {
  const d = new Date(seconds * 1000);
  return `${pad(d.getHours())}:${pad(d.getMinutes())}`;
}

export function day(seconds) {
  return new Date(seconds * 1000).toLocaleDateString(undefined, { weekday: 'short', day: 'numeric', month: 'short' });
}

export function when(seconds) {
  return seconds ? `${day(seconds)} ${clock(seconds)}` : '';
}

export function length(seconds) {
  const h = Math.floor(seconds / 3600), m = Math.floor((seconds % 3600) / 60), s = seconds % 60;
  if (h) return m ? `${h} h ${m} min` : `${h} h`;
  if (m) return s ? `${m} min ${s} s` : `${m} min`;
  return `${s} s`;
}

export function bytes(n) {
  if (!n) return '';
  const units = ['B', 'KB', 'MB', 'GB', 'TB'];
  let i = 0;
  while (n >= 1024 && i < units.length - 1) { n /= 1024; i++; }
  return `${n.toFixed(i ? 1 : 0)} ${units[i]}`;
}

export const KEEP_UNTIL = [
  ['UNTIL_SPACE_NEEDED', 'until space is needed'],
  ['UNTIL_MANUALLY_DELETED', 'until I delete it'],
  ['AT_LEAST_1_DAY', 'at least 1 day'],
  ['AT_LEAST_2_DAYS', 'at least 2 days'],
  ['AT_LEAST_3_DAYS', 'at least 3 days'],
  ['AT_LEAST_4_DAYS', 'at least 4 days'],
  ['AT_LEAST_5_DAYS', 'at least 5 days'],
  ['AT_LEAST_6_DAYS', 'at least 6 days'],
  ['AT_LEAST_7_DAYS', 'at least 7 days'],
];

export const MODES = [
  ['ALL_EPISODES', 'every episode'],
  ['ONLY_NEW_EPISODES', 'new episodes only'],
  ['DAILY_AT_SAME_TIME', 'daily at this time'],
  ['WEEKLY_AT_SAME_TIME', 'weekly at this time'],
  ['WEEKDAYS_AT_SAME_TIME', 'weekdays at this time'],
  ['WEEKENDS_AT_SAME_TIME', 'weekends at this time'],
];

export function select(options, current, attrs = {}) {
  return el('select', attrs,
    options.map(([value, text]) => el('option', { value, selected: value === current }, text)));
}
