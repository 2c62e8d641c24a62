// What the browser checks that build a catalog with the CLI share: the
// packages they need, Chromium's settings, the tally of checks, the
// command line (--cli, --make-tree, --work, --keep), running a tool, and
// the check that a page runs no script but the theme's own.

import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createRequire } from 'node:module';

export const kChromiumPath = '/usr/bin/chromium';
export const kChromiumArgs = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
export const kToolTimeoutMs = 100_000;
const kThemeDir = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..', 'themes', 'default');

// playwright-core's chromium, axe-core's script and, when asked,
// html-validate's HtmlValidate; exits 1 naming `script` when one is missing.
export async function LoadBrowserPackages(script, { htmlValidate = false } = {}) {
  const require = createRequire(import.meta.url);
  try {
    const { chromium } = await import('playwright-core');
    const packages = { chromium, axePath: require.resolve('axe-core/axe.min.js') };
    if (htmlValidate) ({ HtmlValidate: packages.HtmlValidate } = await import('html-validate'));
    return packages;
  } catch (error) {
    console.error(`${script}: a package is not installed (${error.code ?? error.message}); `
      + 'run scripts/install-deps.sh or `npm ci` in tests/browser');
    process.exit(1);
  }
}

let passed = 0;
const failures = [];
export function Check(ok, text) {
  if (ok) {
    passed += 1;
  } else {
    failures.push(text);
    console.error(`FAIL: ${text}`);
  }
  return ok;
}

// Prints the tally; the exit status: 0 when every check passed, else 1.
export function Summary() {
  console.log(`${passed} passed, ${failures.length} failed`);
  return failures.length === 0 ? 0 : 1;
}

export function ParseArguments(argv) {
  const args = { keep: false };
  for (const arg of argv) {
    const match = /^--([a-z-]+)(?:=(.*))?$/.exec(arg);
    if (!match) throw new Error(`unexpected argument '${arg}'`);
    const [, name, value] = match;
    if (name === 'keep' && value === undefined) args.keep = true;
    else if (['cli', 'make-tree', 'work'].includes(name) && value) args[name] = path.resolve(value);
    else throw new Error(`unknown or empty option '--${name}'`);
  }
  if (!args.cli || !args['make-tree']) throw new Error('--cli=PATH and --make-tree=PATH are required');
  return args;
}

// Runs `program` to its end; throws unless it exits with 0. Returns what it
// printed: { stdout, stderr }.
export function RunTool(program, args, what) {
  const result = spawnSync(program, args, { timeout: kToolTimeoutMs, encoding: 'utf8' });
  if (result.error) throw new Error(`${what}: ${result.error.message}`);
  if (result.status !== 0) throw new Error(`${what} exited with ${result.status}: ${result.stderr}`);
  return { stdout: result.stdout, stderr: result.stderr };
}

// The default theme's scripts that pages carry inline, trimmed: viewer.js,
// search.js and those its viewer template holds.
export function ThemeScripts() {
  const files = ['viewer.js', 'search.js'].map((f) => fs.readFileSync(path.join(kThemeDir, f), 'utf8').trim());
  const template = fs.readFileSync(path.join(kThemeDir, 'viewer.mustache'), 'utf8');
  return [...files, ...Array.from(template.matchAll(/<script>([\s\S]*?)<\/script>/g), (m) => m[1].trim())];
}

// No script but the theme's own (its viewer.js and search.js inline, the
// search index by address) and no javascript: address anywhere on the page.
export async function CheckNothingRuns(page, themeScripts, what) {
  const found = await page.evaluate(() => ({
    scripts: Array.from(document.scripts).map((s) => ({ src: s.getAttribute('src'), text: s.textContent.trim() })),
    addresses: Array.from(document.querySelectorAll('[href], [src], [action], [formaction]'))
      .flatMap((e) => ['href', 'src', 'action', 'formaction'].map((a) => e.getAttribute(a)))
      .filter((v) => v !== null),
    handlers: Array.from(document.querySelectorAll('*'))
      .flatMap((e) => Array.from(e.attributes).map((a) => a.name))
      .filter((n) => n.startsWith('on')),
  }));
  for (const s of found.scripts) {
    const own = s.src !== null ? /(^|\/)vellumcast-search\.js$/.test(s.src) : themeScripts.includes(s.text);
    Check(own, `${what}: a script that is not the theme's: ${s.src ?? s.text.slice(0, 80)}`);
  }
  const bad = found.addresses.filter((a) => /^\s*javascript:/i.test(a));
  Check(bad.length === 0, `${what}: javascript: addresses ${JSON.stringify(bad)}`);
  Check(found.handlers.length === 0, `${what}: event-handler attributes ${JSON.stringify(found.handlers)}`);
}
