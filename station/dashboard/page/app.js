// The bench's live page: one snapshot, then changes, over server-sent events.
// Every text from the station goes in through textContent, never as markup.
'use strict';

const state = { snapshot: null, tileViews: new Map(), receivedAt: new Map() };

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  return node;
}

function byId(id) { return document.getElementById(id); }

function formatTime(seconds) {
  const whole = Math.max(0, Math.floor(seconds || 0));
  const minutes = Math.floor(whole / 60);
  const rest = String(whole % 60).padStart(2, '0');
  return minutes + ':' + rest;
}

function setConnection(live) {
  const badge = byId('connection');
  badge.dataset.state = live ? 'live' : 'disconnected';
  badge.textContent = live ? 'live' : 'disconnected';
  document.body.classList.toggle('disconnected', !live);
}

function renderBench(bench) {
  byId('bench-name').textContent = bench.name || 'Bench';
  document.title = (bench.name || 'Bench') + ' - station';
  byId('command').textContent = (bench.command || []).join(' ');
  const images = byId('images');
  images.replaceChildren();
  for (const image of bench.images || []) {
    const item = element('span', 'image');
    item.append(element('span', 'file', image.file), ' ', element('span', 'sha', image.sha256));
    images.append(item);
  }
  byId('version').textContent = bench.version || '';
  byId('tiles').style.setProperty('--columns', String(bench.columns || 1));
}

function renderCounters(counters) {
  byId('passed').textContent = counters.passed;
  byId('failed').textContent = counters.failed;
  byId('units-per-hour').textContent = Math.round(counters.units_per_hour || 0);
  byId('yield').textContent = counters.yield === null ? '\u2013' : counters.yield + ' %';
}

function renderNotices(notices) {
  const list = byId('notices');
  list.replaceChildren();
  for (const notice of notices) {
    const item = element('li', null, notice.text);
    item.dataset.level = notice.level;
    list.append(item);
  }
}

function tileState(tile) {
  if (tile.result === 'PASS') return 'pass';
  if (tile.result === 'FAIL') return 'fail';
  if (tile.phase === 'empty' || tile.phase === 'arrived') return tile.phase;
  if (tile.phase === 'not served') return 'notserved';
  return 'running';
}

function makeTileView(slot) {
  const view = { root: element('article', 'tile') };
  view.root.dataset.slot = slot;
  const top = element('div', 'top');
  view.label = element('span', 'label', slot);
  view.result = element('span', 'result');
  top.append(view.label, view.result);
  view.serial = element('div', 'serial');
  view.phase = element('div', 'phase');
  view.line = element('div', 'line');
  view.reason = element('div', 'reason');
  view.bar = element('div', 'bar');
  view.fill = element('div');
  view.bar.append(view.fill);
  const bottom = element('div', 'bottom');
  view.time = element('span', 'time');
  view.release = element('span', 'release');
  bottom.append(view.time, view.release);
  view.root.append(top, view.serial, view.phase, view.line, view.reason, view.bar, bottom);
  return view;
}

function renderTile(tile) {
  const view = state.tileViews.get(tile.slot);
  if (!view) return;
  view.tile = tile;
  state.receivedAt.set(tile.slot, Date.now());
  const shown = tileState(tile);
  view.root.dataset.state = shown;
  view.result.dataset.result = tile.result || '';
  view.result.textContent = tile.result === 'PASS' ? '\u2714 PASS' : tile.result === 'FAIL' ? '\u2716 FAIL' : '';
  view.serial.textContent = tile.serial || (shown === 'empty' ? 'empty' : '');
  view.serial.className = shown === 'empty' ? 'serial empty' : 'serial';
  view.phase.textContent = shown === 'empty' ? '' : tile.phase;
  view.line.textContent = tile.line || '';
  view.reason.textContent = tile.result === 'FAIL' ? (tile.reason || 'failed')
    : shown === 'notserved' ? tile.reason || '' : '';
  const percent = tile.percent === null ? 0 : tile.percent;
  view.fill.style.width = percent + '%';
  view.bar.setAttribute('role', 'progressbar');
  view.bar.setAttribute('aria-valuenow', String(percent));
  view.bar.hidden = tile.percent === null;
  const before = tile.release_before || '';
  const after = tile.release_after || '';
  view.release.textContent = after ? (before || '?') + ' \u2192 ' + after : before;
  renderTime(view);
}

// A running unit's time goes on between its events.
function renderTime(view) {
  const tile = view.tile;
  let seconds = tile.elapsed_s || 0;
  if (tileState(tile) === 'running') {
    seconds += (Date.now() - state.receivedAt.get(tile.slot)) / 1000;
  }
  view.time.textContent = tileState(tile) === 'empty' ? '' : formatTime(seconds);
}

function recordRow(record) {
  const row = element('tr');
  const result = record.result || '';
  const cells = [record.slot, record.serial, result, record.reason,
                 record.release_after || record.release_before, formatTime(record.elapsed_s)];
  cells.forEach((text, index) => {
    const cell = element('td', index === 2 ? result : null, text === undefined ? '' : text);
    row.append(cell);
  });
  return row;
}

function addRecord(record) {
  const body = byId('records');
  body.prepend(recordRow(record));
  const limit = (state.snapshot && state.snapshot.records_shown) || 50;
  while (body.children.length > limit) body.lastChild.remove();
}

function renderSnapshot(snapshot) {
  state.snapshot = snapshot;
  renderBench(snapshot.bench);
  renderCounters(snapshot.counters);
  renderNotices(snapshot.notices);
  const tiles = byId('tiles');
  tiles.replaceChildren();
  state.tileViews.clear();
  for (const tile of snapshot.tiles) {
    const view = makeTileView(tile.slot);
    state.tileViews.set(tile.slot, view);
    tiles.append(view.root);
    renderTile(tile);
  }
  byId('records').replaceChildren();
  for (const record of snapshot.records) addRecord(record);
}

function applyChange(change) {
  if (change.tile) renderTile(change.tile);
  if (change.counters) renderCounters(change.counters);
  if (change.record) addRecord(change.record);
  if (change.notices) renderNotices(change.notices);
}

let source = null;

function connect() {
  source = new EventSource('/events');
  source.addEventListener('snapshot', (message) => {
    renderSnapshot(JSON.parse(message.data));
    setConnection(true);
  });
  source.addEventListener('change', (message) => applyChange(JSON.parse(message.data)));
  source.onerror = () => {
    setConnection(false);
    // The browser retries by itself after a dropped stream, but gives up for
    // good on an answer that is not a stream (a refusal): start over then.
    if (source.readyState === EventSource.CLOSED) {
      source.close();
      setTimeout(connect, 3000);
    }
  };
}

setInterval(() => {
  for (const view of state.tileViews.values()) {
    if (view.tile) renderTime(view);
  }
}, 1000);

setConnection(false);
byId('connection').textContent = 'connecting';
connect();
