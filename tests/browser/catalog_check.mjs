// Opens generated catalogs in headless Chromium the way a person would use
// them: starting from the top page over file://, it follows the redirect and
// every hierarchy, Next/Previous and Up Level link until every reachable page
// has been seen, and checks that each link leads to a page that exists and
// says what the link says, and that every image in a cell loads.
//
// Usage:
//   node catalog_check.mjs --cli=PATH (--make-tree=PATH | --tree=DIR) [--work=DIR] [--keep]
//
//   --cli        the vellumcast-cli program
//   --make-tree  the make-sample-tree tool; it is run once per catalog to build a fresh tree
//   --tree       an existing image tree, copied once per catalog instead
//   --work       scratch folder (emptied first); default: a new temporary folder
//   --keep       keep the scratch folder afterwards
//
// Exit status: 0 when every check passes, 1 on any failure, 2 on bad usage.

import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

// playwright-core comes from `npm ci` in this folder (scripts/install-deps.sh runs it).
let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (error) {
  console.error(`catalog_check: playwright-core is not installed (${error.code ?? error.message}); `
    + 'run scripts/install-deps.sh or `npm ci` in tests/browser');
  process.exit(1);
}

const kChromiumPath = '/usr/bin/chromium';
const kChromiumArgs = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];
const kLaunchTimeoutMs = 60_000;
const kNavigationTimeoutMs = 20_000;
const kReportTimeoutMs = 20_000;
const kIndexTimeoutMs = 100_000;
const kWholeCheckTimeoutMs = 270_000;  // below the CTest time-out, so the summary still prints
const kMaxRedirectHops = 64;
const kImageExtensions = ['.gif', '.jpg', '.bmp'];

// Each catalog is indexed into its own copy of the tree. The second one has
// thumbnails and two cells per page, so that every folder with more than two
// images gets Next and Previous links. The third starts at a pass-through
// folder (no images, one subfolder with images), so that the top page itself
// forwards the browser. The fourth adds names a browser could misread: an
// image and a folder named like a javascript: URL, a name with a colon, and
// names beyond ASCII.
const kCatalogs = [
  { name: 'plain', options: [], thumbnails: false, paged: false },
  { name: 'redirect-top', options: [], thumbnails: false, paged: false, startAtPassThrough: true },
  { name: 'hostile-names', options: [], thumbnails: false, paged: false, hostileNames: true },
  {
    name: 'thumbnails-paged',
    options: ['--createthumbs=1', '--rowsperpage=1', '--cellsperrow=2'],
    thumbnails: true,
    paged: true,
    cellWidth: 140,
    cellHeight: 100,
  },
  // Indexed into a separate folder: the pages live there and reach the
  // photos in the tree by relative links, which must be the only way out.
  { name: 'output-folder', options: ['--createthumbs=1'], thumbnails: true, paged: false, output: true },
];

// ---------------------------------------------------------------------------
// Arguments

function ParseArguments(argv) {
  const args = { keep: false };
  for (const arg of argv) {
    const match = /^--([a-z-]+)(?:=(.*))?$/.exec(arg);
    if (!match) throw new Error(`unexpected argument '${arg}'`);
    const [, name, value] = match;
    if (name === 'keep' && value === undefined) args.keep = true;
    else if (['cli', 'make-tree', 'tree', 'work'].includes(name) && value) args[name] = value;
    else throw new Error(`unknown or empty option '--${name}'`);
  }
  if (!args.cli) throw new Error('--cli=PATH is required');
  if (!args['make-tree'] === !args.tree) throw new Error('give exactly one of --make-tree=PATH and --tree=DIR');
  // The programs run with the scratch folder as their current folder.
  for (const name of ['cli', 'make-tree', 'tree']) if (args[name]) args[name] = path.resolve(args[name]);
  return args;
}

// ---------------------------------------------------------------------------
// Failures and the summary

class TFindings {
  constructor(catalog) {
    this.catalog = catalog;
    this.failures = [];
    this.counts = {
      pages: 0, redirects: 0, hierarchyLinks: 0, nextLinks: 0, previousLinks: 0, upLinks: 0,
      cellLinks: 0, images: 0, imagesLoaded: 0, thumbnails: 0, otherLinks: 0,
    };
  }
  Fail(text) {
    this.failures.push(text);
  }
}

// ---------------------------------------------------------------------------
// Building and indexing a tree

function RunTool(program, args, options, what) {
  const result = spawnSync(program, args, {
    timeout: kIndexTimeoutMs, encoding: 'utf8', maxBuffer: 16 * 1024 * 1024, ...options,
  });
  if (result.error) throw new Error(`${what}: ${result.error.message}`);
  if (result.status !== 0) {
    const output = `${result.stdout ?? ''}${result.stderr ?? ''}`.trim();
    throw new Error(`${what} exited with ${result.status ?? result.signal}${output ? `:\n${output}` : ''}`);
  }
}

function PrepareTree(args, folder) {
  if (args['make-tree']) {
    RunTool(args['make-tree'], [folder], {}, 'make-sample-tree');
  } else {
    fs.cpSync(args.tree, folder, { recursive: true, verbatimSymlinks: true });
  }
  if (!fs.statSync(folder, { throwIfNoEntry: false })?.isDirectory()) {
    throw new Error(`no tree was made in ${folder}`);
  }
}

function IsImageName(name) {
  return kImageExtensions.includes(path.extname(name).toLowerCase());
}

function IsThumbnailFolder(name) {
  return name.toLowerCase() === 'quarto_tn';
}

function HoldsImagesBelow(folder) {
  let entries;
  try {
    entries = fs.readdirSync(folder, { withFileTypes: true });
  } catch {
    return false;
  }
  return entries.some((entry) => (entry.isFile() && IsImageName(entry.name))
    || (entry.isDirectory() && !IsThumbnailFolder(entry.name) && HoldsImagesBelow(path.join(folder, entry.name))));
}

// A folder below the top without images of its own and with exactly one
// subfolder that holds images: its catalog page forwards to that subfolder.
function FindPassThroughFolder(top) {
  const pending = [top];
  while (pending.length > 0) {
    const folder = pending.shift();
    const entries = fs.readdirSync(folder, { withFileTypes: true });
    const subfolders = entries
      .filter((entry) => entry.isDirectory() && !IsThumbnailFolder(entry.name))
      .map((entry) => path.join(folder, entry.name));
    const withImages = subfolders.filter(HoldsImagesBelow);
    const ownImages = entries.some((entry) => entry.isFile() && IsImageName(entry.name));
    if (folder !== top && !ownImages && withImages.length === 1) return folder;
    pending.push(...subfolders);
  }
  return null;
}

// Names that a browser would misread if written into a page as they are.
const kScriptName = 'javascript:alert(3)';
const kScriptImage = `${kScriptName}.jpg`;
const kColonImage = 'a:b.jpg';
const kAccentImage = 'caf\u00e9.jpg';
const kAccentFolder = 'Gr\u00fc\u00dfe \u20ac';

function FindImage(folder, extension) {
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const full = path.join(folder, entry.name);
    if (entry.isFile() && path.extname(entry.name).toLowerCase() === extension) return full;
    if (entry.isDirectory()) {
      const found = FindImage(full, extension);
      if (found) return found;
    }
  }
  return null;
}

// Copies a JPEG of the tree under the hostile names: at the top, and in a
// folder named like a javascript: URL and one named beyond ASCII.
function AddHostileNames(tree) {
  const jpeg = FindImage(tree, '.jpg');
  if (!jpeg) throw new Error('the tree has no JPEG to copy under hostile names');
  for (const name of [kScriptImage, kColonImage, kAccentImage]) fs.copyFileSync(jpeg, path.join(tree, name));
  for (const folder of [kScriptName, kAccentFolder]) {
    fs.mkdirSync(path.join(tree, folder));
    fs.copyFileSync(jpeg, path.join(tree, folder, kAccentImage));
    fs.copyFileSync(jpeg, path.join(tree, folder, kScriptImage));
  }
}

// ---------------------------------------------------------------------------
// What each page reports about itself once it has loaded

// Runs in every document: when the page has loaded (images included), it
// describes itself to the checker. The report leaves the page at once, so a
// page that forwards the browser elsewhere still gets checked.
const kPageReporter = `
(() => {
  if (window.top !== window || location.protocol !== 'file:') return;
  window.addEventListener('load', () => {
    const refresh = document.querySelector('meta[http-equiv="refresh" i]');
    const links = Array.from(document.querySelectorAll('a[href]')).map((a) => ({
      href: a.href,
      raw: a.getAttribute('href'),
      text: a.textContent.trim(),
      inCell: a.closest('td') !== null,
      inHierarchy: a.closest('li') !== null,
      itemText: a.closest('li') ? a.closest('li').textContent.trim() : '',
    }));
    const images = Array.from(document.querySelectorAll('img')).map((img) => ({
      src: img.currentSrc || img.src,
      raw: img.getAttribute('src'),
      complete: img.complete,
      naturalWidth: img.naturalWidth,
      naturalHeight: img.naturalHeight,
      inCell: img.closest('td') !== null,
    }));
    window.__vellumcastReport({
      url: location.href.split('#')[0],
      refresh: refresh ? refresh.getAttribute('content') : null,
      bodyLength: document.body ? document.body.innerHTML.length : 0,
      cells: document.querySelectorAll('td').length,
      links,
      images,
    });
  });
})();
`;

// Browser and checker may escape a file URL differently: the file path is the key.
function ReportKey(url) {
  return fileURLToPath(url);
}

// Collects the pages' reports. Every report gets a sequence number, so that
// a wait can ask for a report newer than a given point: a page seen before
// must report again to show that the browser really went there.
class TReportBox {
  constructor() {
    this.sequence = 0;
    this.reports = new Map();
    this.waiters = new Map();
  }
  Add(report) {
    report.sequence = ++this.sequence;
    const key = ReportKey(report.url);
    this.reports.set(key, report);
    const waiter = this.waiters.get(key);
    if (waiter && report.sequence > waiter.after) {
      this.waiters.delete(key);
      waiter.resolve(report);
    }
  }
  // The first report of `url` numbered after `after`, or null when none arrives in time.
  Wait(url, after, timeoutMs) {
    const key = ReportKey(url);
    const ready = this.reports.get(key);
    if (ready && ready.sequence > after) return Promise.resolve(ready);
    return new Promise((resolve) => {
      const timer = setTimeout(() => {
        this.waiters.delete(key);
        resolve(null);
      }, timeoutMs);
      this.waiters.set(key, {
        after,
        resolve: (report) => {
          clearTimeout(timer);
          resolve(report);
        },
      });
    });
  }
}

// ---------------------------------------------------------------------------
// Page names and places

function NormalUrl(url) {
  const parsed = new URL(url);
  parsed.hash = '';
  return parsed.href;
}

function UrlPath(url) {
  return fileURLToPath(url);
}

// The file a file: URL names; null for any other address.
function FilePathOf(url) {
  try {
    return fileURLToPath(url);
  } catch {
    return null;
  }
}

function IsInside(root, file) {
  const relative = path.relative(root, file);
  return relative === '' || (!relative.startsWith('..') && !path.isAbsolute(relative));
}

function Shown(root, file) {
  const relative = path.relative(root, file);
  return relative === '' ? '.' : relative;
}

// vellumcast.html is page 0, vellumcastN.html page N; null for other files.
function PageNumber(file) {
  const match = /^vellumcast(\d*)\.html$/.exec(path.basename(file));
  if (!match) return null;
  return match[1] === '' ? 0 : Number(match[1]);
}

function IsFile(file) {
  return fs.statSync(file, { throwIfNoEntry: false })?.isFile() ?? false;
}

// The target of a refresh content such as "0; URL=trip/vellumcast.html".
function RefreshTarget(content, base) {
  const match = /url\s*=\s*(.*)$/i.exec(content);
  if (!match) return null;
  const target = match[1].trim().replace(/^['"]|['"]$/g, '');
  return NormalUrl(new URL(target, base).href);
}

// ---------------------------------------------------------------------------
// Checking one catalog

class TCatalogCheck {
  constructor(context, page, box, root, catalog) {
    this.context = context;
    this.page = page;
    this.box = box;
    this.root = root;
    this.catalog = catalog;
    this.findings = new TFindings(catalog);
    this.visited = new Set();  // file paths of the pages seen
    this.queue = [];
    this.queued = new Set();  // file paths of the pages in the queue
    this.pages = new Map();  // file -> { cells, folder, number }
    this.hierarchyClaims = [];  // { page, folder, count }
  }

  Fail(text) {
    this.findings.Fail(text);
  }

  Enqueue(url) {
    const key = ReportKey(url);
    if (this.visited.has(key) || this.queued.has(key)) return;
    this.queued.add(key);
    this.queue.push(url);
  }

  async Run() {
    const top = path.join(this.root, 'vellumcast.html');
    if (!IsFile(top)) {
      this.Fail('the top page vellumcast.html was not written');
      return this.findings;
    }
    this.topUrl = NormalUrl(pathToFileURL(top).href);
    this.topForwarded = false;
    this.Enqueue(this.topUrl);
    while (this.queue.length > 0) {
      const url = this.queue.shift();
      this.queued.delete(ReportKey(url));
      if (this.visited.has(ReportKey(url))) continue;
      await this.Visit(url);
    }
    this.CheckHierarchyCounts();
    this.CheckEveryImageIsCatalogued();
    this.CheckFeaturesWereExercised();
    if (this.catalog.hostileNames) await this.CheckHostileNames();
    return this.findings;
  }

  // Opens one page and follows the redirects it leads into, checking each
  // page on the way.
  async Visit(url) {
    const file = UrlPath(url);
    if (!IsFile(file)) {
      this.Fail(`page ${Shown(this.root, file)} does not exist`);
      this.visited.add(ReportKey(url));
      return;
    }
    const start = this.box.sequence;
    try {
      await this.page.goto(url, { waitUntil: 'load', timeout: kNavigationTimeoutMs });
    } catch (error) {
      // A page that forwards at once may interrupt its own navigation; the
      // report, if it arrived, still tells what the page held.
      const report = this.box.reports.get(ReportKey(url));
      if (!report || report.sequence <= start) {
        this.Fail(`page ${Shown(this.root, file)} did not open: ${error.message.split('\n')[0]}`);
        this.visited.add(ReportKey(url));
        return;
      }
    }
    let report = await this.box.Wait(url, start, kReportTimeoutMs);
    if (!report) {
      this.Fail(`page ${Shown(this.root, file)} did not finish loading`);
      this.visited.add(ReportKey(url));
      return;
    }
    const chain = [url];
    for (;;) {
      this.CheckPage(report);
      if (!report.refresh) break;
      const target = RefreshTarget(report.refresh, report.url);
      const from = Shown(this.root, UrlPath(report.url));
      if (!target) {
        this.Fail(`page ${from} has a refresh without a target: "${report.refresh}"`);
        break;
      }
      if (!target.startsWith('file:') || !IsInside(this.root, UrlPath(target))) {
        this.Fail(`page ${from} forwards outside the catalog, to ${target}`);
        break;
      }
      const targetFile = UrlPath(target);
      if (!IsFile(targetFile)) {
        this.Fail(`page ${from} forwards to ${Shown(this.root, targetFile)}, which does not exist`);
        break;
      }
      if (chain.includes(target) || chain.length > kMaxRedirectHops) {
        this.Fail(`redirect loop: ${[...chain, target].map((u) => Shown(this.root, UrlPath(u))).join(' -> ')}`);
        break;
      }
      this.findings.counts.redirects += 1;
      chain.push(target);
      report = await this.box.Wait(target, report.sequence, kReportTimeoutMs);
      if (!report) {
        this.Fail(`the browser did not follow the redirect from ${from} to ${Shown(this.root, targetFile)}`);
        break;
      }
      if (chain.length === 2 && ReportKey(chain[0]) === ReportKey(this.topUrl)) this.topForwarded = true;
    }
    // Let a forward still under way settle before the next page is opened.
    await this.page.waitForLoadState('load', { timeout: kNavigationTimeoutMs }).catch(() => {});
  }

  CheckPage(report) {
    const url = NormalUrl(report.url);
    const file = UrlPath(url);
    const shown = Shown(this.root, file);
    const firstVisit = !this.visited.has(ReportKey(url));
    this.visited.add(ReportKey(url));
    if (!firstVisit) return;
    this.findings.counts.pages += 1;
    if (report.bodyLength === 0) this.Fail(`page ${shown} has an empty body`);

    const folder = path.dirname(file);
    const number = PageNumber(file);
    if (number !== null) this.pages.set(file, { cells: report.cells, folder, number });

    for (const link of report.links) this.CheckLink(report, file, folder, number, link);
    for (const image of report.images) this.CheckImage(shown, image);
  }

  CheckLink(report, file, folder, number, link) {
    const shown = Shown(this.root, file);
    const counts = this.findings.counts;
    let target;
    try {
      target = NormalUrl(link.href);
    } catch {
      this.Fail(`page ${shown}: link "${link.text}" has an unusable address ${link.raw}`);
      return;
    }
    if (!target.startsWith('file:')) {
      counts.otherLinks += 1;
      return;
    }
    const targetFile = UrlPath(target);
    const targetShown = Shown(this.root, targetFile);
    const label = `page ${shown}: link "${link.text}" (${link.raw})`;
    const intoPhotos = link.inCell && this.catalog.photos && IsInside(this.catalog.photos, targetFile);
    if (!IsInside(this.root, targetFile) && !intoPhotos) {
      this.Fail(`${label} leads outside the catalog, to ${targetFile}`);
      return;
    }
    if (!IsFile(targetFile)) {
      this.Fail(`${label} leads to ${targetShown}, which does not exist`);
      return;
    }

    if (link.inCell) {
      counts.cellLinks += 1;
      return;  // the full image: its existence is what the cell promises
    }
    if (!targetFile.endsWith('.html')) {
      this.Fail(`${label} leads to ${targetShown}, which is not a page`);
      return;
    }

    if (link.text === 'Next Page' || link.text === 'Previous Page') {
      const step = link.text === 'Next Page' ? 1 : -1;
      if (step > 0) counts.nextLinks += 1;
      else counts.previousLinks += 1;
      if (number === null || path.dirname(targetFile) !== folder || PageNumber(targetFile) !== number + step) {
        this.Fail(`${label} should lead to page ${number === null ? '?' : number + step} of the same folder, not to ${targetShown}`);
      }
    } else if (link.text === 'Up Level') {
      counts.upLinks += 1;
      const expected = path.join(path.dirname(folder), 'imageback.html');
      if (targetFile !== expected) {
        this.Fail(`${label} should lead to ${Shown(this.root, expected)}, not to ${targetShown}`);
      }
    } else if (link.inHierarchy) {
      counts.hierarchyLinks += 1;
      const expected = path.join(folder, link.text, 'vellumcast.html');
      if (targetFile !== expected) {
        this.Fail(`${label} should lead to ${Shown(this.root, expected)}, not to ${targetShown}`);
      }
      const match = / (-?\d+) images$/.exec(link.itemText);
      if (!match) this.Fail(`${label}: list item "${link.itemText}" gives no image count`);
      else this.hierarchyClaims.push({ page: shown, folder: path.dirname(targetFile), count: Number(match[1]) });
    }
    this.Enqueue(target);
  }

  CheckImage(shown, image) {
    if (!image.inCell) return;
    const counts = this.findings.counts;
    counts.images += 1;
    if (!image.complete || image.naturalWidth <= 0) {
      this.Fail(`page ${shown}: image ${image.raw} does not load`);
      return;
    }
    counts.imagesLoaded += 1;
    if (!image.raw.startsWith('quarto_tn/')) return;
    counts.thumbnails += 1;
    const { cellWidth, cellHeight } = this.catalog;
    if (cellWidth && (image.naturalWidth !== cellWidth || image.naturalHeight !== cellHeight)) {
      this.Fail(`page ${shown}: thumbnail ${image.raw} is ${image.naturalWidth}x${image.naturalHeight}, not the cell's ${cellWidth}x${cellHeight}`);
    }
  }

  // Clicks as a person would: a link named like a javascript: URL must lead
  // to its image (or folder) and run no script; names beyond ASCII must read
  // right and their images load; every page must be pure ASCII.
  async CheckHostileNames() {
    const dialogs = [];
    const onDialog = (dialog) => {
      dialogs.push(dialog.message());
      dialog.dismiss().catch(() => {});
    };
    this.page.on('dialog', onDialog);
    try {
      const clicks = [
        { from: this.root, text: kScriptImage, inCell: true, to: path.join(this.root, kScriptImage) },
        { from: this.root, text: kColonImage, inCell: true, to: path.join(this.root, kColonImage) },
        { from: this.root, text: kScriptName, inCell: false, to: path.join(this.root, kScriptName, 'vellumcast.html') },
        {
          from: path.join(this.root, kScriptName),
          text: kScriptImage,
          inCell: true,
          to: path.join(this.root, kScriptName, kScriptImage),
        },
      ];
      for (const click of clicks) await this.ClickThrough(click);
    } finally {
      this.page.off('dialog', onDialog);
    }
    if (dialogs.length > 0) this.Fail(`a click ran script: dialog ${JSON.stringify(dialogs)}`);

    const top = this.box.reports.get(path.join(this.root, 'vellumcast.html'));
    const accentFolder = this.box.reports.get(path.join(this.root, kAccentFolder, 'vellumcast.html'));
    if (!top || !accentFolder) {
      this.Fail('the pages with names beyond ASCII were not reached');
    } else {
      for (const [report, where] of [[top, '.'], [accentFolder, kAccentFolder]]) {
        const link = report.links.find((l) => l.inCell && l.text === kAccentImage);
        if (!link) this.Fail(`page ${where}/vellumcast.html shows no cell named ${kAccentImage}`);
        else if (FilePathOf(link.href) !== path.join(this.root, where, kAccentImage)) {
          this.Fail(`page ${where}/vellumcast.html: ${kAccentImage} links to ${link.href}`);
        }
        const image = report.images.find((i) => i.inCell && FilePathOf(i.src) === path.join(this.root, where, kAccentImage));
        if (!image || !image.complete || image.naturalWidth <= 0) this.Fail(`page ${where}/vellumcast.html: ${kAccentImage} does not load`);
      }
      if (!top.links.some((l) => l.inHierarchy && l.text === kAccentFolder)) {
        this.Fail(`the top page lists no folder named ${kAccentFolder}`);
      }
    }
    for (const file of this.visited) {
      if (!file.endsWith('.html')) continue;
      const bytes = fs.readFileSync(file);
      if (bytes.some((b) => b >= 0x80)) this.Fail(`page ${Shown(this.root, file)} is not pure ASCII`);
    }
  }

  // Opens `from`/vellumcast.html, clicks the link showing `text` and expects
  // to land on the file `to`.
  async ClickThrough({ from, text, inCell, to }) {
    const label = `clicking "${text}" on ${Shown(this.root, path.join(from, 'vellumcast.html'))}`;
    try {
      await this.page.goto(pathToFileURL(path.join(from, 'vellumcast.html')).href, { waitUntil: 'load' });
      const links = this.page.locator(inCell ? 'td a' : 'li a').filter({ hasText: text });
      let link = null;
      for (const candidate of await links.all()) {
        if ((await candidate.textContent()).trim() === text) link = candidate;
      }
      if (!link) {
        this.Fail(`${label}: no such link`);
        return;
      }
      const href = await link.evaluate((a) => a.href);
      if (!href.startsWith('file:')) this.Fail(`${label}: the link's address is ${href}, not a file`);
      await link.click();
      await this.page.waitForURL((url) => FilePathOf(url.href) === to, { timeout: kNavigationTimeoutMs });
    } catch (error) {
      this.Fail(`${label} did not lead to ${Shown(this.root, to)} (now at ${this.page.url()}): ${error.message.split('\n')[0]}`);
    }
  }

  CellsBelow(folder) {
    let total = 0;
    for (const [file, page] of this.pages) {
      if (IsInside(folder, page.folder) && PageNumber(file) !== null) total += page.cells;
    }
    return total;
  }

  // "name N images" in a hierarchy list must match the cells that the
  // catalog of that subfolder actually holds, all its pages and folders included.
  CheckHierarchyCounts() {
    for (const claim of this.hierarchyClaims) {
      const cells = this.CellsBelow(claim.folder);
      if (cells !== claim.count) {
        this.Fail(`page ${claim.page} lists ${Shown(this.root, claim.folder)} with ${claim.count} images, but its pages hold ${cells} cells`);
      }
    }
  }

  // Every image file of the tree has exactly one cell in its folder's pages
  // (in the mirrored folder of the output folder when there is one).
  CheckEveryImageIsCatalogued() {
    const walk = (folder, mirror) => {
      let entries;
      try {
        entries = fs.readdirSync(folder, { withFileTypes: true });
      } catch {
        return;
      }
      let images = 0;
      for (const entry of entries) {
        if (entry.isDirectory()) {
          if (!IsThumbnailFolder(entry.name)) walk(path.join(folder, entry.name), path.join(mirror, entry.name));
        } else if (entry.isFile() && IsImageName(entry.name)) {
          images += 1;
        }
      }
      let cells = 0;
      for (const page of this.pages.values()) if (page.folder === mirror) cells += page.cells;
      if (cells !== images) {
        this.Fail(`folder ${Shown(this.root, mirror)} holds ${images} images, but the pages reached hold ${cells} cells for it`);
      }
    };
    walk(this.catalog.photos ?? this.root, this.root);
  }

  // A catalog that never showed a thumbnail or a Next link would pass the
  // checks above without having tried them.
  CheckFeaturesWereExercised() {
    const counts = this.findings.counts;
    if (counts.images === 0) this.Fail('no image cell was found in the whole catalog');
    if (counts.hierarchyLinks === 0) this.Fail('no hierarchy link was found: the tree needs subfolders');
    if (counts.upLinks === 0) this.Fail('no Up Level link was found');
    if (this.catalog.startAtPassThrough && this.topForwarded !== true) this.Fail('the top page did not forward the browser');
    if (this.catalog.thumbnails && counts.thumbnails === 0) this.Fail('no cell shows a thumbnail');
    if (this.catalog.paged && (counts.nextLinks === 0 || counts.previousLinks === 0)) {
      this.Fail('no Next or no Previous link was found although pages hold two cells');
    }
  }
}

// ---------------------------------------------------------------------------

function PrintSummary(allFindings) {
  let failed = 0;
  for (const findings of allFindings) {
    const c = findings.counts;
    const state = findings.failures.length === 0 ? 'PASS' : 'FAIL';
    console.log(`${state} ${findings.catalog.name}: ${c.pages} pages, ${c.redirects} redirects followed, `
      + `${c.hierarchyLinks} hierarchy / ${c.upLinks} Up Level / ${c.nextLinks} Next / ${c.previousLinks} Previous links, `
      + `${c.cellLinks} cell links, ${c.imagesLoaded} of ${c.images} images loaded (${c.thumbnails} thumbnails), ${c.otherLinks} other links not followed`);
    for (const failure of findings.failures.slice(0, 50)) console.log(`  - ${failure}`);
    if (findings.failures.length > 50) console.log(`  ... and ${findings.failures.length - 50} more`);
    failed += findings.failures.length;
  }
  console.log(failed === 0 ? 'catalog check: all passed' : `catalog check: ${failed} failures`);
  return failed === 0;
}

async function Main() {
  let args;
  try {
    args = ParseArguments(process.argv.slice(2));
  } catch (error) {
    console.error(`catalog_check: ${error.message}`);
    console.error('usage: node catalog_check.mjs --cli=PATH (--make-tree=PATH | --tree=DIR) [--work=DIR] [--keep]');
    return 2;
  }

  let work;
  if (args.work) {
    work = path.resolve(args.work);
    fs.rmSync(work, { recursive: true, force: true });
    fs.mkdirSync(work, { recursive: true });
  } else {
    work = fs.mkdtempSync(path.join(os.tmpdir(), 'vellumcast-browser-'));
  }

  let context = null;
  const allFindings = [];
  const watchdog = setTimeout(() => {
    console.log(`catalog check: gave up after ${kWholeCheckTimeoutMs / 1000} s`);
    PrintSummary(allFindings);
    process.exit(1);
  }, kWholeCheckTimeoutMs);

  try {
    context = await chromium.launchPersistentContext(path.join(work, 'chromium-profile'), {
      executablePath: kChromiumPath,
      headless: true,
      args: kChromiumArgs,
      timeout: kLaunchTimeoutMs,
    });
    context.setDefaultTimeout(kNavigationTimeoutMs);
    const box = new TReportBox();
    await context.exposeBinding('__vellumcastReport', (_source, report) => box.Add(report));
    await context.addInitScript({ content: kPageReporter });
    const page = context.pages()[0] ?? await context.newPage();

    for (const catalog of kCatalogs) {
      const tree = path.join(work, catalog.name);
      let root = tree;
      try {
        PrepareTree(args, tree);
        if (catalog.hostileNames) AddHostileNames(tree);
        if (catalog.startAtPassThrough) {
          root = FindPassThroughFolder(tree);
          if (!root) throw new Error('the tree has no pass-through folder (no images, one subfolder with images) to start from');
        }
        const options = [...catalog.options];
        if (catalog.output) {
          const site = path.join(work, `${catalog.name}-site`);
          fs.rmSync(site, { recursive: true, force: true });
          options.push(`--output=${site}`);
          catalog.photos = fs.realpathSync(root);
          root = site;
        }
        // The probe log fn.log is written to the current folder: keep it in the scratch folder.
        RunTool(args.cli, ['index', ...options, catalog.photos ?? root], { cwd: work },
                ['vellumcast-cli index', ...catalog.options].join(' '));
        if (catalog.output && IsFile(path.join(catalog.photos, 'vellumcast.html'))) {
          throw new Error('the run with --output wrote pages into the photo tree');
        }
      } catch (error) {
        const findings = new TFindings(catalog);
        findings.Fail(error.message);
        allFindings.push(findings);
        continue;
      }
      const check = new TCatalogCheck(context, page, box, fs.realpathSync(root), catalog);
      allFindings.push(await check.Run());
    }
  } catch (error) {
    const findings = new TFindings({ name: 'browser' });
    findings.Fail(error.message.split('\n')[0]);
    allFindings.push(findings);
  } finally {
    clearTimeout(watchdog);
    if (context) await context.close().catch(() => {});
    if (!args.keep) fs.rmSync(work, { recursive: true, force: true });
  }
  const passed = PrintSummary(allFindings);
  if (args.keep) console.log(`scratch folder kept: ${work}`);
  return passed ? 0 : 1;
}

process.exitCode = await Main();
