// The station's page: the snapshot first, then the event stream. Progress lines move the bars
// directly; any other event has the snapshot read again (the station decides counters and
// alarms, not the page). Only what changed is written into the page, and nothing is written
// while the operator has text selected, so their place and selection stay.
'use strict';

const STATE_CLASS = {waiting: 's-waiting', flashing: 's-flashing', ok: 's-ok', failed: 's-failed',
  'left alone': 's-left'};
let state = null;
let lastSeq = 0;
let source = null;
let fetching = false;
let fetchAgain = false;
let retryTimer = null;
const tiles = new Map();

function $(id) { return document.getElementById(id); }

function setText(node, text) {
  text = text === null || text === undefined ? '' : String(text);
  if (node.textContent !== text) node.textContent = text;
}

function setLink(up, text) {
  const link = $('link');
  link.classList.toggle('down', !up);
  setText(link, text);
}

function selecting() {
  const sel = window.getSelection();
  return sel && !sel.isCollapsed && $('tiles').contains(sel.anchorNode);
}

function seconds(s) {
  if (s === null || s === undefined) return '';
  const v = Number(s);
  return v < 60 ? v.toFixed(1) + ' s' : Math.floor(v / 60) + ' min ' + Math.round(v % 60) + ' s';
}

// One tile per slot: the slots file's ports first, then every other port (or drive) as seen;
// each shows the unit that was there last.
function slotsOf(snapshot) {
  const slots = new Map();
  for (const s of snapshot.slots) slots.set(s.port, {key: s.port, label: s.label, unit: null});
  for (const u of snapshot.units) {
    const key = u.port || u.drive || u.unit;
    if (!slots.has(key)) slots.set(key, {key, label: u.slot || (u.port ? 'Port ' + u.port : key),
      unit: null});
    const slot = slots.get(key);
    if (!slot.unit || (u.seq || 0) >= (slot.unit.seq || 0)) slot.unit = u;
  }
  return slots;
}

function tileFor(slot) {
  let tile = tiles.get(slot.key);
  if (tile) return tile;
  const root = document.createElement('article');
  root.className = 'tile';
  const part = (tag, cls) => {
    const node = document.createElement(tag);
    if (cls) node.className = cls;
    root.appendChild(node);
    return node;
  };
  tile = {root, title: part('h2'), state: part('span', 'state'), serial: part('div', 'serial'),
    bar: part('progress'), blocks: part('div', 'meta'), message: part('p', 'message'),
    cause: part('p', 'cause'), todo: part('p', 'todo')};
  tile.bar.max = 1;
  tile.bar.value = 0;
  tiles.set(slot.key, tile);
  $('tiles').appendChild(root);
  return tile;
}

function renderUnit(tile, slot) {
  const u = slot.unit;
  const st = u ? u.state : 'waiting';
  const cls = 'tile ' + (STATE_CLASS[st] || 's-waiting');
  if (tile.root.className !== cls) tile.root.className = cls;
  setText(tile.title, slot.label);
  setText(tile.state, st.toUpperCase());
  setText(tile.serial, u && u.serial ? 'Serial ' + u.serial : 'No unit');
  const total = u && u.blocksTotal ? u.blocksTotal : 0;
  const sent = u ? u.blocksSent || 0 : 0;
  if (tile.bar.max !== Math.max(total, 1)) tile.bar.max = Math.max(total, 1);
  if (tile.bar.value !== sent) tile.bar.value = sent;
  setText(tile.blocks, total ? sent + ' of ' + total + ' blocks \u00b7 ' + seconds(u.seconds) : '');
  setText(tile.message, u ? u.message : '');
  // A failed unit's cause and what to do, as the console says them, where the station sends
  // them (older stations do not: the tile then shows the message alone).
  const failed = st === 'failed';
  setText(tile.cause, failed ? causeOf(u) : '');
  const todo = failed ? firstOf(u, ['whatToDo', 'advice', 'todo']) : '';
  setText(tile.todo, todo);
  if (tile.todo.title !== (todo || '')) tile.todo.title = todo || '';
}

function firstOf(object, keys) {
  for (const key of keys)
    if (object && typeof object[key] === 'string' && object[key]) return object[key];
  return '';
}

// "io-error (EIO)", "block-refused (block 17, status 01 ...)": the code with its detail.
function causeOf(u) {
  const code = firstOf(u, ['code', 'cause']);
  const detail = firstOf(u, ['detail']);
  if (!code || code === 'failed') return detail;
  return code.replace(/-/g, ' ') + (detail ? ' (' + detail + ')' : '');
}

function render() {
  if (!state) return;
  if (selecting()) {
    $('paused').hidden = false;
    return;
  }
  $('paused').hidden = true;
  setText($('station'), state.station || 'Station');
  for (const key of ['lot', 'operator']) {
    const value = typeof state[key] === 'string' ? state[key] : '';
    $(key + '-part').hidden = !value;
    setText($(key), value);
  }
  setText($('file'), state.file || '-');
  setText($('sha'), state.sha256 ? state.sha256.slice(0, 12) : '-');
  setText($('signer'), state.signer
    ? 'by release signer ' + state.signer + ' (' + state.signerFingerprint + ')' : '');
  const c = state.counts;
  setText($('ok'), c.ok);
  setText($('failed'), c.failed);
  setText($('yield'), c.yieldPercent === null ? '-' : c.yieldPercent.toFixed(1) + ' %');
  setText($('flashing'), c.flashing);
  setText($('waiting'), c.waiting);
  const alarms = $('alarms');
  const words = state.alarms.map(a => a.message);
  while (alarms.children.length > words.length) alarms.lastChild.remove();
  words.forEach((text, i) => {
    if (!alarms.children[i]) alarms.appendChild(document.createElement('li'));
    setText(alarms.children[i], text);
  });
  const slots = slotsOf(state);
  // Up to 24 slots on one 1080p screen: smaller tiles in six columns from 13 on.
  document.body.classList.toggle('dense', slots.size > 12);
  for (const slot of slots.values()) renderUnit(tileFor(slot), slot);
  if (!state.running && state.station !== null) setLink(true, 'station stopped');
}

async function load() {
  if (fetching) {
    fetchAgain = true;
    return;
  }
  fetching = true;
  try {
    do {
      fetchAgain = false;
      const reply = await fetch('/api/v1/state', {cache: 'no-store'});
      if (!reply.ok) throw new Error('state: ' + reply.status);
      state = await reply.json();
      lastSeq = state.seq;
      render();
    } while (fetchAgain);
    fetching = false;
    if (!source) follow();
  } catch (e) {
    fetching = false;
    down();
  }
}

function down() {
  setLink(false, 'disconnected');
  if (source) source.close();
  source = null;
  clearTimeout(retryTimer);
  retryTimer = setTimeout(load, 1000);
}

function follow() {
  source = new EventSource('/api/v1/events?after=' + lastSeq);
  source.onopen = () => setLink(state.running || state.station === null, state.running ? 'live' :
    'station stopped');
  source.onerror = down;
  source.onmessage = message => {
    const ev = JSON.parse(message.data);
    if (fetching) {
      fetchAgain = true;
      return;
    }
    // A new stream (the station started again), or events this page did not see: read the
    // snapshot again.
    if (ev.seq <= lastSeq && ev.event === 'opened') return load();
    if (ev.seq <= lastSeq) return;
    if (ev.seq !== lastSeq + 1 || ev.event !== 'progress') {
      lastSeq = ev.seq;
      return load();
    }
    lastSeq = ev.seq;
    const u = state.units.find(x => x.unit === ev.unit);
    if (!u) return load();
    u.blocksSent = ev.blocksSent;
    if (ev.blocksTotal) u.blocksTotal = ev.blocksTotal;
    u.seconds = ev.seconds;
    u.state = 'flashing';
    render();
  };
}

document.addEventListener('selectionchange', () => { if (!selecting()) render(); });
document.addEventListener('visibilitychange', () => {
  // A hidden page follows nothing; it reads everything again when it is shown.
  if (document.hidden) {
    if (source) source.close();
    source = null;
  } else if (!source) {
    load();
  }
});
load();
