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

function cardFor(name) {
  let card = cards.get(name);
  if (card) return card;
  const root = document.createElement('article');
  root.className = 'card';
  const title = document.createElement('h2');
  title.textContent = name;
  root.appendChild(title);
  const meta = document.createElement('p');
  meta.className = 'meta';
  root.appendChild(meta);
  card = {root, meta, images: table(root, ['Image', 'SHA-256', 'ok', 'failed', 'yield']),
    units: table(root, ['Serial', 'Port', 'State', 'Blocks', 'Message'])};
  cards.set(name, card);
  $('stations').appendChild(root);
  return card;
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
  for (const s of line.stations) {
    const card = cardFor(s.station);
    setText(card.meta, s.counts.ok + ' ok, ' + s.counts.failed + ' failed today, yield ' +
      percent(s.counts.yieldPercent));
    fillRows(card.images, s.images.map(i => [i.file, i.sha256.slice(0, 12), i.ok, i.failed,
      percent(i.yieldPercent)]));
    fillRows(card.units, s.units.map(u => [u.serial || u.unit, u.port || '', u.state.toUpperCase(),
      u.blocksSent + ' / ' + u.blocksTotal, u.message]), s.units.map(u => STATE_CLASS[u.state] || ''));
  }
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
