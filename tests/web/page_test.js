// The page (build-web/site) in the system's Chromium, as a person uses it:
// it says "Loading Training data", shows the training's progress, and once
// trained reads three digits drawn with the mouse and one drawn with a
// finger as each stroke ends; Space clears; Esc closes. The progress lines the page
// writes to the browser console must be the native program's.
//
//   node page_test.js SITE_DIR EXPECTED_PROGRESS SCREENSHOT_DIR
//
// EXPECTED_PROGRESS holds the native "case N err=E" lines. Screenshots of
// each stage go to SCREENSHOT_DIR (scripts/test-web keeps them on failure).
// Exit status 0 when everything held, 1 otherwise.
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const { chromium } = require('playwright-core');

const [site, expectedFile, shots] = process.argv.slice(2);
const browserPath = process.env.CHROMIUM || '/usr/bin/chromium';
const trainingLimitMs = process.env.TAVELIN_PAGE_TEST_VERBOSE ? 30000 : 300000;
const width = 960, height = 640;

// Digits in canvas cells (28 x 28), centred and 18 cells tall, stroke by
// stroke as a hand draws them.
function digit(points, aspect) {
  return points.map((stroke) => stroke.map(([u, v]) => [14 + (u - 0.5) * 18 * aspect, 14 + (v - 0.5) * 18]));
}
const mouseDigits = [
  [7, digit([[[0, 0], [1, 0], [0.35, 1]]], 0.6)],
  [2, digit([[[0.05, 0.3], [0.15, 0.1], [0.4, 0], [0.7, 0.02], [0.9, 0.15], [0.92, 0.35], [0.75, 0.55],
              [0.4, 0.78], [0, 1], [1, 1]]], 0.65)],
  [4, digit([[[0.65, 0], [0, 0.65], [1, 0.65]], [[0.65, 0], [0.65, 1]]], 0.7)],
];
const touchDigit = [3, digit([[[0.05, 0.1], [0.35, 0], [0.75, 0.05], [0.9, 0.2], [0.8, 0.38], [0.45, 0.48],
                               [0.85, 0.58], [0.95, 0.78], [0.75, 0.95], [0.4, 1], [0.05, 0.9]]], 0.6)];

// Serves the folder on 127.0.0.1, as any static server would.
function serve(root) {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.svg': 'image/svg+xml' };
  const server = http.createServer((request, response) => {
    const name = path.join(root, path.normalize(decodeURIComponent(request.url.split('?')[0])).replace(/^(\.\.[/\\])+/, ''));
    const file = name.endsWith('/') ? name + 'index.html' : name;
    fs.readFile(file, (error, bytes) => {
      if (error) {
        response.writeHead(404);
        response.end();
        return;
      }
      response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream',
                                'Content-Length': bytes.length });
      response.end(bytes);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok    ' : 'FAILED ') + what);
  if (!ok) failures++;
}

async function main() {
  const expected = fs.readFileSync(expectedFile, 'utf8').split('\n').filter((l) => l.startsWith('case '));
  fs.mkdirSync(shots, { recursive: true });
  const server = await serve(site);
  const browser = await chromium.launch({
    executablePath: browserPath,
    // Root may not use Chromium's sandbox; a container's /dev/shm may be
    // too small for it.
    args: ['--disable-dev-shm-usage'].concat(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : []),
  });
  let page = null;
  try {
    const context = await browser.newContext({ viewport: { width, height }, hasTouch: true });
    page = await context.newPage();
    const progress = [];
    const errors = [];
    page.on('console', (m) => {
      if (m.type() === 'log' && m.text().startsWith('case ')) progress.push(m.text());
      if (process.env.TAVELIN_PAGE_TEST_VERBOSE) console.log('console: ' + m.text());
      if (m.type() === 'error') errors.push(m.text());
    });
    page.on('pageerror', (e) => errors.push(String(e)));
    const windowText = () => page.textContent('#tavelin-text');
    const shot = (name) => page.screenshot({ path: path.join(shots, name + '.png') });
    // Whatever the page does next waits for the frames that follow.
    const frames = (n) => page.evaluate((n) => new Promise((resolve) => {
      const next = () => (--n <= 0 ? resolve() : requestAnimationFrame(next));
      requestAnimationFrame(next);
    }), n);

    const started = Date.now();
    await page.goto('http://127.0.0.1:' + server.address().port + '/');
    await page.waitForFunction(() => /Loading Training data/.test(document.getElementById('tavelin-text').textContent),
                               null, { timeout: 60000 });
    check(true, 'the window says "Loading Training data"');
    await page.waitForFunction(() => /Training step \d+ of \d+/.test(document.getElementById('tavelin-text').textContent),
                               null, { timeout: 60000 });
    check(/Loading Training data/.test(await windowText()), 'it shows the training\'s progress while it says so');
    await shot('1-training');
    await page.waitForFunction(() => /^results: -1 0\.0 confidence/.test(document.getElementById('tavelin-text').textContent),
                               null, { timeout: trainingLimitMs });
    const trainedMs = Date.now() - started;
    await frames(2);
    await shot('2-trained');
    check(progress.length === expected.length && progress.every((l, i) => l === expected[i]),
          'the console\'s ' + progress.length + ' progress lines are the native program\'s ' + expected.length);

    // The drawing canvas: the largest white square on the page's canvas.
    const box = await page.evaluate(() => {
      const c = document.getElementById('tavelin');
      const p = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      const white = (x, y) => p[4 * (y * c.width + x)] === 255 && p[4 * (y * c.width + x) + 1] === 255 &&
                              p[4 * (y * c.width + x) + 2] === 255;
      const longest = (n, at) => {
        let best = [0, 0], start = -1;
        for (let i = 0; i <= n; i++) {
          if (i < n && at(i)) { if (start < 0) start = i; } else if (start >= 0) {
            if (i - start > best[1] - best[0]) best = [start, i];
            start = -1;
          }
        }
        return best;
      };
      const [left, right] = longest(c.width, (x) => white(x, c.height >> 1));
      const [top, bottom] = longest(c.height, (y) => white((left + right) >> 1, y));
      return { left, top, side: Math.min(right - left, bottom - top) };
    });
    check(box.side > 100, 'the drawing canvas is ' + box.side + ' pixels square');
    const at = ([x, y]) => [box.left + (x * box.side) / 28, box.top + (y * box.side) / 28];

    const readsAs = async (d, how) => {
      await frames(3);
      const text = await windowText();
      check(text.startsWith('results: ' + d + ' '), d + ' drawn with ' + how + ' is read on stroke end: "' + text.split('\n')[0] + '"');
    };
    for (const [d, strokes] of mouseDigits) {
      await page.keyboard.press('Space');
      for (const stroke of strokes) {
        await page.mouse.move(...at(stroke[0]));
        await page.mouse.down();
        for (const p of stroke.slice(1)) await page.mouse.move(...at(p), { steps: 8 });
        await page.mouse.up();
      }
      await readsAs(d, 'the mouse');
      await shot('3-mouse-' + d);
    }

    await page.keyboard.press('Space');
    const touch = await context.newCDPSession(page);
    const [d, strokes] = touchDigit;
    for (const stroke of strokes) {
      const point = (p) => { const [x, y] = at(p); return [{ x, y, id: 1 }]; };
      await touch.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: point(stroke[0]) });
      for (let i = 1; i < stroke.length; i++)
        for (let s = 1; s <= 8; s++) {
          const [x0, y0] = stroke[i - 1], [x1, y1] = stroke[i];
          await touch.send('Input.dispatchTouchEvent',
                           { type: 'touchMove', touchPoints: point([x0 + ((x1 - x0) * s) / 8, y0 + ((y1 - y0) * s) / 8]) });
        }
      await touch.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
    }
    await readsAs(d, 'a finger');
    await shot('4-touch-' + d);
    check(await page.evaluate(() => document.scrollingElement.scrollTop === 0 && window.scrollY === 0),
          'drawing with a finger did not scroll the page');

    await page.keyboard.press('Space');
    await frames(3);
    check((await windowText()).startsWith('results: -1 0.0 confidence'), 'Space clears the answer');
    await shot('5-cleared');
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => /window was closed/.test(document.getElementById('loading-text').textContent),
                               null, { timeout: 10000 });
    check(true, 'Esc closes the window, and the page says so');
    await shot('6-closed');
    check(errors.length === 0, 'no errors in the console' + (errors.length ? ': ' + errors.join('; ') : ''));
    console.log('page-test: trained ' + trainedMs + ' ms after the page was asked for');
  } catch (error) {
    // What the page showed when it went wrong.
    if (page) await page.screenshot({ path: path.join(shots, 'failed.png') }).catch(() => {});
    throw error;
  } finally {
    await browser.close();
    server.close();
  }
}

main().then(() => {
  console.log(failures ? 'page-test: ' + failures + ' failed' : 'page-test: all passed');
  process.exit(failures ? 1 : 0);
}, (error) => {
  console.log('page-test: ' + (error.stack || error));
  process.exit(1);
});
