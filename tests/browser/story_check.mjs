// A photographer's story tree (make-story-tree) indexed in the modern style and
// opened from the local folder (file://) in headless Chromium, as a person
// would look at it: each cell's caption is the photo's title, else its
// caption's first line, else its file name; each viewer page shows the title,
// the caption (Markdown rendered, markup from the texts shown as text or left
// out) and the keywords; the album's title is its heading and page title and
// its chosen cover is on the parent's card; the search box finds a caption
// word and a keyword and leads to the right viewer pages. Nothing from the
// texts runs: no dialog opens, no script but the theme's own, no
// `javascript:` address. No page and no search index tells where a photo was
// taken, until --show-location=1 puts the OpenStreetMap link on the viewer;
// --captions=name puts file names under the cells. No console error, and
// axe-core finds no serious violation on a viewer page with texts.
//
// Usage:
//   node story_check.mjs --cli=PATH --make-tree=PATH [--work=DIR] [--keep]
//
// Exit status: 0 when every check passes, 1 on any failure, 2 on bad usage.

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import {
  Check, CheckNothingRuns, kChromiumArgs, kChromiumPath, LoadBrowserPackages, ParseArguments, RunTool, Summary,
  ThemeScripts,
} from './check_kit.mjs';

const { chromium, axePath } = await LoadBrowserPackages('story_check');

const kTimeoutMs = 20_000;

// What make-story-tree writes into lisbon/: the cell's caption by the rules
// (title, else the caption's first line, else the file name), the viewer's
// heading, words its caption shows, and its keywords.
const kPhotos = [
  { name: 'alfama.jpg', cell: 'Alfama rooftops', caption: ['Morning over the terracotta roofs'],
    keywords: ['azulejo', 'rooftops'] },
  { name: 'belem.jpg', cell: 'Belém tower at low tide', heading: 'belem.jpg', caption: ['Belém tower at low tide'],
    keywords: [] },
  { name: 'camera.jpg', cell: 'camera.jpg', caption: null, keywords: [] },
  { name: 'miradouro.jpg', cell: 'Miradouro da Graça', caption: ['The best view', 'of the castle at dusk.'],
    strong: 'best', keywords: ['dusk', 'viewpoint'] },
  { name: 'nata.jpg', cell: 'Pastéis de nata', caption: ['Warm from the oven'], keywords: ['pastry'] },
  { name: 'sunset.jpg', cell: 'Sunset from São Jorge castle', heading: 'sunset.jpg',
    caption: ['Sunset from São Jorge castle'], keywords: [] },
  { name: 'tram.jpg', cell: 'Tram 28', caption: ['Tram 28 climbing to Graça, Lisbon', 'The yellow line.'],
    keywords: ['elétrico', 'yellowtram'], place: { latitude: 38.7138889, longitude: -9.13 } },
];
const kAlbumTitle = 'Lisboa à noite — Graça';
// The latitudes' digits of the two photos with a place (tram.jpg, sunset.jpg).
const kCoordinates = /38[.,]7(13|07)/;

function Index(args, root, extra) {
  RunTool(args.cli, ['index', '--style=modern', ...extra, root], `vellumcast-cli index ${extra.join(' ')}`);
}

// Every file a run wrote that a browser reads: the pages and the search index.
function WrittenPages(root) {
  const found = [];
  for (const entry of fs.readdirSync(root, { recursive: true, withFileTypes: true })) {
    if (!entry.isFile() || !/^vellumcast.*\.(html|js)$/.test(entry.name)) continue;
    found.push(path.join(entry.parentPath ?? entry.path, entry.name));
  }
  return found;
}

// `skipViewers`: the viewer pages may show places (--show-location=1).
function CheckNoCoordinates(root, when, skipViewers = false) {
  const pages = WrittenPages(root).filter((p) => !skipViewers || !path.basename(p).startsWith('vellumcast-view-'));
  Check(pages.some((p) => p.endsWith('vellumcast-search.js')), `${when}: no search index written`);
  for (const file of pages) {
    const match = kCoordinates.exec(fs.readFileSync(file, 'utf8'));
    Check(match === null, `${when}: ${path.relative(root, file)} shows a coordinate (${match?.[0]})`);
  }
}

// A page with the traps set: a dialog, a console error or a page error fails the check.
async function OpenPage(context, problems) {
  const page = await context.newPage();
  page.setDefaultTimeout(kTimeoutMs);
  page.on('dialog', async (dialog) => {
    problems.push(`a dialog opened on ${page.url()}: ${dialog.message()}`);
    await dialog.dismiss();
  });
  page.on('console', (message) => { if (message.type() === 'error') problems.push(`console: ${message.text()}`); });
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  return page;
}

// The cells of a folder page: file name, caption text, full text, link, thumbnail.
async function Cells(page) {
  return page.$$eval('ul.vc-grid:not(#vc-search-results) > li', (items) => items.map((li) => {
    const img = li.querySelector('img');
    const caption = li.querySelector('.vc-caption');
    return {
      name: img ? img.alt : li.querySelector('.vc-blank').textContent,
      caption: caption ? caption.textContent : null,
      tooltip: caption ? caption.getAttribute('title') : null,
      href: li.querySelector('a').href,
      src: img ? img.src : null,
    };
  }));
}

async function Search(page, query) {
  await page.fill('#vc-search-q', query);
  await page.waitForFunction(() => document.getElementById('vc-search-status').textContent !== '', null,
    { timeout: kTimeoutMs });
  return page.$$eval('#vc-search-results li', (items) => items.map((li) => ({
    name: li.textContent, href: li.querySelector('a').href })));
}

async function CheckStory(browser, root, themeScripts, problems) {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 } });
  const album = pathToFileURL(path.join(root, 'lisbon', 'vellumcast.html')).href;
  const page = await OpenPage(context, problems);

  // The album page: its title, its Markdown description made safe, its cells.
  await page.goto(album, { waitUntil: 'load' });
  // The page title is the album title, then the catalog's name.
  Check((await page.title()).startsWith(`${kAlbumTitle} – `), `the album page's title is "${await page.title()}"`);
  Check((await page.textContent('h1')) === kAlbumTitle, `the album heading is "${await page.textContent('h1')}"`);
  const description = await page.$eval('.vc-description', (d) => ({ text: d.textContent, strong: d.querySelector('strong')?.textContent }))
    .catch(() => null);
  if (Check(description !== null, 'the album page shows no description')) {
    Check(description.text.includes('Evenings on the hills of Lisbon.') && description.strong === 'hills',
      `the album description reads ${JSON.stringify(description)}`);
  }
  await CheckNothingRuns(page, themeScripts, 'the album page');
  const cells = await Cells(page);
  Check(JSON.stringify(cells.map((c) => c.name).sort()) === JSON.stringify(kPhotos.map((p) => p.name)),
    `the album shows ${JSON.stringify(cells.map((c) => c.name))}`);
  const byName = new Map(cells.map((c) => [c.name, c]));
  for (const photo of kPhotos) {
    const cell = byName.get(photo.name);
    if (!cell) continue;
    Check(cell.caption === photo.cell, `the cell of ${photo.name} reads ${JSON.stringify(cell.caption)}, want "${photo.cell}"`);
  }

  // Each viewer page: heading, caption, keywords, no script from the texts.
  for (const photo of kPhotos) {
    const cell = byName.get(photo.name);
    if (!cell) continue;
    await page.goto(cell.href, { waitUntil: 'load' });
    const shown = await page.evaluate(() => ({
      heading: document.querySelector('h1')?.textContent,
      caption: document.querySelector('.vc-text')?.textContent ?? null,
      strong: Array.from(document.querySelectorAll('.vc-text strong')).map((s) => s.textContent),
      keywords: Array.from(document.querySelectorAll('.vc-keywords li')).map((li) => li.textContent),
    }));
    const want = photo.heading ?? photo.cell;
    Check(shown.heading === want, `the viewer of ${photo.name} has the heading "${shown.heading}", want "${want}"`);
    if (photo.caption === null) {
      Check(shown.caption === null, `the viewer of ${photo.name} shows a caption "${shown.caption}"`);
    } else if (Check(shown.caption !== null, `the viewer of ${photo.name} shows no caption`)) {
      for (const words of photo.caption) {
        Check(shown.caption.includes(words), `the viewer of ${photo.name}: caption ${JSON.stringify(shown.caption)} lacks "${words}"`);
      }
    }
    if (photo.strong) Check(shown.strong.includes(photo.strong), `the viewer of ${photo.name}: bold is ${JSON.stringify(shown.strong)}`);
    Check(JSON.stringify([...shown.keywords].sort()) === JSON.stringify(photo.keywords),
      `the viewer of ${photo.name} shows keywords ${JSON.stringify(shown.keywords)}, want ${JSON.stringify(photo.keywords)}`);
    Check(!(await page.$('a[href*="openstreetmap.org"]')), `the viewer of ${photo.name} shows a map link unasked`);
    await CheckNothingRuns(page, themeScripts, `the viewer of ${photo.name}`);
  }

  // axe-core on the viewer with a caption and keywords.
  await page.goto(byName.get('tram.jpg').href, { waitUntil: 'load' });
  await page.addScriptTag({ path: axePath });
  const violations = await page.evaluate(async () => {
    // eslint-disable-next-line no-undef
    const r = await axe.run(document, { resultTypes: ['violations'] });
    return r.violations.map((v) => ({ id: v.id, impact: v.impact, nodes: v.nodes.length, help: v.help }));
  });
  const serious = violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  Check(serious.length === 0, `axe on the viewer of tram.jpg: ${serious.map((v) => `${v.id} (${v.impact}, ${v.nodes}): ${v.help}`).join('; ')}`);

  // The top page: the album's card with its title and chosen cover, and the search box.
  await page.goto(pathToFileURL(path.join(root, 'vellumcast.html')).href, { waitUntil: 'load' });
  await CheckNothingRuns(page, themeScripts, 'the top page');
  const cards = await page.$$eval('.vc-folders li', (items) => items.map((li) => ({
    name: li.querySelector('.vc-name').textContent, src: li.querySelector('img')?.src ?? null })));
  Check(cards.length === 1 && cards[0].name === kAlbumTitle, `the top page's cards are ${JSON.stringify(cards)}`);
  Check(cards.length === 1 && cards[0].src !== null && cards[0].src === byName.get('tram.jpg')?.src,
    `the album's cover is ${cards[0]?.src}, want tram.jpg's thumbnail ${byName.get('tram.jpg')?.src}`);
  const searches = [
    { what: 'a word of an IPTC caption', query: 'terracotta', want: 'alfama.jpg' },
    { what: 'an embedded keyword', query: 'yellowtram', want: 'tram.jpg' },
    { what: 'an accented keyword', query: 'elétrico', want: 'tram.jpg' },
    { what: 'a word of a Markdown sidecar\'s keywords', query: 'viewpoint', want: 'miradouro.jpg' },
    { what: 'a word of a Takeout description', query: 'jorge', want: 'sunset.jpg' },
    { what: 'a word of an XMP sidecar title', query: 'pastéis', want: 'nata.jpg' },
    { what: 'a word of an EXIF description', query: 'tide', want: 'belem.jpg' },
    { what: 'a file name', query: 'camera', want: 'camera.jpg' },
  ];
  // A result is labelled as the photo's cell is and links to its viewer page.
  for (const s of searches) {
    const results = await Search(page, s.query);
    const cell = byName.get(s.want);
    if (Check(results.length === 1, `search by ${s.what} "${s.query}" found ${JSON.stringify(results)}, want ${s.want}`)) {
      Check(results[0].href === cell?.href, `search "${s.query}" links to ${results[0].href}, want ${cell?.href}`);
      Check(results[0].name === cell?.caption, `search "${s.query}": the result reads "${results[0].name}", its cell "${cell?.caption}"`);
    }
  }
  const album_hits = await Search(page, 'graça');
  Check(album_hits.length === kPhotos.length, `search by an album-title word found ${JSON.stringify(album_hits.map((r) => r.name))}`);
  const results = await Search(page, 'yellowtram');
  if (results.length === 1) {
    await Promise.all([page.waitForNavigation(), page.click('#vc-search-results a')]);
    Check((await page.textContent('h1')) === 'Tram 28', 'a search result does not open the photo\'s viewer page');
  }
  await context.close();
  return byName;
}

// --show-location=1: the viewer of each photo with a place links to OpenStreetMap at it.
async function CheckLocation(browser, root, byName, problems) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await OpenPage(context, problems);
  const places = [
    { name: 'tram.jpg', latitude: 38.7138889, longitude: -9.13 },
    { name: 'sunset.jpg', latitude: 38.7071, longitude: -9.1355 },
  ];
  for (const place of places) {
    await page.goto(byName.get(place.name).href, { waitUntil: 'load' });
    const link = await page.$eval('a[href*="openstreetmap.org"]', (a) => a.href).catch(() => null);
    if (!Check(link !== null, `--show-location=1: the viewer of ${place.name} has no OpenStreetMap link`)) continue;
    const url = new URL(link);
    const lat = Number(url.searchParams.get('mlat'));
    const lon = Number(url.searchParams.get('mlon'));
    Check(Math.abs(lat - place.latitude) < 1e-4 && Math.abs(lon - place.longitude) < 1e-4,
      `--show-location=1: the viewer of ${place.name} links to ${link}`);
  }
  for (const name of ['alfama.jpg', 'camera.jpg']) {
    await page.goto(byName.get(name).href, { waitUntil: 'load' });
    Check(!(await page.$('a[href*="openstreetmap.org"]')), `--show-location=1: ${name} has no place but a map link`);
  }
  await context.close();
}

async function CheckFileNameCaptions(browser, root, problems) {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 } });
  const page = await OpenPage(context, problems);
  await page.goto(pathToFileURL(path.join(root, 'lisbon', 'vellumcast.html')).href, { waitUntil: 'load' });
  for (const cell of await Cells(page)) {
    Check(cell.caption === cell.name, `--captions=name: the cell of ${cell.name} reads ${JSON.stringify(cell.caption)}`);
  }
  await context.close();
}

async function Main() {
  let args;
  try {
    args = ParseArguments(process.argv.slice(2));
  } catch (error) {
    console.error(`story_check: ${error.message}`);
    return 2;
  }
  const work = args.work ?? fs.mkdtempSync(path.join(os.tmpdir(), 'vc-story-'));
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  const themeScripts = ThemeScripts();
  const problems = [];
  const browser = await chromium.launch({ executablePath: kChromiumPath, args: kChromiumArgs });
  try {
    const root = path.join(work, 'story');
    RunTool(args['make-tree'], [root], 'make-story-tree');
    Index(args, root, []);
    CheckNoCoordinates(root, 'the default run');
    const byName = await CheckStory(browser, root, themeScripts, problems);
    Index(args, root, ['--show-location=1']);
    await CheckLocation(browser, root, byName, problems);
    CheckNoCoordinates(root, 'with --show-location=1, outside the viewers', true);
    Index(args, root, ['--captions=name']);
    CheckNoCoordinates(root, 'a run after --show-location=1 without it');
    await CheckFileNameCaptions(browser, root, problems);
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
