// A folder of videos (make-video-tree) indexed in the modern style with the
// default --video=transcode and opened from the local folder (file://) in
// headless Chromium, as a person would watch it: every clip that can be read
// has a cell whose poster loads and stands as the clip is shown (the phone's
// portrait clip, stored on its side, taller than wide); each clip's viewer
// page has a <video> whose length the browser reads as the clip's and that
// plays (muted, as browsers allow without a tap); the HEVC clip, which
// browsers do not play, plays from its MP4 web copy; the cut and the empty
// file are warnings, the run still exits 0, and their viewer pages offer the
// file without a player that cannot play; the photo beside them keeps its
// cell. Each player has the clip's size before it plays and fits a phone's
// screen; keys and swipes on the player stay with it (seeking) rather than
// turning the page. No page runs a script but the theme's or logs an error,
// and axe-core finds no serious violation on a video's viewer page. A second
// run over the unchanged tree reads and encodes no video again, and
// `vellumcast-cli clean` leaves the tree as it was before the first run,
// byte for byte.
//
// Usage:
//   node video_check.mjs --cli=PATH --make-tree=PATH [--work=DIR] [--keep]
//
// Exit status: 0 when every check passes, 1 on any failure, 2 on bad usage.

import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import {
  Check, CheckNothingRuns, kChromiumArgs, kChromiumPath, LoadBrowserPackages, ParseArguments, RunTool, Summary,
  ThemeScripts,
} from './check_kit.mjs';

const { chromium, axePath } = await LoadBrowserPackages('video_check');

const kTimeoutMs = 20_000;
// What make-video-tree writes: the clips that play, their length, and
// whether each is shown taller than wide; the HEVC one plays from its web copy.
const kClips = [
  { name: 'portrait.mp4', seconds: 3, portrait: true, webCopy: false },
  { name: 'phone.mov', seconds: 2, portrait: false, webCopy: true },
  { name: 'clip.webm', seconds: 2, portrait: false, webCopy: false },
];
const kDamaged = ['cut.mp4', 'empty.mp4'];
const kPhoto = 'photo.jpg';
// How far the browser's idea of a clip's length may stray from the clip's.
const kDurationSlack = 0.2;

// Every file and folder under `root` by its relative path: a file's SHA-256, a folder's "dir".
function Snapshot(root) {
  const found = new Map();
  for (const entry of fs.readdirSync(root, { recursive: true, withFileTypes: true })) {
    const full = path.join(entry.parentPath ?? entry.path, entry.name);
    const relative = path.relative(root, full);
    if (entry.isDirectory()) found.set(relative, 'dir');
    else found.set(relative, crypto.createHash('sha256').update(fs.readFileSync(full)).digest('hex'));
  }
  return found;
}

function CompareSnapshots(before, after, when) {
  const gone = [...before.keys()].filter((k) => !after.has(k));
  const added = [...after.keys()].filter((k) => !before.has(k));
  const changed = [...before.keys()].filter((k) => after.has(k) && after.get(k) !== before.get(k));
  Check(gone.length === 0 && added.length === 0 && changed.length === 0,
    `${when}: removed ${JSON.stringify(gone)}, left ${JSON.stringify(added)}, changed ${JSON.stringify(changed)}`);
}

// One index run with -v (the counters); the CLI's output. RunTool throws on an exit status other than 0.
function Index(args, root, what) {
  const output = RunTool(args.cli, ['index', '--style=modern', '-v', root], `vellumcast-cli index (${what})`);
  const counter = (pattern) => {
    const match = pattern.exec(output.stdout);
    return match ? Number(match[1]) : null;
  };
  return {
    warnings: output.stderr.split('\n').filter((line) => line.includes('warning:')),
    decoded: counter(/^decoded (\d+), reused \d+$/m),
    transcoded: counter(/^videos \d+, transcoded (\d+)$/m),
    output,
  };
}

function CheckFirstRun(run) {
  for (const name of kDamaged) {
    const named = run.warnings.filter((line) => line.includes(`${path.sep}${name}:`));
    Check(named.length === 1, `the first run warns ${named.length} times about ${name}: ${JSON.stringify(run.warnings)}`);
  }
  for (const name of [...kClips.map((c) => c.name), kPhoto]) {
    const named = run.warnings.filter((line) => line.includes(`${path.sep}${name}:`));
    Check(named.length === 0, `the first run warns about ${name}: ${JSON.stringify(named)}`);
  }
  const copies = kClips.filter((c) => c.webCopy).length;
  Check(run.transcoded === copies, `the first run made ${run.transcoded} web copies, want ${copies}: ${run.output.stdout}`);
}

// A page with the traps set: a console error or a page error fails the check.
async function OpenPage(context, problems) {
  const page = await context.newPage();
  page.setDefaultTimeout(kTimeoutMs);
  page.on('console', (message) => { if (message.type() === 'error') problems.push(`console: ${message.text()}`); });
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  return page;
}

// The folder page's cells once their images have loaded (or failed to):
// name, link, whether it is a video's, its image's natural size.
async function Cells(page) {
  await page.waitForFunction(() => Array.from(document.images).every((img) => img.complete), null,
    { timeout: kTimeoutMs });
  return page.$$eval('ul.vc-grid > li', (items) => items.map((li) => {
    const link = li.querySelector('a');
    const img = li.querySelector('img');
    return {
      name: img ? img.alt : li.querySelector('.vc-blank')?.textContent,
      href: link.href,
      video: link.classList.contains('vc-video'),
      image: img ? { src: img.src, width: img.naturalWidth, height: img.naturalHeight } : null,
    };
  }));
}

async function CheckFolderPage(page, root) {
  await page.goto(pathToFileURL(path.join(root, 'vellumcast.html')).href, { waitUntil: 'load' });
  const cells = await Cells(page);
  const byName = new Map(cells.map((c) => [c.name, c]));
  for (const cell of cells) {
    if (cell.image) Check(cell.image.width > 0, `the image of ${cell.name}'s cell does not load: ${cell.image.src}`);
  }
  for (const clip of kClips) {
    const cell = byName.get(clip.name);
    if (!Check(cell !== undefined, `no cell for ${clip.name}: ${JSON.stringify(cells.map((c) => c.name))}`)) continue;
    Check(cell.video, `the cell of ${clip.name} is not marked as a video`);
    if (!Check(cell.image !== null && cell.image.width > 0, `the cell of ${clip.name} shows no poster`)) continue;
    const tall = cell.image.height > cell.image.width;
    Check(tall === clip.portrait, `the poster of ${clip.name} is ${cell.image.width} x ${cell.image.height}, `
      + `want ${clip.portrait ? 'taller than wide' : 'wider than tall'}`);
  }
  const photo = byName.get(kPhoto);
  if (Check(photo !== undefined, `no cell for ${kPhoto}`)) {
    Check(!photo.video && photo.image !== null && photo.image.width > 0,
      `the cell of ${kPhoto}: ${JSON.stringify(photo)}`);
  }
  return byName;
}

// The viewer's <video> after its metadata has loaded, or why it did not:
// { sources, duration, width, height (the clip's shown size), box (the
// player's on the page), pageWidth, viewportWidth } or { error }.
async function LoadedVideo(page) {
  return page.evaluate((timeout) => new Promise((resolve) => {
    const video = document.querySelector('video');
    if (!video) {
      resolve({ error: 'no <video> on the page' });
      return;
    }
    const sources = Array.from(video.querySelectorAll('source')).map((s) => s.src);
    const done = () => {
      const box = video.getBoundingClientRect();
      resolve({
        sources, duration: video.duration, width: video.videoWidth, height: video.videoHeight,
        box: { width: box.width, height: box.height, right: box.right },
        pageWidth: document.scrollingElement.scrollWidth, viewportWidth: document.documentElement.clientWidth,
      });
    };
    const fail = (what) => resolve({ sources, error: `${what} (networkState ${video.networkState}, `
      + `error ${video.error?.code ?? 'none'})` });
    if (video.readyState >= 1) {
      done();
      return;
    }
    video.addEventListener('loadedmetadata', done, { once: true });
    // A failed <source> reports on itself; the video's own error is for src.
    for (const s of video.querySelectorAll('source')) s.addEventListener('error', () => fail(`${s.src} failed`));
    video.addEventListener('error', () => fail('the video failed'));
    setTimeout(() => fail('no metadata in time'), timeout);
    video.load();
  }), kTimeoutMs);
}

// Plays the viewer's video muted; the time it reached, or why it did not play.
async function PlayMuted(page) {
  return page.evaluate((timeout) => new Promise((resolve) => {
    const video = document.querySelector('video');
    video.muted = true;
    const stop = setTimeout(() => resolve({ time: video.currentTime, error: 'no progress in time' }), timeout);
    video.addEventListener('timeupdate', () => {
      if (video.currentTime > 0.3 || video.ended) {
        clearTimeout(stop);
        resolve({ time: video.currentTime });
      }
    });
    video.play().catch((error) => {
      clearTimeout(stop);
      resolve({ time: video.currentTime, error: `play(): ${error.message}` });
    });
  }), kTimeoutMs);
}

// Each clip's viewer plays it; a damaged file's viewer at least offers the
// file itself. No page runs a script but the theme's own.
async function CheckViewerPages(page, root, byName) {
  const original = (name) => pathToFileURL(path.join(root, name)).href;
  const themeScripts = ThemeScripts();
  for (const name of kDamaged) {
    const cell = byName.get(name);
    if (!cell) continue;
    await page.goto(cell.href, { waitUntil: 'load' });
    const links = await page.$$eval('main a', (as) => as.map((a) => a.href));
    Check(links.includes(original(name)), `the viewer of ${name} does not link the file: ${JSON.stringify(links)}`);
    await CheckNothingRuns(page, themeScripts, `the viewer of ${name}`);
  }
  for (const clip of kClips) {
    const cell = byName.get(clip.name);
    if (!cell) continue;
    await page.goto(cell.href, { waitUntil: 'load' });
    await CheckNothingRuns(page, themeScripts, `the viewer of ${clip.name}`);
    const video = await LoadedVideo(page);
    if (!Check(video.error === undefined, `the viewer of ${clip.name}: ${video.error}`)) continue;
    const source = video.sources[0];
    if (clip.webCopy) {
      Check(video.sources.length === 1 && /\/quarto_tn\/vc-[0-9a-f]{16}-web\.mp4$/.test(source),
        `the viewer of ${clip.name} plays ${JSON.stringify(video.sources)}, want its MP4 web copy`);
    } else {
      Check(video.sources.length === 1 && source === original(clip.name),
        `the viewer of ${clip.name} plays ${JSON.stringify(video.sources)}, want the original`);
    }
    Check(Math.abs(video.duration - clip.seconds) <= kDurationSlack,
      `the viewer of ${clip.name}: the browser reads ${video.duration} s, want ${clip.seconds} s`);
    Check(video.height > video.width === clip.portrait,
      `the viewer of ${clip.name}: the browser shows it ${video.width} x ${video.height}`);
    // The screen holds the clip whole: the player has its size before it plays, not its poster's.
    Check(Math.abs(video.box.width - video.width) <= 1 && Math.abs(video.box.height - video.height) <= 1,
      `the viewer of ${clip.name}: the player is ${video.box.width} x ${video.box.height} before it plays, `
      + `the clip ${video.width} x ${video.height}`);
    const played = await PlayMuted(page);
    Check(played.error === undefined && played.time > 0,
      `the viewer of ${clip.name} does not play: ${played.error} at ${played.time} s`);
  }
}

// On a touch phone held upright and on its side: each player fits the
// screen, keeps the clip's shape, and nothing scrolls sideways. Keys and
// swipes meant for the player (seeking) stay on its page; elsewhere they
// still turn to the next page.
async function CheckPhone(browser, byName, problems) {
  for (const viewport of [{ width: 390, height: 844 }, { width: 844, height: 390 }]) {
    const context = await browser.newContext({ viewport, hasTouch: true, isMobile: true });
    const page = await OpenPage(context, problems);
    const where = `on a ${viewport.width} x ${viewport.height} phone`;
    for (const clip of kClips) {
      const cell = byName.get(clip.name);
      if (!cell) continue;
      await page.goto(cell.href, { waitUntil: 'load' });
      const video = await LoadedVideo(page);
      if (!Check(video.error === undefined, `${where}, the viewer of ${clip.name}: ${video.error}`)) continue;
      Check(video.pageWidth <= video.viewportWidth && video.box.right <= video.viewportWidth
        && video.box.height <= viewport.height,
      `${where}, the viewer of ${clip.name} is ${video.pageWidth} px wide, its player `
        + `${video.box.width} x ${video.box.height} ends at ${video.box.right} px`);
      const shape = (video.box.width / video.box.height) / (video.width / video.height);
      Check(Math.abs(shape - 1) < 0.02,
        `${where}, the player of ${clip.name} is ${video.box.width} x ${video.box.height}, the clip ${video.width} x ${video.height}`);
    }
    await context.close();
  }

  const context = await browser.newContext({ viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true });
  const page = await OpenPage(context, problems);
  const cell = byName.get(kClips.find((c) => c.webCopy).name);
  await page.goto(cell.href, { waitUntil: 'load' });
  const next = await page.$eval('#vc-next', (a) => a.href).catch(() => null);
  if (!Check(next !== null, `the viewer of ${cell.name} has no next link`)) {
    await context.close();
    return;
  }
  const staysAfter = async (action) => {
    const navigated = page.waitForNavigation({ timeout: 1000 }).then(() => true, () => false);
    await action();
    return !(await navigated) && page.url() === cell.href;
  };
  await page.focus('video');
  for (const key of ['ArrowRight', 'ArrowLeft']) {
    Check(await staysAfter(() => page.keyboard.press(key)), `${key} on the focused player of ${cell.name} left its page`);
  }
  const swipe = () => page.$eval('video', (video) => {
    const at = (x) => new Touch({ identifier: 1, target: video, clientX: x, clientY: 100 });
    video.dispatchEvent(new TouchEvent('touchstart', { touches: [at(300)], changedTouches: [at(300)], bubbles: true }));
    video.dispatchEvent(new TouchEvent('touchend', { touches: [], changedTouches: [at(60)], bubbles: true }));
  });
  Check(await staysAfter(swipe), `a swipe along the player of ${cell.name} (its seek bar) left its page`);
  await page.evaluate(() => document.activeElement.blur());
  await Promise.all([page.waitForNavigation(), page.keyboard.press('ArrowRight')]);
  Check(page.url() === next, `ArrowRight outside the player of ${cell.name} led to ${page.url()}, want ${next}`);
  await context.close();
}

async function CheckAccessibility(page, cell) {
  await page.goto(cell.href, { waitUntil: 'load' });
  await page.addScriptTag({ path: axePath });
  const violations = await page.evaluate(async () => {
    // eslint-disable-next-line no-undef
    const r = await axe.run(document, { resultTypes: ['violations'] });
    return r.violations.map((v) => ({ id: v.id, impact: v.impact, nodes: v.nodes.length, help: v.help }));
  });
  const serious = violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  Check(serious.length === 0, `axe on the viewer of ${cell.name}: `
    + serious.map((v) => `${v.id} (${v.impact}, ${v.nodes}): ${v.help}`).join('; '));
}

async function Main() {
  let args;
  try {
    args = ParseArguments(process.argv.slice(2));
  } catch (error) {
    console.error(`video_check: ${error.message}`);
    return 2;
  }
  const work = args.work ?? fs.mkdtempSync(path.join(os.tmpdir(), 'vc-video-'));
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  const problems = [];
  const browser = await chromium.launch({ executablePath: kChromiumPath, args: kChromiumArgs });
  try {
    const root = path.join(work, 'videos');
    RunTool(args['make-tree'], [root], 'make-video-tree');
    const before = Snapshot(root);
    CheckFirstRun(Index(args, root, 'first run'));

    const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
    const page = await OpenPage(context, problems);
    const byName = await CheckFolderPage(page, root);
    await CheckViewerPages(page, root, byName);
    const portrait = byName.get(kClips[0].name);
    if (portrait) await CheckAccessibility(page, portrait);
    await context.close();
    await CheckPhone(browser, byName, problems);

    const again = Index(args, root, 'unchanged second run');
    Check(again.decoded === 0 && again.transcoded === 0,
      `an unchanged second run decoded ${again.decoded} and transcoded ${again.transcoded}: ${again.output.stdout}`);
    RunTool(args.cli, ['clean', root], 'vellumcast-cli clean');
    CompareSnapshots(before, Snapshot(root), 'after clean');
  } catch (error) {
    Check(false, `unexpected: ${error.stack ?? error.message}`);
  } finally {
    await browser.close();
    if (!args.keep && !args.work) fs.rmSync(work, { recursive: true, force: true });
  }
  Check(problems.length === 0, `in the pages: ${problems.join('; ')}`);
  return Summary();
}

process.exit(await Main());
