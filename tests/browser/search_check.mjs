// The search box of a modern catalog's top page in headless Chromium, opened
// from the local folder (file://) as a person would: it finds photos by a
// word of a file name, a word of an album title and a year, its results link
// to viewer pages that exist and show thumbnails that load, the page logs no
// error, axe-core finds no serious violation with the box and its results,
// and with JavaScript off the box is not shown.
//
// Usage:
//   node search_check.mjs --cli=PATH --make-tree=PATH [--work=DIR] [--keep]
//
// Exit status: 0 when every check passes, 1 on any failure, 2 on bad usage.

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import {
  Check, kChromiumArgs, kChromiumPath, LoadBrowserPackages, ParseArguments, RunTool, Summary,
} from './check_kit.mjs';

const { chromium, axePath } = await LoadBrowserPackages('search_check');

const kTimeoutMs = 20_000;

// The sample tree with an album title and a photo of a known year.
function MakeCatalog(args, root) {
  RunTool(args['make-tree'], [root], 'make-sample-tree');
  fs.writeFileSync(path.join(root, 'animals', 'index.md'), 'Title: Wildlife of the Marsh\n\nHerons and foxes.\n');
  const when = new Date(Date.UTC(2019, 6, 1, 12));
  fs.utimesSync(path.join(root, 'travel', '2023', 'bridge.jpg'), when, when);
  RunTool(args.cli, ['index', '--style=modern', root], 'vellumcast-cli index');
}

// Types `query` into the box; returns what the results show.
async function Search(page, query) {
  await page.fill('#vc-search-q', query);
  await page.waitForFunction(() => document.getElementById('vc-search-status').textContent !== '', null,
    { timeout: kTimeoutMs });
  return page.evaluate(async () => {
    const items = Array.from(document.querySelectorAll('#vc-search-results li'));
    const images = items.map((li) => li.querySelector('img')).filter((img) => img !== null);
    await Promise.all(images.map((img) => (img.complete ? null : new Promise((resolve) => {
      img.addEventListener('load', resolve, { once: true });
      img.addEventListener('error', resolve, { once: true });
    }))));
    return {
      status: document.getElementById('vc-search-status').textContent,
      results: items.map((li) => {
        const img = li.querySelector('img');
        return { name: li.textContent, href: li.querySelector('a').href, loaded: img !== null && img.naturalWidth > 0 };
      }),
    };
  });
}

async function CheckSearch(browser, root) {
  const top = path.join(root, 'vellumcast.html');
  const context = await browser.newContext({ viewport: { width: 390, height: 844 } });
  const page = await context.newPage();
  page.setDefaultTimeout(kTimeoutMs);
  const errors = [];
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(pathToFileURL(top).href, { waitUntil: 'load' });
  Check(await page.isVisible('#vc-search-q'), 'the search box is not shown');
  Check(await page.isVisible('label[for="vc-search-q"]'), 'the search box has no visible label');

  const cases = [
    { what: 'a file-name word', query: 'heron', want: ['heron.bmp'] },
    { what: 'two words, any case', query: 'OLD town', want: ['old town.jpg'] },
    { what: 'an album-title word', query: 'marsh',
      want: ['Owl.gif', 'fox.jpg', 'heron.bmp', 'lynx.jpg', 'my cat.bmp', 'siamese.gif', 'tabby.jpg'] },
    { what: 'a year', query: '2019', want: ['bridge.jpg'] },
    { what: 'a year and month', query: '2019-07', want: ['bridge.jpg'] },
    { what: 'nothing', query: 'zebra', want: [] },
  ];
  for (const c of cases) {
    const found = await Search(page, c.query);
    const names = found.results.map((r) => r.name).sort();
    Check(JSON.stringify(names) === JSON.stringify([...c.want].sort()),
      `search by ${c.what} "${c.query}": found ${JSON.stringify(names)}, want ${JSON.stringify(c.want)}`);
    Check(c.want.length > 0 || found.status === 'No photos found.', `search "${c.query}": status "${found.status}"`);
    for (const r of found.results) {
      const file = fileURLToPath(r.href);
      Check(path.basename(file).startsWith('vellumcast-view-') && fs.existsSync(file),
        `search "${c.query}": ${r.name} links to a missing viewer page ${r.href}`);
      Check(r.loaded, `search "${c.query}": the thumbnail of ${r.name} does not load`);
    }
  }
  // The results lead where they say: a click opens the photo's viewer page.
  const found = await Search(page, 'lynx');
  if (Check(found.results.length === 1, 'search "lynx": not one result')) {
    await Promise.all([page.waitForNavigation(), page.click('#vc-search-results a')]);
    Check(page.url() === found.results[0].href, `a result leads to ${page.url()}`);
    Check((await page.textContent('h1')) === 'lynx.jpg', 'a result does not open the photo\'s viewer page');
  }
  // axe-core on the top page with the box and a list of results.
  await page.goto(pathToFileURL(top).href, { waitUntil: 'load' });
  await Search(page, 'marsh');
  await page.addScriptTag({ path: axePath });
  const violations = await page.evaluate(async () => {
    // eslint-disable-next-line no-undef
    const r = await axe.run(document, { resultTypes: ['violations'] });
    return r.violations.map((v) => ({ id: v.id, impact: v.impact, nodes: v.nodes.length, help: v.help }));
  });
  const bad = violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  Check(bad.length === 0, `axe on the top page: ${bad.map((v) => `${v.id} (${v.impact}, ${v.nodes}): ${v.help}`).join('; ')}`);
  Check(errors.length === 0, `console errors: ${errors.join('; ')}`);
  await context.close();

  // Without JavaScript the box is not shown.
  const plain = await browser.newContext({ javaScriptEnabled: false, viewport: { width: 390, height: 844 } });
  const still = await plain.newPage();
  await still.goto(pathToFileURL(top).href, { waitUntil: 'load' });
  Check((await still.$('#vc-search-q')) !== null && !(await still.isVisible('#vc-search-q')),
    'without JavaScript the search box is shown');
  await plain.close();
}

async function Main() {
  let args;
  try {
    args = ParseArguments(process.argv.slice(2));
  } catch (error) {
    console.error(`search_check: ${error.message}`);
    return 2;
  }
  const work = args.work ?? fs.mkdtempSync(path.join(os.tmpdir(), 'vc-search-'));
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  const browser = await chromium.launch({ executablePath: kChromiumPath, args: kChromiumArgs });
  try {
    const root = path.join(work, 'sample');
    MakeCatalog(args, root);
    await CheckSearch(browser, root);
  } catch (error) {
    Check(false, `unexpected: ${error.stack ?? error.message}`);
  } finally {
    await browser.close();
    if (!args.keep && !args.work) fs.rmSync(work, { recursive: true, force: true });
  }
  return Summary();
}

process.exit(await Main());
