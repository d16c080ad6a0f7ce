// The browser tier: the station's and the line's pages in Debian's headless chromium, driven by
// puppeteer-core, against stations on the virtual device. Every request the pages make must go
// to the station itself, and nothing may reach the console as an error while the station runs.
//   node pages.mjs BUILD_DIR WORK_DIR [station|line|wall|all] [SCREENSHOT_DIR]
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [build, work, part = 'all', shots = ''] = process.argv.slice(2);
const cli = path.join(build, 'cli/kestrel-cli');
const vdev = path.join(build, 'vdev/kestrel-vdev');
const children = new Set();

function fail(why) {
  console.error('browser tier: ' + why);
  for (const child of children) console.error(`  ${child.name}: ${child.err.slice(-2000)}`);
  throw new Error(why);
}

async function waitFor(what, check, ms = 30000) {
  const until = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > until) fail('timed out waiting for ' + what);
    await new Promise(r => setTimeout(r, 100));
  }
}

function freePort() {
  return new Promise(resolve => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

function start(name, args, program = vdev) {
  const child = spawn(program, args, {stdio: ['ignore', 'pipe', 'pipe']});
  child.name = name;
  child.err = '';
  child.stderr.on('data', d => { child.err += d; });
  child.stdout.on('data', d => { child.err += d; });
  child.done = new Promise(resolve => child.on('exit', code => {
    children.delete(child);
    resolve(code);
  }));
  children.add(child);
  return child;
}

// The station is the virtual device's child: Ctrl-C goes to it, as a terminal would send it.
async function interrupt(child) {
  const list = `/proc/${child.pid}/task/${child.pid}/children`;
  const pids = fs.readFileSync(list, 'utf8').trim().split(/\s+/).filter(Boolean);
  for (const pid of pids) process.kill(Number(pid), 'SIGINT');
  return child.done;
}

// Blocks 16..200 with the marker and the trailer the virtual device expects.
function writeImage(file) {
  const start = 16, end = 200;
  const data = Buffer.alloc(end * 1024);
  for (let i = 0; i < data.length; ++i) data[i] = ((i * 7) ^ (i >> 9)) & 0xff;
  data.write('PORI', start * 1024, 'latin1');
  Buffer.from([0x53, 0x54, 0x41, 0x42, 0x43, 0x01, 0x44, 0x45]).copy(data, end * 1024 - 8);
  fs.writeFileSync(file, data);
}

async function openPage(browser, url, problems) {
  const page = await browser.newPage();
  await page.setViewport({width: 1280, height: 900});
  const origin = new URL(url).origin;
  page.on('request', request => {
    if (!request.url().startsWith(origin)) problems.push('request left the station: ' + request.url());
  });
  page.on('console', message => {
    if (message.type() === 'error' || message.type() === 'warn')
      problems.push('console ' + message.type() + ': ' + message.text());
  });
  page.on('pageerror', error => problems.push('page error: ' + error.message));
  await page.goto(url, {waitUntil: 'load'});
  // Set once: still there at the end only if the page was never reloaded.
  await page.evaluate(() => { window.kestrelNoReload = true; });
  return page;
}

const text = (page, selector) => page.$$eval(selector, nodes => nodes.map(n => n.textContent));

async function stationPart(browser) {
  const port = await freePort();
  const url = `http://127.0.0.1:${port}/`;
  const image = path.join(work, 'fw.bin');
  const record = path.join(work, 'station.jsonl');
  const slots = path.join(work, 'slots.txt');
  writeImage(image);
  // The virtual devices sit on ports 2-2, 2-3, ... (2-1 is the fixed disk).
  fs.writeFileSync(slots, '2-2 Slot 1\n2-3 Slot 2\n2-4 Slot 3\n2-5 Slot 4\n');
  const stationArgs = ['--devices', '4', '--delay-ms', '2', '--on', '3:--fail-write 60', '--',
    cli, 'station', '--station', 'bench-1', '--record', record, '--web', `127.0.0.1:${port}`,
    '--slots', slots, image];
  let station = start('station', stationArgs);
  await waitFor('the station page', async () => {
    try { return (await fetch(url + 'api/v1/state')).ok; } catch { return false; }
  });
  const problems = [];
  const page = await openPage(browser, url, problems);

  // Every serial, and a bar that grows without a reload.
  await waitFor('four serials', async () =>
    (await text(page, '.tile .serial')).filter(t => /KV000[1-4]/.test(t)).length === 4);
  const bars = () => page.$$eval('.tile progress', nodes => nodes.map(n => n.value));
  const titles = (await text(page, '.tile h2')).sort().join(',');
  if (titles !== 'Slot 1,Slot 2,Slot 3,Slot 4') fail('tiles are not named by slot: ' + titles);
  const first = Math.max(...await bars());
  await waitFor('progress to grow', async () => Math.max(...await bars()) > first);
  if (shots) await page.screenshot({path: path.join(shots, 'station-page.png')});

  // The failure with its message, and counters equal to the record's final lines.
  await waitFor('every unit to end', async () =>
    (await text(page, '.tile .state')).filter(t => /^(OK|FAILED)$/.test(t)).length === 4, 60000);
  const failed = await page.$$eval('.tile.s-failed .message', n => n.map(x => x.textContent));
  if (failed.length !== 1 || !failed[0]) fail('expected one failed tile with its message: ' + failed);
  const finals = fs.readFileSync(record, 'utf8').split('\n').filter(Boolean).map(l => JSON.parse(l))
    .filter(r => r.result !== undefined && r.result !== null && r.event !== 'started');
  const okRecord = finals.filter(r => r.result === 'ok').length;
  const failedRecord = finals.filter(r => r.result !== 'ok').length;
  const [ok, bad] = [await text(page, '#ok'), await text(page, '#failed')].map(t => Number(t[0]));
  if (ok !== okRecord || bad !== failedRecord || ok !== 3 || bad !== 1)
    fail(`counters ${ok} ok, ${bad} failed; the record has ${okRecord} ok, ${failedRecord} failed`);

  // Stopped: the page says so. Started again: it recovers on its own.
  if (problems.length) fail(problems.join('\n'));
  await interrupt(station);
  await waitFor('"disconnected"', async () => (await text(page, '#link'))[0] === 'disconnected');
  station = start('station again', stationArgs);
  await waitFor('recovery after the restart', async () =>
    (await text(page, '#link'))[0] === 'live', 30000);
  await waitFor('the new shift', async () =>
    (await text(page, '.tile .serial')).filter(t => /KV000[1-4]/.test(t)).length === 4);
  if (!await page.evaluate(() => window.kestrelNoReload === true)) fail('the page was reloaded');
  await interrupt(station);
  // While the station was away the browser said so itself (refused connections): those only.
  const left = problems.filter(p => !/ERR_CONNECTION_REFUSED|Failed to load resource/.test(p));
  if (left.length) fail(left.join('\n'));
  await page.close();
  console.log('browser tier: station page: 4 serials, live progress, failure and counters as ' +
    'recorded, disconnected and recovered');
}

// 24 slots on one 1920x1080 screen: every tile's state and serial in view without scrolling, no
// text out of its box (a 32-character serial, a failure's words), bars of at least 24 px, and
// "Finish OK!" in the OK tiles' green.
async function wallPart(browser) {
  const port = await freePort();
  const url = `http://127.0.0.1:${port}/`;
  const image = path.join(work, 'fw.bin');
  const slots = path.join(work, 'slots24.txt');
  writeImage(image);
  fs.writeFileSync(slots, Array.from({length: 24}, (_, i) => `2-${i + 2} Slot ${i + 1}\n`).join(''));
  const long = 'KV-LONG-SERIAL-NUMBER-0123456789';
  const station = start('wall', ['--devices', '24', '--delay-ms', '1', '--on', `5:--serial ${long}`,
    '--on', '9:--fail-write 40', '--', cli, 'station', '--station', 'wall', '--web',
    `127.0.0.1:${port}`, '--slots', slots, '--lot', 'LOT-7', '--operator', 'Ana', image]);
  await waitFor('the station page', async () => {
    try { return (await fetch(url + 'api/v1/state')).ok; } catch { return false; }
  });
  const problems = [];
  const page = await browser.newPage();
  await page.setViewport({width: 1920, height: 1080});
  page.on('pageerror', error => problems.push('page error: ' + error.message));
  await page.goto(url, {waitUntil: 'load'});
  await waitFor('24 units to end', async () =>
    (await text(page, '.tile .state')).filter(t => /^(OK|FAILED)$/.test(t)).length === 24, 240000);
  if (shots) await page.screenshot({path: path.join(shots, 'station-24.png')});
  const look = await page.evaluate(() => {
    const out = [];
    const root = document.scrollingElement;
    if (root.scrollHeight > window.innerHeight || root.scrollWidth > window.innerWidth)
      out.push(`the page scrolls: ${root.scrollWidth}x${root.scrollHeight}`);
    const inside = (a, b) => a.left >= b.left - 1 && a.right <= b.right + 1 &&
      a.top >= b.top - 1 && a.bottom <= b.bottom + 1;
    const view = {left: 0, top: 0, right: window.innerWidth, bottom: window.innerHeight};
    const tiles = [...document.querySelectorAll('.tile')];
    if (tiles.length !== 24) out.push(tiles.length + ' tiles');
    for (const tile of tiles) {
      const box = tile.getBoundingClientRect();
      const name = tile.querySelector('h2').textContent;
      for (const part of tile.querySelectorAll('.state, .serial'))
        if (!part.textContent || !inside(part.getBoundingClientRect(), view))
          out.push(`${name}: ${part.className} not in view`);
      for (const part of tile.children) {
        if (!part.getClientRects().length) continue;  // not shown
        if (!inside(part.getBoundingClientRect(), box)) out.push(`${name}: ${part.className || part.tagName} leaves its tile`);
        if (part.scrollWidth > part.clientWidth + 1) out.push(`${name}: ${part.className} overflows`);
      }
      const bar = tile.querySelector('progress').getBoundingClientRect();
      if (bar.height < 24) out.push(`${name}: bar ${bar.height} px`);
    }
    for (const part of document.querySelectorAll('header *, .counts *'))
      if (part.scrollWidth > part.clientWidth + 1) out.push(`header: ${part.id || part.tagName} overflows`);
    const okMessage = document.querySelector('.tile.s-ok .message');
    if (!okMessage || getComputedStyle(okMessage).color !== 'rgb(27, 110, 42)')
      out.push('"Finish OK!" is not green: ' + (okMessage && getComputedStyle(okMessage).color));
    return out;
  });
  if (!(await text(page, '.tile .serial')).some(t => t.includes(long))) look.push('no long serial');
  // The failed tile says why and what to do, as the console does.
  const [cause, todo] = [await text(page, '.tile.s-failed .cause'), await text(page, '.tile.s-failed .todo')];
  if (cause.length !== 1 || !cause[0] || !/^what to do/.test(todo[0] || ''))
    look.push(`failed tile without its cause and what to do: ${cause} / ${todo}`);
  await interrupt(station);
  if (look.length || problems.length) fail([...look, ...problems].join('\n'));
  await page.close();
  console.log('browser tier: 24 slots on 1920x1080: every state and serial in view, nothing ' +
    'out of its box');
}

async function linePart(browser) {
  const db = 'sqlite:' + path.join(work, 'line.db');
  const image = path.join(work, 'fw.bin');
  writeImage(image);
  const stations = ['A', 'B'].map(name => start('station ' + name, ['--devices', '2', '--on',
    `1:--serial ${name}1`, '--on', `2:--serial ${name}2 --fail-write 30`, '--delay-ms', '1', '--',
    cli, 'station', '--station', name, '--db', db, image]));
  // Both stations write their schema first; the line's page starts on an existing database.
  await waitFor('the database', () => fs.existsSync(path.join(work, 'line.db')));
  const port = await freePort();
  const line = start('line', ['line', '--db', db, '--web', `127.0.0.1:${port}`], cli);
  const url = `http://127.0.0.1:${port}/`;
  await waitFor('the line page', async () => {
    try { return (await fetch(url + 'api/v1/line')).ok; } catch { return false; }
  });
  const problems = [];
  const page = await openPage(browser, url, problems);
  await waitFor('both stations with their units', async () => {
    const cards = await text(page, '.card h2');
    const rows = await page.$$eval('.card tbody tr', n => n.length);
    return cards.includes('A') && cards.includes('B') && rows >= 4 + 2;
  });
  await waitFor('every unit to end', async () =>
    (await text(page, '.card .meta')).join(' ').match(/1 ok, 1 failed today/g)?.length === 2,
  60000);
  if (shots) await page.screenshot({path: path.join(shots, 'line-page.png')});
  for (const s of stations) await interrupt(s);
  line.kill('SIGINT');
  await line.done;
  if (!await page.evaluate(() => window.kestrelNoReload === true)) fail('the page was reloaded');
  if (problems.length) fail(problems.join('\n'));
  await page.close();
  console.log('browser tier: line page: two stations on one database, their units and yield');
}

const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  userDataDir: path.join(work, 'profile'),
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--disable-quic',
    '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'],
});
let status = 0;
try {
  if (part === 'all' || part === 'line') await linePart(browser);
  if (part === 'all' || part === 'station') await stationPart(browser);
  if (part === 'all' || part === 'wall') await wallPart(browser);
} catch (e) {
  if (!String(e.message).length) console.error(e);
  status = 1;
} finally {
  await browser.close();
  for (const child of children) child.kill('SIGKILL');
}
process.exit(status);
