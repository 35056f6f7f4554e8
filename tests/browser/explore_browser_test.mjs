// End to end: quatdepth-explore's page in headless Chromium, driven with
// the mouse and the keyboard as a person would, checked against the
// server's own answers and against the command-line programs.
//
//   node tests/browser/explore_browser_test.mjs EXPLORE_BIN QUATDEPTH_BIN OUT_DIR
//
// Exit 0: every check passed; 1: a check failed (the first is named);
// 77: skipped (no puppeteer-core, no Chromium, or it cannot start);
// 2: usage.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const SKIPPED = 77;
const TIME_LIMIT_MS = 90_000;
const BROWSER_ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// Workload 1 of the benchmarks (bench/README.md), as a view.
const WORKLOAD_1 = {
  box: '-1.2,-1.2,-1.2,1.2,1.2,1.2', c: '-0.1,0.2,0.3,-0.1', w: '0', angles: '0.3,0.5,0.7',
  size: '640x360', coarse: '400', fine: '10', iterations: '20', bailout: '16',
};

if (process.argv.length !== 5) {
  console.error('usage: node explore_browser_test.mjs EXPLORE_BIN QUATDEPTH_BIN OUT_DIR');
  process.exit(2);
}
const [exploreBin, quatdepthBin, outDir] = process.argv.slice(2).map((p) => path.resolve(p));
const renderBin = path.join(path.dirname(quatdepthBin), 'quatdepth-render');

class CheckFailed extends Error {}

const checked = [];
const notChecked = [];
const pass = (what) => {
  checked.push(what);
  console.log(`ok: ${what}`);
};
function check(condition, what, detail = '') {
  if (!condition) throw new CheckFailed(`${what}${detail ? `: ${detail}` : ''}`);
  pass(what);
}

function skip(reason) {
  console.log(`skipped: ${reason}`);
  process.exit(SKIPPED);
}

let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch (err) {
  skip(`puppeteer-core cannot be imported (run npm ci --ignore-scripts in tests/browser): ${err.message}`);
}
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
if (!fs.existsSync(chromium)) skip(`no Chromium at ${chromium} (set CHROMIUM)`);
for (const bin of [exploreBin, quatdepthBin]) {
  if (!fs.existsSync(bin)) {
    console.error(`FAILED: ${bin} does not exist`);
    process.exit(1);
  }
}
fs.mkdirSync(outDir, { recursive: true });

// ---- helpers -----------------------------------------------------------

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};

const fragmentOf = (url) => Object.fromEntries(new URL(url).hash.slice(1).split('&').filter(Boolean)
  .map((part) => {
    const eq = part.indexOf('=');
    return [decodeURIComponent(part.slice(0, eq)), decodeURIComponent(part.slice(eq + 1))];
  }));

const numbers = (text) => text.split(',').map(Number);

function run(bin, args, options = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(bin, args, { stdio: ['ignore', 'pipe', 'pipe'], ...options });
    const out = [];
    const err = [];
    child.stdout.on('data', (d) => out.push(d));
    child.stderr.on('data', (d) => err.push(d));
    child.on('error', reject);
    child.on('close', (code, signal) => resolve({
      code, signal, stdout: Buffer.concat(out), stderr: Buffer.concat(err).toString(),
    }));
  });
}

// The server prints its address as its first line once it listens.
function startServer(options = []) {
  return new Promise((resolve, reject) => {
    const child = spawn(exploreBin, ['--port', '0', ...options], { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    const timer = setTimeout(() => reject(new CheckFailed(`no address from ${exploreBin} in 10 s; stderr: ${err}`)), 10_000);
    child.stderr.on('data', (d) => { err += d; });
    child.stdout.on('data', (d) => {
      out += d;
      const newline = out.indexOf('\n');
      if (newline >= 0) {
        clearTimeout(timer);
        resolve({ child, address: out.slice(0, newline).trim() });
      }
    });
    child.on('error', (e) => {
      clearTimeout(timer);
      reject(e);
    });
    child.on('exit', (code, signal) => {
      clearTimeout(timer);
      reject(new CheckFailed(`${exploreBin} exited (${code ?? signal}) before printing its address; stderr: ${err}`));
    });
  });
}

async function get(url) {
  const response = await fetch(url);
  return { status: response.status, type: response.headers.get('content-type') ?? '',
    bytes: Buffer.from(await response.arrayBuffer()) };
}

// The picture on screen is settled when it is the full render of the
// current view and the positional arguments describe the same view.
function settledIn(previous) {
  const e = window.quatdepthExplorer;
  if (!e || !e.shown || e.shown.kind !== 'full') return false;
  const query = e.queryOf(e.view);
  const img = document.getElementById('picture');
  return e.shown.query === query && e.shown.view === query && query !== previous
    && img.dataset.kind === 'full' && img.dataset.query === query && img.complete
    && document.getElementById('positional-args').dataset.query === query;
}

async function settle(page, previous = null, what = 'the full picture') {
  try {
    await page.waitForFunction(settledIn, { timeout: 20_000 }, previous);
  } catch {
    const state = await page.evaluate(() => ({
      shown: window.quatdepthExplorer?.shown, view: window.quatdepthExplorer?.view,
      refusal: window.quatdepthExplorer?.refusal, status: document.getElementById('status')?.textContent,
    }));
    throw new CheckFailed(`${what} never arrived: ${JSON.stringify(state)}`);
  }
  return page.evaluate(() => window.quatdepthExplorer.shown);
}

// The bytes behind the picture on screen, as the page received them.
const displayedBytes = async (page) => Buffer.from(await page.evaluate(async () => {
  const bytes = new Uint8Array(await window.quatdepthExplorer.shownBlob.arrayBuffer());
  let text = '';
  for (const b of bytes) text += String.fromCharCode(b);
  return btoa(text);
}), 'base64');

async function drag(page, dx, dy, { shift = false, button = 'left' } = {}) {
  const box = await (await page.$('#stage')).boundingBox();
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;
  await page.mouse.move(x, y);
  if (shift) await page.keyboard.down('Shift');
  await page.mouse.down({ button });
  await page.mouse.move(x + dx, y + dy, { steps: 8 });
  await page.mouse.up({ button });
  if (shift) await page.keyboard.up('Shift');
}

// What the page measured for the view on screen: its preview and its full picture.
async function timingsOfShown(page) {
  return page.evaluate(() => {
    const e = window.quatdepthExplorer;
    const mine = e.timings.filter((t) => t.view === e.shown.view);
    return { preview: mine.filter((t) => t.kind === 'preview').at(-1), full: mine.filter((t) => t.kind === 'full').at(-1) };
  });
}

async function typeInto(page, selector, text) {
  await page.click(selector, { clickCount: 3 });
  await page.keyboard.press('End');
  await page.keyboard.down('Shift');
  await page.keyboard.press('Home');
  await page.keyboard.up('Shift');
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
}

const PNG_SIGNATURE = Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]);

function pngSize(bytes) {
  if (bytes.length < 24 || !bytes.subarray(0, 8).equals(PNG_SIGNATURE)) return null;
  return { width: bytes.readUInt32BE(16), height: bytes.readUInt32BE(20) };
}

// ---- the checks --------------------------------------------------------

async function dragAndMeasure(page, name, drags) {
  const previews = [];
  const fulls = [];
  let shown = await page.evaluate(() => window.quatdepthExplorer.shown);
  for (let i = 0; i < drags; i++) {
    await drag(page, 40 + 10 * i, -(20 + 5 * i));
    shown = await settle(page, shown.query, `${name}: the full picture after drag ${i + 1}`);
    const { preview, full } = await timingsOfShown(page);
    if (!preview) throw new CheckFailed(`${name}: no preview came before the full picture of drag ${i + 1}`);
    previews.push(preview.ms);
    fulls.push(full.ms);
  }
  console.log(`timing ${name}: drag->preview ${median(previews).toFixed(1)} ms, drag->full ${median(fulls).toFixed(1)} ms`
    + ` (median of ${drags} drags; preview ${previews.map((t) => t.toFixed(1)).join(' ')}; full ${fulls.map((t) => t.toFixed(1)).join(' ')})`);
  return shown;
}

async function checkRefusal(page, address) {
  const before = await page.evaluate(() => ({
    shown: window.quatdepthExplorer.shown, src: document.getElementById('picture').src,
    c0: document.getElementById('c0').value, size: document.getElementById('size').value,
  }));
  await typeInto(page, '#c0', '0.1x');
  try {
    await page.waitForFunction(() => {
      const slot = document.getElementById('error-c');
      return !slot.hidden && slot.textContent.length > 0;
    }, { timeout: 10_000 });
  } catch {
    throw new CheckFailed('a refused c shows no message beside the c inputs');
  }
  // The fragment follows the view up to 150 ms after it changes; a refusal
  // can come back sooner.
  await page.waitForFunction(() => location.hash.includes('c=0.1x,'), { timeout: 5_000 }).catch(() => {});
  const after = await page.evaluate(() => ({
    message: document.getElementById('error-c').textContent,
    general: document.getElementById('general-message').hidden,
    src: document.getElementById('picture').src,
    shown: window.quatdepthExplorer.shown,
    fragment: location.hash,
  }));
  const server = await get(new URL(`image.png?${after.fragment.slice(1)}`, address));
  check(server.status === 400 && server.type.startsWith('text/plain'),
    'the server refuses c = 0.1x,... with 400 text/plain', `${server.status} ${server.type}`);
  check(after.message === server.bytes.toString().trim() && after.message.startsWith('--c'),
    'the server\'s message for the bad c is shown beside the c inputs', JSON.stringify(after.message));
  check(after.general, 'a message naming --c is not repeated in the general message area');
  check(after.src === before.src && after.shown.query === before.shown.query,
    'the refused value leaves the last good picture on screen', `${before.src} -> ${after.src}`);

  await typeInto(page, '#c0', before.c0);
  const cleared = await page.waitForFunction(() => document.getElementById('error-c').hidden
    && !document.querySelector('.field.refused'), { timeout: 10_000 }).then(() => true, () => false);
  const back = await settle(page, null, 'the picture after correcting c0');
  check(back.query === before.shown.query && cleared,
    'correcting c0 brings back the same view and clears the message');

  // Too many pixels: the server's own limit, shown beside the size. The
  // preview (1000 x 1000) is within it, so the preview arrives first.
  const shownBefore = await page.evaluate(() => window.quatdepthExplorer.shown);
  await typeInto(page, '#size', '4000x4000');
  try {
    await page.waitForFunction(() => !document.getElementById('error-size').hidden, { timeout: 10_000 });
  } catch {
    throw new CheckFailed('a size over the server\'s limit shows no message beside the size');
  }
  const big = await page.evaluate(() => ({ status: window.quatdepthExplorer.refusal?.status }));
  check(big.status === 413, 'a 4000x4000 picture is refused with 413 and the message is beside the size',
    JSON.stringify(big));
  await page.waitForFunction((q) => window.quatdepthExplorer.shown?.query === q,
    { timeout: 10_000 }, shownBefore.query).catch(() => {});
  const kept = await page.evaluate(() => {
    const img = document.getElementById('picture');
    return { shown: window.quatdepthExplorer.shown, text: window.quatdepthExplorer.refusal?.text,
      kind: img.dataset.kind, query: img.dataset.query };
  });
  check(kept.shown?.kind === 'full' && kept.shown.query === shownBefore.query &&
    kept.kind === 'full' && kept.query === shownBefore.query,
    'a refused full picture leaves the last good one on screen, not the preview of the refused view',
    JSON.stringify(kept));
  check(typeof kept.text === 'string' && kept.text.includes('4000x4000'),
    'the refusal names the size typed, not the preview\'s', kept.text);
  await typeInto(page, '#size', before.size);
  await settle(page, null, 'the picture after restoring the size');
}

async function checkRowsAndArgs(page, address) {
  const shown = await page.evaluate(() => window.quatdepthExplorer.shown);
  const argsText = await page.$eval('#positional-args', (el) => el.textContent);
  const args = argsText.trim().split(/ +/);
  check(args.length === 20 && args.every((a) => /^-?\d+(\.\d+)?$/.test(a)),
    '#positional-args holds quatdepth\'s 20 arguments as plain decimals', JSON.stringify(argsText));
  const server = await get(new URL(`args?${shown.view}`, address));
  check(server.status === 200 && server.bytes.toString() === `${argsText}\n`,
    '#positional-args is exactly the server\'s /args line for the shown view');
  const rows = await get(new URL(`rows?${shown.view}`, address));
  const ran = await run(quatdepthBin, args);
  const view = await page.evaluate(() => window.quatdepthExplorer.view);
  const [w, h] = view.size.split('x').map(Number);
  check(rows.status === 200 && rows.bytes.length === h * 4 * (w + 1),
    `/rows for the shown view is ${h} records of ${w} pixels`, `${rows.status}, ${rows.bytes.length} bytes`);
  check(ran.code === 0 && ran.stdout.equals(rows.bytes),
    'quatdepth run with #positional-args writes the same bytes as /rows for the shown picture',
    `exit ${ran.code}, ${ran.stdout.length} vs ${rows.bytes.length} bytes; ${ran.stderr}`);
}

// The command the page shows, run by a shell with the real program, must
// write the bytes the page displays.
async function checkRenderCommand(page) {
  const command = await page.$eval('#render-command', (el) => el.textContent);
  const view = await page.evaluate(() => window.quatdepthExplorer.view);
  for (const [key, value] of Object.entries(view)) {
    if (key === 'occlusion') {
      // A switch: the bare option when on, nothing when off, another word as given.
      const said = command.split(' ').filter((word) => word.startsWith('--occlusion'));
      const expected = { true: ['--occlusion'], false: [] }[value] ?? [`--occlusion=${value}`];
      if (JSON.stringify(said) !== JSON.stringify(expected)) {
        throw new CheckFailed(`#render-command does not say occlusion ${value}: ${command}`);
      }
    } else if (!command.includes(`--${key} ${value}`) && !command.includes(`--${key} '${value}'`)) {
      throw new CheckFailed(`#render-command has no --${key} ${value}: ${command}`);
    }
  }
  pass('#render-command names every setting of the view');
  if (!fs.existsSync(renderBin)) {
    notChecked.push(`running #render-command (no ${renderBin})`);
    return;
  }
  check(/^quatdepth-render .* -o view\.png$/.test(command), '#render-command is quatdepth-render ... -o view.png', command);
  // Standard output has no extension to tell the format by.
  const script = `"$RENDER"${command.slice('quatdepth-render'.length, -' -o view.png'.length)} --format png -o -`;
  const ran = await run('/bin/sh', ['-c', script], { env: { ...process.env, RENDER: renderBin } });
  const displayed = await displayedBytes(page);
  check(ran.code === 0 && ran.stdout.equals(displayed),
    'the shown quatdepth-render command writes exactly the PNG on screen', `exit ${ran.code}: ${ran.stderr}`);
}

// The quatdepth-mesh command holds the view's options alone (the table's
// view parameters, in its order, each with the view's value) and a copy
// button; returns the command.
async function checkMeshCommand(page, table) {
  const viewKeys = table.filter((p) => p.view).map((p) => p.key);
  check(JSON.stringify(viewKeys) === JSON.stringify(['box', 'c', 'w', 'angles', 'iterations', 'bailout']),
    'the table marks the set and how it is turned as the view', viewKeys.join(','));
  const shown = await page.evaluate(() => ({
    command: document.getElementById('mesh-command').textContent,
    copies: document.querySelector('button.copy[data-copy="mesh-command"]') !== null,
    view: window.quatdepthExplorer.view,
  }));
  const { command, view } = shown;
  const match = /^quatdepth-mesh (.*) --resolution 512 -o view\.ply$/.exec(command);
  check(match !== null && shown.copies, '#mesh-command is quatdepth-mesh ... --resolution 512 -o view.ply, with a copy button',
    command);
  const options = match[1].split(/ (?=--)/).map((option) => {
    const [, key, value] = /^--([a-z]+) (.*)$/.exec(option) ?? [];
    return [key, value?.replace(/^'(.*)'$/, '$1')];
  });
  check(JSON.stringify(options) === JSON.stringify(viewKeys.map((k) => [k, view[k]])),
    '#mesh-command gives each view parameter the view\'s value and no other option', command);
  return command;
}

// Two marks, the command sweeping between them, and its frames: the
// first must be A's picture and the last B's.
async function checkAnimation(page, address) {
  await page.click('#mark-a');
  const a = await page.evaluate(() => window.quatdepthExplorer.view);
  let shown = await page.evaluate(() => window.quatdepthExplorer.shown);
  await drag(page, 30, 25);
  shown = await settle(page, shown.query, 'the picture for mark B');
  // Wheel zoom moves the box too, so the sweep covers box values as well.
  await page.mouse.wheel({ deltaY: -200 });
  shown = await settle(page, shown.query, 'the zoomed picture for mark B');
  await page.click('#mark-b');
  const b = await page.evaluate(() => window.quatdepthExplorer.view);
  const accepted = [];
  for (const frames of ['0', '1000001', '2.5']) {
    await typeInto(page, '#frames', frames);
    const refused = await page.evaluate(() => ({ command: document.getElementById('animate-command').textContent,
      note: document.getElementById('animate-note').textContent }));
    if (refused.command !== '' || !/frames: give a whole number from 1 to 1000000/.test(refused.note)) {
      accepted.push(`${frames}: ${JSON.stringify(refused)}`);
    }
  }
  check(accepted.length === 0, 'a frame count of 0, over 1000000 or not whole gives no command, and the note says why',
    accepted.join('; '));
  await typeInto(page, '#frames', '2');
  const command = await page.$eval('#animate-command', (el) => el.textContent);
  const names = ['xMin', 'yMin', 'zMin', 'xMax', 'yMax', 'zMax', 'c0', 'c1', 'c2', 'c3', 'wSlice', 'angleA', 'angleB', 'angleC'];
  const real = (v) => [...v.box.split(','), ...v.c.split(','), v.w, ...v.angles.split(',')];
  const ra = real(a);
  const rb = real(b);
  const expected = names.filter((_, i) => Number(ra[i]) !== Number(rb[i]))
    .map((n) => `--animate ${n}=${ra[names.indexOf(n)]}:${rb[names.indexOf(n)]}`);
  const found = command.match(/--animate \S+/g) ?? [];
  check(expected.length >= 8 && JSON.stringify(found) === JSON.stringify(expected),
    'the animation command sweeps exactly the real parameters that differ between A and B, in order',
    `expected ${expected.join(' ')}; got ${command}`);
  check(command.startsWith(`quatdepth-render --box ${a.box} `) && command.includes(' --frames 2 ')
    && command.endsWith(' -o frame%04d.png'), 'the animation command starts from A with --frames 2', command);

  if (!fs.existsSync(renderBin)) {
    notChecked.push(`running the animation command (no ${renderBin})`);
    return;
  }
  const frames = fs.mkdtempSync(path.join(os.tmpdir(), 'quatdepth-explore-frames-'));
  try {
    const script = `"$RENDER"${command.slice('quatdepth-render'.length, -' frame%04d.png'.length)} "$FRAMES/frame%04d.rows"`;
    const ran = await run('/bin/sh', ['-c', script], { env: { ...process.env, RENDER: renderBin, FRAMES: frames } });
    check(ran.code === 0, 'the animation command runs', ran.stderr);
    const queryOf = (v) => page.evaluate((view) => window.quatdepthExplorer.queryOf(view), v);
    const rowsA = await get(new URL(`rows?${await queryOf(a)}`, address));
    const rowsB = await get(new URL(`rows?${await queryOf(b)}`, address));
    check(!rowsA.bytes.equals(rowsB.bytes), 'marks A and B render differently');
    check(fs.readFileSync(path.join(frames, 'frame0000.rows')).equals(rowsA.bytes)
      && fs.readFileSync(path.join(frames, 'frame0001.rows')).equals(rowsB.bytes),
    'the animation\'s first frame is A\'s render and its last is B\'s');
  } finally {
    fs.rmSync(frames, { recursive: true, force: true });
  }
}

// The occlusion box reaches the picture request, the fragment and the
// command; a picture made with --occlusion opens with it ticked.
async function checkOcclusion(page, browser, pictureRequests, cleanup) {
  let shown = await page.evaluate(() => window.quatdepthExplorer.shown);
  const plain = await displayedBytes(page);
  check(!(await page.$eval('#occlusion', (el) => el.checked)) && fragmentOf(page.url()).occlusion === 'false',
    'occlusion starts off, and the fragment says so');
  await page.click('#occlusion');
  shown = await settle(page, shown.query, 'the picture with occlusion');
  const asked = pictureRequests.at(-1);
  check(asked.get('occlusion') === 'true' && shown.query.includes('occlusion=true'),
    'ticking occlusion asks the server for occlusion=true', asked.toString());
  await page.waitForFunction(() => location.hash.includes('occlusion=true'), { timeout: 5_000 }).catch(() => {});
  check(fragmentOf(page.url()).occlusion === 'true', 'the fragment holds occlusion=true', page.url());
  check(!(await displayedBytes(page)).equals(plain), 'the picture with occlusion differs from the one without');
  await checkRenderCommand(page);

  await page.click('#occlusion');
  shown = await settle(page, shown.query, 'the picture with occlusion off again');
  check(pictureRequests.at(-1).get('occlusion') === 'false' && (await displayedBytes(page)).equals(plain),
    'unticking occlusion brings back the picture without it');

  // Another word quatdepth-render takes, from a link: neither ticked nor
  // not, and the command passes it on.
  await page.evaluate(() => { location.hash = location.hash.replace('occlusion=false', 'occlusion=yes'); });
  shown = await settle(page, shown.query, 'the picture with occlusion=yes');
  check(await page.$eval('#occlusion', (el) => el.indeterminate), 'occlusion=yes leaves the box neither ticked nor not');
  await checkRenderCommand(page);

  if (!fs.existsSync(renderBin)) {
    notChecked.push(`starting from a picture made with --occlusion (no ${renderBin})`);
    return;
  }
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quatdepth-explore-params-'));
  cleanup.push(() => fs.rmSync(folder, { recursive: true, force: true }));
  const picture = path.join(folder, 'occluded.png');
  const made = await run(renderBin, ['--size', '40x30', '--occlusion', '-o', picture]);
  check(made.code === 0, 'quatdepth-render --occlusion writes a picture', made.stderr);
  const { child, address } = await startServer(['--params', picture]);
  cleanup.push(() => child.kill('SIGTERM'));
  const other = await browser.newPage();
  try {
    await other.goto(address);
    const first = await settle(other, null, 'the first picture of a server started from an occluded picture');
    const ticked = await other.$eval('#occlusion', (el) => el.checked);
    const command = await other.$eval('#render-command', (el) => el.textContent);
    check(ticked && first.query.includes('occlusion=true') && command.split(' ').includes('--occlusion'),
      'a server started with --params of a picture made with --occlusion opens with occlusion on',
      `${ticked} ${first.query} ${command}`);
    check((await displayedBytes(other)).equals(fs.readFileSync(picture)),
      'and shows that picture byte for byte');
  } finally {
    await other.close();
    child.kill('SIGTERM');
  }
}

// The search select reaches the picture request, the fragment and the
// command; quatdepth's arguments are refused for the nearest search, and a
// search the server refuses (from a link) is shown beside the select, as
// other refusals are, with the last good picture kept.
async function checkSearch(page, address, pictureRequests, startView) {
  const view = await page.evaluate(() => window.quatdepthExplorer.view);
  check(view.search === startView.search && (await page.$eval('#search', (el) => el.value)) === view.search
    && fragmentOf(page.url()).search === view.search,
  'the search select starts at the server\'s start view, and the fragment says so', JSON.stringify(view.search));
  await page.select('#search', 'nearest');
  try {
    await page.waitForFunction(() => {
      const e = window.quatdepthExplorer;
      const img = document.getElementById('picture');
      return e.view.search === 'nearest' && e.shown?.kind === 'full' && e.shown.query === e.queryOf(e.view)
        && img.dataset.query === e.shown.query && img.complete;
    }, { timeout: 20_000 });
  } catch {
    throw new CheckFailed('choosing the nearest search never brought its full picture');
  }
  const shown = await page.evaluate(() => window.quatdepthExplorer.shown);
  check(pictureRequests.at(-1).get('search') === 'nearest' && shown.query.includes('&search=nearest&'),
    'choosing nearest asks the server for search=nearest', pictureRequests.at(-1).toString());
  const served = await get(new URL(`image.png?${shown.query}`, address));
  check(served.status === 200 && served.bytes.equals(await displayedBytes(page)),
    'the picture on screen is the server\'s PNG for search=nearest');
  await page.waitForFunction(() => location.hash.includes('search=nearest'), { timeout: 5_000 }).catch(() => {});
  check(fragmentOf(page.url()).search === 'nearest', 'the fragment holds search=nearest', page.url());
  const args = await page.waitForFunction(() => {
    const text = document.getElementById('positional-args').textContent;
    return text.startsWith('(refused: ') && text;
  }, { timeout: 10_000 }).then((h) => h.jsonValue(), () => null);
  check(typeof args === 'string' && args.startsWith('(refused: --search nearest: quatdepth searches by steps only'),
    'quatdepth\'s arguments say they cannot stand for the nearest search', JSON.stringify(args));
  await checkRenderCommand(page);

  await page.evaluate(() => { location.hash = location.hash.replace('search=nearest', 'search=bogus'); });
  try {
    await page.waitForFunction(() => !document.getElementById('error-search').hidden, { timeout: 10_000 });
  } catch {
    throw new CheckFailed('a refused search shows no message beside the search select');
  }
  await page.waitForFunction((q) => window.quatdepthExplorer.shown?.query === q, { timeout: 10_000 }, shown.query)
    .catch(() => {});
  const refused = await page.evaluate(() => ({
    message: document.getElementById('error-search').textContent,
    general: document.getElementById('general-message').hidden,
    status: document.getElementById('status').textContent,
    refusal: window.quatdepthExplorer.refusal,
    shown: window.quatdepthExplorer.shown?.query,
    marked: document.querySelector('.field[data-key="search"]').classList.contains('refused'),
  }));
  const answer = await get(new URL(`image.png?${shown.query.replace('search=nearest', 'search=bogus')}`, address));
  check(answer.status === 400 && refused.refusal?.status === 400 && refused.status === 'refused (400)'
    && refused.message === answer.bytes.toString().trim() && refused.message.startsWith('--search \'bogus\'')
    && refused.marked && refused.general,
  'the server\'s 400 for search=bogus is shown beside the search select', JSON.stringify(refused));
  check(refused.shown === shown.query, 'the refused search leaves the last good picture on screen', refused.shown);

  await page.select('#search', 'steps');
  const back = await settle(page, null, 'the picture after choosing steps again');
  check(back.query.includes('&search=steps&') && (await page.$eval('#error-search', (el) => el.hidden)),
    'choosing steps again renders the steps search and clears the message', back.query);
}

const sidesOf = (box) => [0, 1, 2].map((i) => Math.abs(box[i + 3] - box[i]));
const viewBox = async (page) => numbers(await page.evaluate(() => window.quatdepthExplorer.view.box));
const zoomNote = (page) => page.$eval('#zoom-limit', (el) => (el.hidden ? '' : el.textContent));

async function wheel(page, deltaY, times) {
  const box = await (await page.$('#stage')).boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  for (let i = 0; i < times; i++) await page.mouse.wheel({ deltaY });
}

// Many turns at once, dispatched in the page: the browser's own wheel
// events wait for a frame each (7 s for 200), and sent without waiting
// they would merge into a few.
const wheelMany = (page, deltaY, times) => page.evaluate((dy, n) => {
  const stage = document.getElementById('stage');
  const rect = stage.getBoundingClientRect();
  for (let i = 0; i < n; i++) {
    stage.dispatchEvent(new WheelEvent('wheel', { deltaY: dy, deltaMode: 0, bubbles: true, cancelable: true,
      clientX: rect.left + rect.width / 2, clientY: rect.top + rect.height / 2 }));
  }
}, deltaY, times);

// Distinct colours in the picture on screen, drawn into a canvas.
const coloursShown = (page) => page.evaluate(() => {
  const img = document.getElementById('picture');
  const canvas = document.createElement('canvas');
  canvas.width = img.naturalWidth;
  canvas.height = img.naturalHeight;
  const context = canvas.getContext('2d');
  context.drawImage(img, 0, 0);
  const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
  const colours = new Set();
  for (let i = 0; i < data.length && colours.size < 100; i += 4) colours.add((data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
  return colours.size;
});

// Strong wheel turns stop at the smallest and the largest box the page
// allows, the page says so, and the wheel always zooms back; after 200
// turns each way the picture is a real render of the view.
async function checkZoomLimits(page, address) {
  await wheelMany(page, -1000, 200);
  const inner = await viewBox(page);
  const innerSides = sidesOf(inner);
  const scale = Math.max(1, ...inner.map(Math.abs));
  check(inner.every(Number.isFinite) && innerSides.every((side) => side >= 0.99e-9 * scale && side < 1e-6),
    '200 strong zooms in stop at a box side of about a billionth, not at nothing', inner.join(','));
  check(/smallest/.test(await zoomNote(page)), 'the page says the box is the smallest', await zoomNote(page));

  await wheel(page, 1000, 1);
  const back = sidesOf(await viewBox(page));
  check(back.every((side, i) => Math.abs(side / innerSides[i] - 2) < 1e-3) && (await zoomNote(page)) === '',
    'one zoom out from the smallest box doubles its sides and clears the note', back.join(','));

  await wheelMany(page, 1000, 199);
  const outer = await viewBox(page);
  const outerSides = sidesOf(outer);
  check(outer.every(Number.isFinite) && outerSides.every((side) => side > 100 && side <= 1000 * 1.001),
    '200 strong zooms out stop at a box side of at most a thousand, finite', outer.join(','));
  check(/largest/.test(await zoomNote(page)), 'the page says the box is the largest', await zoomNote(page));

  await wheel(page, -1000, 9);
  const shown = await settle(page, null, 'the picture after 200 zooms in, 200 out and 9 back in');
  const near = sidesOf(await viewBox(page));
  check(near.every((side, i) => Math.abs(side / outerSides[i] - 1 / 512) < 1e-3) && (await zoomNote(page)) === '',
    'the largest box zooms back in', near.join(','));
  const [w, h] = (await page.evaluate(() => window.quatdepthExplorer.view.size)).split('x').map(Number);
  const bytes = await displayedBytes(page);
  const served = await get(new URL(shown.src, address));
  const natural = await page.$eval('#picture', (el) => [el.naturalWidth, el.naturalHeight]);
  check(served.status === 200 && served.bytes.equals(bytes) && JSON.stringify(pngSize(bytes)) === JSON.stringify({ width: w, height: h })
    && natural[0] === w && natural[1] === h && (await coloursShown(page)) > 10,
  'after the zooms the page shows the server\'s render of the view, decoded, with the set in it',
  `${served.status} ${natural.join('x')} ${shown.view}`);

  // Typed boxes past the limits: one of no size zooms out from the
  // smallest, and a move past what a double holds is not taken.
  await typeInto(page, '#box', '0.5,0.5,0.5,0.5,0.5,0.5');
  await wheel(page, 1000, 1);
  const grown = await viewBox(page);
  check(sidesOf(grown).every((side) => side >= 0.99e-9 && side < 1e-8) && grown.every((v) => Math.abs(v - 0.5) < 1e-8),
    'a box of no size zooms out from the smallest box', grown.join(','));
  // Six digits of a side a hair over the smallest are the smallest.
  await typeInto(page, '#box', '0,0,0,1.000001e-9,1.000001e-9,1.000001e-9');
  check(/smallest/.test(await zoomNote(page)), 'a box a rounding over the smallest is the smallest',
    await zoomNote(page));
  const huge = '1.7e308,-1,-1,1.79e308,1,1';
  await typeInto(page, '#box', huge);
  await page.focus('#stage');
  await page.keyboard.down('Shift');
  await page.keyboard.press('ArrowRight');
  await page.keyboard.up('Shift');
  const moved = await page.evaluate(() => window.quatdepthExplorer.view.box);
  check(moved === huge, 'a move that would take the box past the largest double is not taken', moved);
  await typeInto(page, '#box', shown.view.match(/box=([^&]*)/)[1]);
  await settle(page, null, 'the picture after restoring the box');
}

// A number that is zero with a minus sign, anywhere in a text.
const NEGATIVE_ZERO = /(^|[^\w.-])-(?:0+\.?0*|\.0+)(?:e[-+]?\d+)?(?![\w.])/i;

// "-0" from a link or typed is written as 0 in the fragment and the commands.
async function checkNegativeZero(page) {
  const before = await page.evaluate(() => window.quatdepthExplorer.view);
  await page.evaluate((hash) => { location.hash = hash; },
    '#box=-1.2,-0,-1.2,1.2,1.2,1.2&c=-0,0.2,0.3,-0.0&angles=0.3,-0,0.7&size=64x48');
  await settle(page, null, 'the picture of a view with -0 in it');
  const opened = fragmentOf(page.url());
  check(opened.box === '-1.2,0,-1.2,1.2,1.2,1.2' && opened.c === '0,0.2,0.3,0.0' && opened.angles === '0.3,0,0.7',
    'a -0 from a link is written as 0 in the fragment', page.url());
  const command = await page.$eval('#render-command', (el) => el.textContent);
  check(command.includes('--c 0,0.2,0.3,0.0') && !NEGATIVE_ZERO.test(command),
    'and in the quatdepth-render command', command);

  await typeInto(page, '#w', '-0');
  await page.waitForFunction(() => location.hash.includes('&w=0&'), { timeout: 5_000 }).catch(() => {});
  await settle(page, null, 'the picture after typing w = -0');
  const typed = fragmentOf(page.url());
  const shownCommand = await page.$eval('#render-command', (el) => el.textContent);
  await page.click('#mark-a');
  await page.click('#mark-b');
  const animate = await page.$eval('#animate-command', (el) => el.textContent);
  check(typed.w === '0' && shownCommand.includes('--w 0 ') && !NEGATIVE_ZERO.test(shownCommand)
    && animate.includes('--w 0 ') && !NEGATIVE_ZERO.test(animate),
  'a typed w of -0 is written as 0 in the fragment, the command and the animation command',
  `${page.url()} ${shownCommand} ${animate}`);
  await page.evaluate((view) => {
    location.hash = window.quatdepthExplorer.queryOf(view);
  }, before);
  await settle(page, null, 'the picture after the -0 checks');
}

// A wide view previews wide: a quarter of each side, each its own.
async function checkPreviewShape(page) {
  const size = await page.evaluate(() => window.quatdepthExplorer.view.size);
  await typeInto(page, '#size', '400x100');
  await settle(page, null, 'the 400x100 picture');
  const { preview } = await timingsOfShown(page);
  const natural = await page.$eval('#picture', (el) => `${el.naturalWidth}x${el.naturalHeight}`);
  check(new URLSearchParams(preview?.query).get('size') === '100x25' && natural === '400x100',
    'a 400x100 view previews at 100x25', `${preview?.query} then ${natural}`);
  await typeInto(page, '#size', size);
  await settle(page, null, 'the picture at its size again');
}

// 409 means a newer request of this page took over: "superseded", and
// the page waits for that one. 503 is about the server: busy (it gives
// Retry-After, and the page asks again then) or stopping (the page says so
// and keeps its last picture). The answers are made here, in the browser.
async function checkServerAnswers(page) {
  let answer = null;
  const intercept = (request) => {
    if (request.isInterceptResolutionHandled()) return;
    const url = new URL(request.url());
    if (answer && url.pathname === '/image.png' && (!answer.fullOnly || url.searchParams.get('size') === answer.fullOnly)) {
      const { status, headers = {}, body } = answer;
      if (answer.once) answer = null;
      request.respond({ status, headers, contentType: 'text/plain', body });
    } else {
      request.continue();
    }
  };
  const open = (angles) => page.evaluate((a) => {
    const e = window.quatdepthExplorer;
    location.hash = e.queryOf({ ...e.view, angles: a });
  }, angles);
  const seen = () => page.evaluate(() => ({
    status: document.getElementById('status').textContent,
    general: document.getElementById('general-message').hidden ? '' : document.getElementById('general-message').textContent,
    shown: window.quatdepthExplorer.shown?.query, kind: document.getElementById('picture').dataset.kind,
  }));
  const statusBecomes = (pattern, what) => page.waitForFunction((p) => new RegExp(p).test(document.getElementById('status').textContent),
    { timeout: 10_000 }, pattern).catch(async () => { throw new CheckFailed(`${what}: ${JSON.stringify(await seen())}`); });

  await page.setRequestInterception(true);
  page.on('request', intercept);
  try {
    const kept = await page.evaluate(() => window.quatdepthExplorer.shown);
    const size = await page.evaluate(() => window.quatdepthExplorer.view.size);

    answer = { status: 409, body: 'superseded by a newer request' };
    await open('0.1,0.2,0.3');
    await statusBecomes('^superseded$', 'a 409 never showed as superseded');
    const superseded = await seen();
    check(superseded.general === '' && superseded.shown === kept.query,
      'a 409 shows "superseded", no message, and keeps the picture', JSON.stringify(superseded));

    // Stopping: the preview arrives, the full picture gets 503.
    answer = { status: 503, body: 'the server is stopping', fullOnly: size };
    await open('0.1,0.2,0.4');
    await statusBecomes('503', 'a 503 never showed');
    await page.waitForFunction((q) => window.quatdepthExplorer.shown?.query === q, { timeout: 10_000 }, kept.query)
      .catch(() => {});
    const stopping = await seen();
    check(/unavailable/.test(stopping.status) && !/superseded|refused/.test(stopping.status)
      && stopping.general === 'the server is stopping' && stopping.shown === kept.query && stopping.kind === 'full',
    'a 503 without Retry-After shows the server unavailable with its message, and the last full picture',
    JSON.stringify(stopping));

    answer = { status: 503, headers: { 'Retry-After': '1' }, body: 'busy rendering', once: true };
    await open('0.1,0.2,0.5');
    await statusBecomes('busy', 'a 503 with Retry-After never showed as busy');
    const busy = await seen();
    const shown = await settle(page, null, 'the picture asked again after Retry-After');
    const after = await seen();
    check(/busy \(503\)/.test(busy.status) && !/superseded/.test(busy.status) && busy.general === 'busy rendering'
      && shown.query.includes('angles=0.1,0.2,0.5&') && after.general === '',
    'a 503 with Retry-After shows the server busy, asks again, and the picture comes', JSON.stringify(busy));

    // A newer view while waiting goes at once, and the wait is dropped.
    answer = { status: 503, headers: { 'Retry-After': '1' }, body: 'busy rendering', once: true };
    await open('0.1,0.2,0.6');
    await statusBecomes('busy', 'a second 503 with Retry-After never showed as busy');
    await open('0.1,0.2,0.7');
    await settle(page, null, 'the picture of a view changed while the server was busy');
    await new Promise((resolve) => { setTimeout(resolve, 1500); });
    const later = await page.evaluate(() => window.quatdepthExplorer.shown.view);
    check(later.includes('angles=0.1,0.2,0.7&'), 'a view changed while waiting on a busy server stays shown after the wait',
      later);
  } finally {
    answer = null;
    page.off('request', intercept);
    await page.setRequestInterception(false);
  }
}

async function checkGestures(page) {
  // Shift-drag rolls: only angle C moves.
  let before = fragmentOf(page.url());
  let shown = await page.evaluate(() => window.quatdepthExplorer.shown);
  await drag(page, 60, 0, { shift: true });
  shown = await settle(page, shown.query, 'the picture after a shift-drag');
  let after = fragmentOf(page.url());
  const [a0, b0, c0] = numbers(before.angles);
  const [a1, b1, c1] = numbers(after.angles);
  check(a1 === a0 && b1 === b0 && c1 !== c0 && shown.query.includes(`angles=${after.angles}&`),
    'a shift-drag changes angle C alone', `${before.angles} -> ${after.angles}`);

  // The wheel scales the box about its centre.
  before = after;
  await page.mouse.wheel({ deltaY: 300 });
  shown = await settle(page, shown.query, 'the picture after the wheel');
  after = fragmentOf(page.url());
  const box0 = numbers(before.box);
  const box1 = numbers(after.box);
  const ratios = [0, 1, 2].map((i) => (box1[i + 3] - box1[i]) / (box0[i + 3] - box0[i]));
  const centresKept = [0, 1, 2].every((i) => Math.abs((box1[i] + box1[i + 3]) - (box0[i] + box0[i + 3])) < 1e-4);
  check(ratios[0] > 1.01 && ratios.every((r) => Math.abs(r - ratios[0]) < 1e-4) && centresKept,
    'the wheel (down) zooms out, scaling all six box values about the box centre', `${before.box} -> ${after.box}`);

  // Right-drag and the arrow keys move the box in x and y.
  before = after;
  await drag(page, -50, 30, { button: 'right' });
  shown = await settle(page, shown.query, 'the picture after a right-drag');
  after = fragmentOf(page.url());
  const moved = numbers(after.box).map((v, i) => v - numbers(before.box)[i]);
  check(moved[0] > 0 && moved[1] < 0 && moved[2] === 0 && Math.abs(moved[0] - moved[3]) < 1e-5
    && Math.abs(moved[1] - moved[4]) < 1e-5 && moved[5] === 0 && after.angles === before.angles,
  'a right-drag moves the box in x and y, keeping its extent, z and the angles', `${before.box} -> ${after.box}`);

  before = after;
  await page.focus('#stage');
  await page.keyboard.press('ArrowRight');
  shown = await settle(page, shown.query, 'the picture after an arrow key');
  after = fragmentOf(page.url());
  const stepped = numbers(after.box).map((v, i) => v - numbers(before.box)[i]);
  check(stepped[0] > 0 && Math.abs(stepped[0] - stepped[3]) < 1e-5 && stepped[1] === 0 && stepped[4] === 0,
    'the right arrow key moves the box along x', `${before.box} -> ${after.box}`);
  check(/^[-\d.,]+$/.test(after.box) && /^[-\d.,]+$/.test(after.angles)
    && after.box.split(',').every((v) => v.replace(/^-|\./g, '').length <= 16),
  'moved numbers are short plain decimals', `${after.box} ${after.angles}`);
}

async function main(cleanup) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quatdepth-explore-chromium-'));
  cleanup.push(() => fs.rmSync(profile, { recursive: true, force: true }));
  let browser;
  try {
    browser = await puppeteer.launch({
      executablePath: chromium, headless: true, args: [...BROWSER_ARGS, `--user-data-dir=${profile}`],
      defaultViewport: { width: 1280, height: 800 },
    });
  } catch (err) {
    for (const step of cleanup.reverse()) step();
    // Nothing was checked yet, so nothing passes.
    skip(`Chromium at ${chromium} cannot start: ${err.message.split('\n')[0]}`);
  }
  cleanup.push(() => browser.close().catch(() => {}));

  const { child: server, address } = await startServer();
  cleanup.push(() => server.kill('SIGTERM'));
  check(/^http:\/\/127\.0\.0\.1:\d+\/$/.test(address), 'the server prints its address first', address);
  const origin = new URL(address).origin;

  const page = await browser.newPage();

  const pageErrors = [];
  const foreign = [];
  const pictureRequests = [];
  page.on('pageerror', (err) => pageErrors.push(err.message));
  page.on('console', (msg) => { if (msg.type() === 'error') console.log(`page console: ${msg.text()}`); });
  page.on('request', (request) => {
    const url = request.url();
    if (!url.startsWith(origin) && !url.startsWith('blob:') && !url.startsWith('data:')) foreign.push(url);
    if (url.startsWith(`${origin}/image.png?`)) pictureRequests.push(new URL(url).searchParams);
  });

  // ---- first picture
  const index = await get(address);
  check(index.status === 200 && !index.bytes.includes('__START_VIEW__'), 'the page comes with its start view filled in');
  await page.goto(address);
  let shown = await settle(page, null, 'the first full picture');
  const first = await page.evaluate(() => ({
    view: window.quatdepthExplorer.view, hash: location.hash,
    natural: [document.getElementById('picture').naturalWidth, document.getElementById('picture').naturalHeight],
  }));
  const startView = JSON.parse(index.bytes.toString().match(/<script id="start-view" type="application\/json">([^<]*)<\/script>/)[1]);
  check(Object.entries(startView).every(([k, v]) => first.view[k] === v),
    'the page starts at the server\'s start view', JSON.stringify(first.view));
  // The page's keys and choices are the server's parameter table's.
  const table = JSON.parse(index.bytes.toString().match(/<script id="parameters" type="application\/json">([^<]*)<\/script>/)[1]);
  check(JSON.stringify(Object.keys(first.view)) === JSON.stringify(table.map((p) => p.key)),
    'the view holds the table\'s keys in its order', Object.keys(first.view).join(','));
  const selects = await page.evaluate((keys) => Object.fromEntries(keys.map((k) => [k,
    [...document.getElementById(k).options].map((o) => o.value)])),
  table.filter((p) => p.kind === 'choice' || p.kind === 'count').map((p) => p.key));
  check(table.filter((p) => p.kind === 'choice').every((p) => JSON.stringify(selects[p.key]) === JSON.stringify(p.choices))
    && table.filter((p) => p.kind === 'count').every((p) => selects[p.key].length === p.most),
  'each choice\'s select offers the table\'s names', JSON.stringify(selects));
  const fieldKeys = await page.evaluate(() => [...document.querySelectorAll('.field[data-key]')].map((f) => f.dataset.key));
  check(JSON.stringify([...fieldKeys].sort()) === JSON.stringify(table.map((p) => p.key).sort()),
    'one field a parameter', fieldKeys.join(','));
  check(first.hash === `#${shown.view}` && first.hash.includes(`box=${first.view.box}&`),
    'the fragment holds the whole view with commas readable', first.hash);
  const [sw, sh] = first.view.size.split('x').map(Number);
  check(first.natural[0] === sw && first.natural[1] === sh, `the full picture is ${first.view.size}`, first.natural.join('x'));
  const firstTimings = await timingsOfShown(page);
  const previewQuery = firstTimings.preview && new URLSearchParams(firstTimings.preview.query);
  check(previewQuery && previewQuery.get('size') === `${Math.max(1, Math.floor(sw / 4))}x${Math.max(1, Math.floor(sh / 4))}`
    && previewQuery.get('coarse') === String(Math.max(1, Math.floor(Number(first.view.coarse) / 4))),
  'a preview at a quarter of the size and of the coarse steps came first', firstTimings.preview?.query);
  const served = await get(new URL(shown.src, address));
  check(served.status === 200 && served.type.startsWith('image/png') && served.bytes.equals(await displayedBytes(page)),
    'the picture on screen is the server\'s PNG for the shown view');

  const meshBefore = await checkMeshCommand(page, table);

  // ---- drag, then reload
  const anglesBefore = fragmentOf(page.url()).angles;
  shown = await dragAndMeasure(page, 'default', 3);
  const dragged = fragmentOf(page.url());
  const meshAfter = await checkMeshCommand(page, table);
  check(meshAfter !== meshBefore && meshAfter.includes(` --angles ${dragged.angles} `),
    '#mesh-command follows the view as it is turned', `${meshBefore} -> ${meshAfter}`);
  const [da, db, dc] = numbers(dragged.angles).map((v, i) => v - numbers(anglesBefore)[i]);
  check(da !== 0 && db !== 0 && dc === 0, 'dragging turns the view about x and y', `${anglesBefore} -> ${dragged.angles}`);
  check(shown.query.includes(`angles=${dragged.angles}&`) && shown.query !== `${first.hash.slice(1)}`,
    'a new full picture arrived for the dragged angles', shown.query);
  check(/^-?\d+(\.\d{1,4})?(,-?\d+(\.\d{1,4})?){2}$/.test(dragged.angles), 'dragged angles are plain decimals of at most 4 places',
    dragged.angles);
  const seqs = pictureRequests.map((p) => [p.get('page'), Number(p.get('seq'))]);
  check(seqs.length > 2 && seqs.every(([id, n], i) => /^[A-Za-z0-9_-]{1,64}$/.test(id ?? '') && id === seqs[0][0]
    && Number.isInteger(n) && (i === 0 || n > seqs[i - 1][1])), 'every picture request carries this page\'s id and an increasing seq',
  JSON.stringify(seqs.slice(0, 5)));

  const url = page.url();
  const bytesBefore = await displayedBytes(page);
  const servedBefore = await get(new URL(shown.src, address));
  await page.reload();
  const reloaded = await settle(page, null, 'the picture after reload');
  check(page.url() === url && reloaded.query === shown.query, 'a reload shows the same view', `${shown.query} -> ${reloaded.query}`);
  const servedAfter = await get(new URL(reloaded.src, address));
  check((await displayedBytes(page)).equals(bytesBefore) && servedAfter.bytes.equals(servedBefore.bytes),
    'after reload, the same PNG bytes are on screen and served for the shown picture');

  await checkRowsAndArgs(page, address);
  await checkRenderCommand(page);
  const links = await page.evaluate(() => ({
    png: document.getElementById('save-png').getAttribute('href'),
    exr: document.getElementById('save-exr').getAttribute('href'),
    download: document.getElementById('save-png').hasAttribute('download'),
  }));
  const exr = await get(new URL(links.exr, address));
  check(links.png === `image.png?${reloaded.view}` && links.download && links.exr === `depth.exr?${reloaded.view}`
    && exr.status === 200 && exr.bytes.readUInt32LE(0) === 20000630,
  'the save links name the shown view, and the EXR link serves an OpenEXR file', JSON.stringify(links));

  await checkGestures(page);
  await checkOcclusion(page, browser, pictureRequests, cleanup);
  await checkSearch(page, address, pictureRequests, startView);
  await checkRefusal(page, address);
  await checkAnimation(page, address);
  await checkZoomLimits(page, address);
  await checkNegativeZero(page);
  await checkPreviewShape(page);
  await checkServerAnswers(page);

  // ---- workload 1, opened through the fragment (a hashchange: the page is already open)
  const workloadHash = `#${Object.entries(WORKLOAD_1).map(([k, v]) => `${k}=${v}`).join('&')}`;
  await page.evaluate((hash) => { location.hash = hash; }, workloadHash);
  shown = await settle(page, null, 'workload 1\'s picture');
  const wv = await page.evaluate(() => window.quatdepthExplorer.view);
  check(Object.entries(WORKLOAD_1).every(([k, v]) => wv[k] === v), 'a changed fragment opens its view (workload 1)', JSON.stringify(wv));
  const wt = await timingsOfShown(page);
  console.log(`timing workload 1 (opened): preview ${wt.preview?.ms.toFixed(1) ?? '-'} ms, full ${wt.full.ms.toFixed(1)} ms`);
  await dragAndMeasure(page, 'workload 1', 3);

  // The panel scrolled while the checks typed into it; a person first sees its top.
  await page.evaluate(() => { document.getElementById('panel').scrollTop = 0; document.activeElement?.blur(); });
  await page.screenshot({ path: path.join(outDir, 'explore-screenshot.png') });
  console.log(`screenshot: ${path.join(outDir, 'explore-screenshot.png')}`);

  check(pageErrors.length === 0, 'the page threw no errors', pageErrors.join('; '));
  check(foreign.length === 0, 'the page asked for nothing outside the server', foreign.join(' '));
}

// ---- run ---------------------------------------------------------------

const cleanup = [];
let status = 0;
const limit = setTimeout(() => {
  console.error(`FAILED: not done within ${TIME_LIMIT_MS / 1000} s`);
  for (const step of cleanup.reverse()) {
    try { step(); } catch { /* going down anyway */ }
  }
  process.exit(1);
}, TIME_LIMIT_MS);
try {
  await main(cleanup);
} catch (err) {
  status = 1;
  console.error(`FAILED: ${err instanceof CheckFailed ? err.message : err.stack}`);
}
for (const step of cleanup.reverse()) {
  try {
    await step();
  } catch {
    // Cleaning up after a failure must not hide it.
  }
}
clearTimeout(limit);
for (const what of notChecked) console.log(`not checked: ${what}`);
console.log(`${checked.length} passed, ${status} failed`);
process.exit(status);
