// The line's page: the line's snapshot read every second; each station's card and each unit's
// row is updated in place, so a supervisor's place and selection stay.
'use strict';

const STATE_CLASS = {flashing: 's-flashing', ok: 's-ok', failed: 's-failed', 'left alone': 's-left'};
const cards = new Map();

function $(id) { return document.getElementById(id); }

function setText(node, text) {
  text = text === null || text === undefined ? '' : String(text);
  if (node.textContent !== text) node.textContent = text;
}

function percent(p) { return p === null ? '-' : p.toFixed(1) + ' %'; }

function selecting() {
  const sel = window.getSelection();
  return sel && !sel.isCollapsed;
}

function table(parent, head) {
  const t = document.createElement('table');
  const tr = t.createTHead().insertRow();
  for (const h of head) {
    const th = document.createElement('th');
    th.textContent = h;
    tr.appendChild(th);
  }
  t.createTBody();
  parent.appendChild(t);
  return t.tBodies[0];
}

function fillRows(body, rows, cls) {
  while (body.rows.length > rows.length) body.deleteRow(-1);
  rows.forEach((cells, i) => {
    const tr = body.rows[i] || body.insertRow();
    if (cls && tr.className !== cls[i]) tr.className = cls[i];
    cells.forEach((text, j) => {
      const td = tr.cells[j] || tr.insertCell();
      if (j === 2 && cls) td.className = 'st';
      setText(td, text);
    });
  });
}

// A station with nothing flashing and no run for this long is marked idle.
const IDLE_MINUTES = 10;

function cardFor(name) {
  let card = cards.get(name);
  if (card) return card;
  const root = document.createElement('article');
  root.className = 'card';
  const part = (tag, cls, parent = root) => {
    const node = document.createElement(tag);
    if (cls) node.className = cls;
    parent.appendChild(node);
    return node;
  };
  const title = part('h2');
  title.textContent = name;
  const quiet = part('p', 'quiet-note');
  const figures = part('div', 'figures');
  const figure = (cls, words) => {
    const span = part('span', cls, figures);
    const n = part('b', '', span);
    span.appendChild(document.createTextNode(words));
    return n;
  };
  card = {root, quiet, ok: figure('ok', 'ok'), failed: figure('failed', 'failed'),
    yield: figure('', 'yield'), firstPass: figure('', 'first pass'), meta: part('p', 'meta'),
    images: table(root, ['Image', 'SHA-256', 'ok', 'failed', 'yield']),
    units: table(root, ['Serial', 'Port', 'State', 'Blocks', 'Message'])};
  card.images.parentNode.className = 'images';
  card.units.parentNode.className = 'units';
  cards.set(name, card);
  $('stations').appendChild(root);
  return card;
}

function number(object, keys) {
  for (const key of keys)
    if (object && typeof object[key] === 'number') return object[key];
  return null;
}

// The counts the station's JSON gives, else what its recent rows show: a unit passed first
// time when its earliest run here was ok.
function firstPassOf(counts, units) {
  // counts.units.firstPassYieldPercent: null when no unit was tried.
  if (counts && counts.units && typeof counts.units === 'object' &&
      'firstPassYieldPercent' in counts.units)
    return counts.units.firstPassYieldPercent;
  const first = new Map();
  for (const u of units) {
    if (!u.result || u.result === 'declined') continue;
    const key = u.serial || u.unit;
    const seen = first.get(key);
    if (!seen || u.when < seen.when) first.set(key, u);
  }
  if (!first.size) return null;
  return 100 * [...first.values()].filter(u => u.result === 'ok').length / first.size;
}

// {cause: count}: the JSON's own figures, else the failed rows by code or message.
function causesOf(counts, units, into) {
  const given = counts && (counts.failuresByCause || counts.byCause || counts.causes);
  if (given && typeof given === 'object') {
    const list = Array.isArray(given) ? given : Object.entries(given).map(([code, n]) => ({code, n}));
    for (const c of list) {
      const key = c.code || c.cause || '?';
      into.set(key, (into.get(key) || 0) + (number(c, ['n', 'count', 'failed', 'runs']) || 0));
    }
    return;
  }
  for (const u of units)
    if (u.state === 'failed') {
      const key = u.code || u.message || 'failed';
      into.set(key, (into.get(key) || 0) + 1);
    }
}

function render(line) {
  setText($('since'), line.since);
  setText($('updated'), line.updated ? line.updated.slice(11, 19) : '-');
  const alarms = $('alarms');
  while (alarms.children.length > line.alarms.length) alarms.lastChild.remove();
  line.alarms.forEach((a, i) => {
    if (!alarms.children[i]) alarms.appendChild(document.createElement('li'));
    setText(alarms.children[i], a.message);
  });
  let ok = 0, failed = 0, attempts = 0;
  const units = new Set();
  const causes = new Map();
  const now = line.updated ? Date.parse(line.updated) : Date.now();
  for (const s of line.stations) {
    const card = cardFor(s.station);
    const c = s.counts;
    ok += c.ok;
    failed += c.failed;
    attempts += number(c, ['tries']) ?? c.ok + c.failed + (c.cancelled || 0);
    for (const u of s.units) units.add(s.station + '\n' + (u.serial || u.unit));
    causesOf(c, s.units, causes);
    setText(card.ok, c.ok);
    setText(card.failed, c.failed);
    setText(card.yield, percent(c.yieldPercent));
    setText(card.firstPass, percent(firstPassOf(c, s.units)));
    // Idle: nothing flashing and no run for IDLE_MINUTES; silent: the station says it has not
    // been heard from (when its JSON tells).
    const last = s.units.reduce((m, u) => (u.when && u.when > m ? u.when : m), '');
    const flashing = s.units.some(u => u.state === 'flashing');
    const idleFor = last ? Math.floor((now - Date.parse(last)) / 60000) : null;
    let quiet = '';
    if (s.silent === true || s.state === 'silent')
      quiet = 'SILENT: not heard from' + (s.lastSeen ? ' since ' + s.lastSeen.slice(11, 16) : '');
    else if (!flashing && (idleFor === null || idleFor >= IDLE_MINUTES))
      quiet = idleFor === null ? 'IDLE: no unit today' : 'IDLE: no run for ' + idleFor + ' min';
    setText(card.quiet, quiet);
    const cls = 'card' + (quiet ? ' quiet' : '');
    if (card.root.className !== cls) card.root.className = cls;
    setText(card.meta, c.ok + ' ok, ' + c.failed + ' failed today, yield ' +
      percent(c.yieldPercent));
    fillRows(card.images, s.images.map(i => [i.file, i.sha256.slice(0, 12), i.ok, i.failed,
      percent(i.yieldPercent)]));
    fillRows(card.units, s.units.map(u => [u.serial || u.unit, u.port || '', u.state.toUpperCase(),
      u.blocksSent + ' / ' + u.blocksTotal, u.message]), s.units.map(u => STATE_CLASS[u.state] || ''));
  }
  const totals = line.totals || line.counts;
  setText($('units'), number(totals && totals.units, ['tried']) ?? units.size);
  const allUnits = line.stations.flatMap(s => s.units);
  setText($('first-pass'), percent(totals ? firstPassOf(totals, allUnits) : firstPassOf({}, allUnits)));
  setText($('yield'), percent(number(totals, ['yieldPercent']) ??
    (attempts ? 100 * ok / attempts : null)));
  setText($('failures'), number(totals, ['failed']) ?? failed);
  if (totals && (totals.failuresByCause || totals.byCause || totals.causes)) {
    causes.clear();
    causesOf(totals, [], causes);
  }
  const list = $('causes');
  const rows = [...causes.entries()].sort((a, b) => b[1] - a[1]);
  const words = rows.length ? rows.map(([cause, n]) => [n, ' ' + cause.replace(/-/g, ' ')]) :
    [[null, 'No failures today']];
  while (list.children.length > words.length) list.lastChild.remove();
  words.forEach(([n, text], i) => {
    const li = list.children[i] || list.appendChild(document.createElement('li'));
    const wanted = (n === null ? '' : n) + text;
    if (li.textContent === wanted) return;
    li.textContent = '';
    if (n !== null) li.appendChild(document.createElement('b')).textContent = n;
    li.appendChild(document.createTextNode(text));
  });
}

async function refresh() {
  try {
    const reply = await fetch('/api/v1/line', {cache: 'no-store'});
    if (!reply.ok) throw new Error('line: ' + reply.status);
    const line = await reply.json();
    const link = $('link');
    link.classList.toggle('down', line.database !== 'ok');
    setText(link, line.database === 'ok' ? 'live' : 'database away');
    if (!selecting()) render(line);
  } catch (e) {
    $('link').classList.add('down');
    setText($('link'), 'disconnected');
  }
  setTimeout(refresh, document.hidden ? 5000 : 1000);
}
refresh();
