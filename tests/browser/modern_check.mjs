// Opens modern-style catalogs in headless Chromium as a person would, on a
// 320 x 640 phone, a 390 x 844 touch phone and a 1280 x 800 desktop:
// starting at the top page it visits every page reachable by links, and on
// each one checks that nothing scrolls sideways, that every link and image
// resolves to a file, that every image loads, and that axe-core finds no
// serious or critical violation (light and dark colour schemes). It steps
// through a folder's viewer pages with Next/Previous, the arrow keys,
// Escape and swipes, walks the catalog again with JavaScript off, and runs
// html-validate on every page written.
//
// Usage:
//   node modern_check.mjs --cli=PATH (--make-tree=PATH | --tree=DIR) [--work=DIR] [--keep]
//
// Exit status: 0 when every check passes, 1 on any failure, 2 on bad usage.

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { Check, kChromiumArgs, kChromiumPath, LoadBrowserPackages, RunTool, Summary } from './check_kit.mjs';

const { chromium, axePath, HtmlValidate } = await LoadBrowserPackages('modern_check', { htmlValidate: true });

const kNavigationTimeoutMs = 20_000;
const kViewports = [
  { name: 'phone 320', width: 320, height: 640, touch: false, minColumns: 2 },
  { name: 'touch 390', width: 390, height: 844, touch: true, minColumns: 2 },
  { name: 'desktop 1280', width: 1280, height: 800, touch: false, minColumns: 5 },
];
// The second catalog pages every folder after two images, so that pages and
// their Previous/Next links exist, and names its first pages index.html.
const kCatalogs = [
  { name: 'modern', options: ['--style=modern'], first: 'vellumcast.html' },
  { name: 'modern-paged', options: ['--style=modern', '--rowsperpage=1', '--cellsperrow=2', '--firstpage=index.html'],
    first: 'index.html' },
];

function ParseArguments(argv) {
  const args = { keep: false };
  for (const arg of argv) {
    const match = /^--([a-z-]+)(?:=(.*))?$/.exec(arg);
    if (!match) throw new Error(`unexpected argument '${arg}'`);
    const [, name, value] = match;
    if (name === 'keep' && value === undefined) args.keep = true;
    else if (['cli', 'make-tree', 'tree', 'work'].includes(name) && value) args[name] = path.resolve(value);
    else throw new Error(`unknown or empty option '--${name}'`);
  }
  if (!args.cli) throw new Error('--cli=PATH is required');
  if (!args['make-tree'] === !args.tree) throw new Error('give exactly one of --make-tree=PATH and --tree=DIR');
  return args;
}

function ListHtml(folder) {
  const found = [];
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const full = path.join(folder, entry.name);
    if (entry.isDirectory()) found.push(...ListHtml(full));
    else if (entry.isFile() && entry.name.endsWith('.html')) found.push(full);
  }
  return found;
}

function FileOfUrl(url) {
  const u = new URL(url);
  if (u.protocol !== 'file:') return null;
  u.hash = '';
  return fileURLToPath(u);
}

// ---------------------------------------------------------------------------
// html-validate over every page of the catalog

async function ValidateHtml(root) {
  const validator = new HtmlValidate({
    extends: ['html-validate:recommended'],
    rules: {
      // CR LF line ends are how every generated page is written.
      'no-trailing-whitespace': 'off',
      // "<!doctype html>" and "<!DOCTYPE html>" are the same doctype.
      'doctype-style': 'off',
      // A file name may hold any character; the alt text names the file.
      'attribute-empty-style': 'off',
    },
  });
  for (const file of ListHtml(root)) {
    const report = await validator.validateString(fs.readFileSync(file, 'utf8'), file);
    const messages = report.results.flatMap((r) => r.messages)
      .map((m) => `${path.relative(root, file)}:${m.line}:${m.column} ${m.ruleId}: ${m.message}`);
    Check(report.valid, `html-validate: ${messages.join('\n  ')}`);
  }
}

// ---------------------------------------------------------------------------
// One page in one viewport

// Runs in the page: makes lazy images load now, then describes the page.
async function Describe(page) {
  const lazy = await page.evaluate(async () => {
    const images = Array.from(document.images);
    const written = images.map((img) => img.closest('.vc-photo') !== null || img.getAttribute('loading') === 'lazy');
    for (const img of images) img.loading = 'eager';
    await Promise.all(images.map((img) => (img.complete ? null : new Promise((resolve) => {
      img.addEventListener('load', resolve, { once: true });
      img.addEventListener('error', resolve, { once: true });
    }))));
    return written;
  });
  const info = await page.evaluate(() => {
    const grid = Array.from(document.querySelectorAll('.vc-grid > li'));
    const firstRowTop = grid.length ? grid[0].getBoundingClientRect().top : 0;
    return {
      scrollWidth: document.documentElement.scrollWidth,
      clientWidth: document.documentElement.clientWidth,
      links: Array.from(document.querySelectorAll('a[href]')).map((a) => a.href),
      images: Array.from(document.images).map((img) => ({
        src: img.currentSrc || img.src,
        loaded: img.complete && img.naturalWidth > 0,
        hasSize: img.closest('.vc-photo') !== null || (img.hasAttribute('width') && img.hasAttribute('height')),
        alt: img.hasAttribute('alt'),
      })),
      gridItems: grid.length,
      columns: grid.filter((li) => Math.abs(li.getBoundingClientRect().top - firstRowTop) < 1).length,
    };
  });
  info.images.forEach((image, i) => { image.lazy = lazy[i]; });
  return info;
}

async function RunAxe(page, where) {
  await page.addScriptTag({ path: axePath });
  const result = await page.evaluate(async () => {
    // eslint-disable-next-line no-undef
    const r = await axe.run(document, { resultTypes: ['violations'] });
    return r.violations.map((v) => ({ id: v.id, impact: v.impact, nodes: v.nodes.length, help: v.help }));
  });
  const bad = result.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  Check(bad.length === 0, `axe on ${where}: ${bad.map((v) => `${v.id} (${v.impact}, ${v.nodes}): ${v.help}`).join('; ')}`);
}

// Visits every page reachable from the top; returns the pages seen.
async function Crawl(context, root, top, label, options) {
  const seen = new Set();
  const queue = [pathToFileURL(top).href];
  const page = await context.newPage();
  page.setDefaultTimeout(kNavigationTimeoutMs);
  while (queue.length > 0) {
    const url = queue.shift();
    const file = FileOfUrl(url);
    if (seen.has(file)) continue;
    seen.add(file);
    const where = `${label} ${path.relative(root, file)}`;
    // A page that forwards the browser at once is not looked at; its target
    // must exist and is visited in its turn.
    const refresh = /<meta http-equiv="refresh" content="0; url=([^"]*)">/i.exec(fs.readFileSync(file, 'utf8'));
    if (refresh) {
      const target = new URL(refresh[1].replaceAll('&amp;', '&'), url).href;
      Check(fs.existsSync(FileOfUrl(target)), `${where}: forwards to a missing page ${target}`);
      queue.push(target);
      continue;
    }
    await page.goto(url, { waitUntil: 'load' });
    const info = await Describe(page);
    Check(info.scrollWidth <= info.clientWidth, `${where}: scrolls sideways (${info.scrollWidth} > ${info.clientWidth})`);
    for (const image of info.images) {
      Check(image.loaded, `${where}: image does not load: ${image.src}`);
      Check(image.alt, `${where}: image without alt: ${image.src}`);
      Check(image.hasSize, `${where}: image without width and height: ${image.src}`);
      Check(image.lazy, `${where}: grid image not lazy: ${image.src}`);
    }
    if (info.gridItems >= options.minColumns) {
      Check(info.columns >= options.minColumns, `${where}: ${info.columns} columns, want at least ${options.minColumns}`);
    }
    for (const link of info.links) {
      const target = FileOfUrl(link);
      Check(target !== null && fs.existsSync(target), `${where}: link leads nowhere: ${link}`);
      if (target !== null && target.startsWith(root + path.sep) && target.endsWith('.html') && fs.existsSync(target)) {
        queue.push(link.split('#')[0]);
      }
    }
    if (options.axe === 'all' || (options.axe === 'folders' && !path.basename(file).startsWith('vellumcast-view-'))) {
      await RunAxe(page, where);
    }
  }
  await page.close();
  return seen;
}

// ---------------------------------------------------------------------------
// The viewer: links, keys, swipes

async function CheckViewer(browser, folder, first, touch) {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 }, hasTouch: touch, isMobile: touch });
  const page = await context.newPage();
  page.setDefaultTimeout(kNavigationTimeoutMs);
  await page.goto(pathToFileURL(path.join(folder, first)).href);
  const cells = await page.$$eval('.vc-grid a', (as) => as.map((a) => a.href));
  if (!Check(cells.length >= 2, `viewer: ${folder} has fewer than two cells`)) return;
  await page.goto(cells[0]);
  const second = await page.$eval('#vc-next', (a) => a.href);
  Check((await page.$('#vc-prev')) === null, 'viewer: the first image has a Previous link');
  await Promise.all([page.waitForNavigation(), page.click('#vc-next')]);
  Check(page.url() === second, `viewer: Next leads to ${page.url()}, not ${second}`);
  await Promise.all([page.waitForNavigation(), page.click('#vc-prev')]);
  Check(page.url() === cells[0], 'viewer: Previous does not lead back');
  if (touch) {
    const swipe = (fromX, toX) => page.evaluate(([a, b]) => {
      const touchAt = (x) => new Touch({ identifier: 1, target: document.body, clientX: x, clientY: 400 });
      document.dispatchEvent(new TouchEvent('touchstart', { touches: [touchAt(a)], changedTouches: [touchAt(a)], bubbles: true }));
      document.dispatchEvent(new TouchEvent('touchend', { touches: [], changedTouches: [touchAt(b)], bubbles: true }));
    }, [fromX, toX]);
    await Promise.all([page.waitForNavigation(), swipe(300, 60)]);
    Check(page.url() === second, 'viewer: a swipe to the left does not show the next image');
    await Promise.all([page.waitForNavigation(), swipe(60, 300)]);
    Check(page.url() === cells[0], 'viewer: a swipe to the right does not show the previous image');
  } else {
    await Promise.all([page.waitForNavigation(), page.keyboard.press('ArrowRight')]);
    Check(page.url() === second, 'viewer: ArrowRight does not show the next image');
    await Promise.all([page.waitForNavigation(), page.keyboard.press('ArrowLeft')]);
    Check(page.url() === cells[0], 'viewer: ArrowLeft does not show the previous image');
    await Promise.all([page.waitForNavigation(), page.keyboard.press('Escape')]);
    Check(FileOfUrl(page.url()) === path.join(folder, first), `viewer: Escape leads to ${page.url()}`);
  }
  const photo = await page.goto(cells[0]).then(() => page.$eval('.vc-photo img', (img) => {
    const r = img.getBoundingClientRect();
    return { loaded: img.naturalWidth > 0, fits: r.right <= innerWidth + 0.5 && r.bottom <= innerHeight + 0.5 };
  }));
  Check(photo.loaded && photo.fits, `viewer: the photo does not load or does not fit the window (${JSON.stringify(photo)})`);
  await context.close();
}

// Without JavaScript: top page, a card, a cell, Next and back, by clicks.
async function CheckWithoutScript(browser, root, first) {
  const context = await browser.newContext({ javaScriptEnabled: false, viewport: { width: 390, height: 844 } });
  const page = await context.newPage();
  page.setDefaultTimeout(kNavigationTimeoutMs);
  await page.goto(pathToFileURL(path.join(root, first)).href);
  await Promise.all([page.waitForNavigation(), page.click('.vc-folders a >> nth=0')]);
  let url = page.url();
  // Through pass-through folders, whose refresh works without script too.
  for (let hop = 0; hop < 4 && (await page.$('.vc-grid a')) === null; hop += 1) {
    await page.waitForTimeout(300);
    if (page.url() === url && (await page.$('.vc-folders a'))) {
      await Promise.all([page.waitForNavigation(), page.click('.vc-folders a >> nth=0')]);
    }
    url = page.url();
  }
  const folderPage = page.url();
  if (!Check((await page.$('.vc-grid a')) !== null, `no script: no grid reached from the top (${folderPage})`)) {
    await context.close();
    return;
  }
  await Promise.all([page.waitForNavigation(), page.click('.vc-grid a >> nth=0')]);
  Check(page.url().includes('vellumcast-view-'), `no script: a cell leads to ${page.url()}`);
  const loaded = await page.$eval('.vc-photo img', (img) => img.complete && img.naturalWidth > 0);
  Check(loaded, 'no script: the viewer photo does not load');
  if (await page.$('#vc-next')) {
    const next = await page.$eval('#vc-next', (a) => a.href);
    await Promise.all([page.waitForNavigation(), page.click('#vc-next')]);
    Check(page.url() === next, 'no script: Next does not work');
  }
  await Promise.all([page.waitForNavigation(), page.click('#vc-back')]);
  Check(FileOfUrl(page.url()).startsWith(path.dirname(FileOfUrl(folderPage))), `no script: Back leads to ${page.url()}`);
  await context.close();
}

// ---------------------------------------------------------------------------

async function Main() {
  let args;
  try {
    args = ParseArguments(process.argv.slice(2));
  } catch (error) {
    console.error(`modern_check: ${error.message}`);
    return 2;
  }
  const work = args.work ?? fs.mkdtempSync(path.join(os.tmpdir(), 'vc-modern-'));
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  const browser = await chromium.launch({ executablePath: kChromiumPath, args: kChromiumArgs });
  try {
    for (const catalog of kCatalogs) {
      const root = path.join(work, catalog.name);
      if (args['make-tree']) RunTool(args['make-tree'], [root], 'make-sample-tree');
      else fs.cpSync(args.tree, root, { recursive: true });
      RunTool(args.cli, ['index', ...catalog.options, root], 'vellumcast-cli index');
      const top = path.join(root, catalog.first);
      if (!Check(fs.existsSync(top), `${catalog.name}: no top page ${top}`)) continue;
      await ValidateHtml(root);
      let pages = 0;
      for (const viewport of kViewports) {
        const context = await browser.newContext({
          viewport: { width: viewport.width, height: viewport.height },
          hasTouch: viewport.touch, isMobile: viewport.touch,
        });
        // axe-core on every page once (touch phone), on the folder pages at the other sizes.
        const seen = await Crawl(context, root, top, `${catalog.name} ${viewport.name}:`,
          { minColumns: viewport.minColumns, axe: viewport.touch ? 'all' : 'folders' });
        pages = seen.size;
        await context.close();
      }
      const written = ListHtml(root).filter((f) => !f.endsWith('imageback.html'));
      Check(pages >= written.length, `${catalog.name}: ${pages} pages reached, ${written.length} written`);
      // Dark scheme: contrast and the rest once more on the desktop.
      const dark = await browser.newContext({ colorScheme: 'dark', viewport: { width: 1280, height: 800 } });
      await Crawl(dark, root, top, `${catalog.name} dark:`, { minColumns: 1, axe: 'all' });
      await dark.close();
      // The viewer in the folder with the most images.
      const folders = [...new Set(ListHtml(root).filter((f) => f.includes('vellumcast-view-')).map(path.dirname))];
      folders.sort((a, b) => ListHtml(b).length - ListHtml(a).length);
      const richest = folders.reduce((best, f) => {
        const n = fs.readdirSync(f).filter((x) => x.startsWith('vellumcast-view-')).length;
        return n > best.n ? { f, n } : best;
      }, { f: null, n: 0 }).f;
      if (Check(richest !== null, `${catalog.name}: no viewer pages`)) {
        const first = fs.existsSync(path.join(richest, catalog.first)) ? catalog.first : 'vellumcast.html';
        await CheckViewer(browser, richest, first, false);
        await CheckViewer(browser, richest, first, true);
      }
      await CheckWithoutScript(browser, root, catalog.first);
      console.log(`${catalog.name}: ${pages} pages checked`);
    }
  } catch (error) {
    Check(false, `unexpected: ${error.stack ?? error.message}`);
  } finally {
    await browser.close();
    if (!args.keep && !args.work) fs.rmSync(work, { recursive: true, force: true });
  }
  return Summary();
}

process.exit(await Main());
