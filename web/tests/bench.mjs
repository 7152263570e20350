// Prints what the page costs: its transferred size (gzipped) and a 64 KiB
// boot-mode update on the real clock against the protocol's floor (1000 ms
// erase wait + 5 ms per 46-byte chunk), side by side in each run: on the
// in-page simulated controller, and through the page's WebHID bus to the
// stand-in navigator.hid (web/tests/stand_in_hid.js), whose writes complete at once.
// A benchmark, not a test: `node web/tests/bench.mjs [RUNS]` after scripts/web.sh --build-only.
import { mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';
import { chromium } from 'playwright-core';
import { serve } from '../serve.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const pageDir = join(here, '..', '..', 'build', 'web');
const standInDir = join(here, '..', '..', 'build', 'web-build', 'stand-in');
const runs = Number(process.argv[2] || 3);

let total = 0;
for (const file of ['index.html', 'page.js', 'page.css', 'tarvik-update.js', 'tarvik-update.worker.js',
  'tarvik-update.wasm']) {
  const size = gzipSync(readFileSync(join(pageDir, file)), { level: 9 }).length;
  total += size;
  console.log(`${file.padEnd(24)} ${(size / 1024).toFixed(1).padStart(7)} KB gzipped`);
}
console.log(`${'the page'.padEnd(24)} ${(total / 1024).toFixed(1).padStart(7)} KB gzipped (budget 250 KB)`);
// libsodium comes only when a person chooses a signature file.
const sodium = ['libsodium-wrappers.mjs', 'libsodium.mjs']
  .reduce((sum, file) => sum + gzipSync(readFileSync(join(pageDir, file)), { level: 9 }).length, 0);
console.log(`${'libsodium, on demand'.padEnd(24)} ${(sodium / 1024).toFixed(1).padStart(7)} KB gzipped`);

// One record of 64 KiB for the main microcontroller, version 1.23.
const kImage = 64 * 1024;
const image = Buffer.alloc(28 + kImage);
image.writeUInt32LE(123, 0);
image.writeUInt32LE(0x08004000, 4);
image.writeUInt32LE(kImage, 8);
image.writeUInt16LE(1, 12);
for (let i = 0; i < kImage; ++i) image[28 + i] = (i * 7 + 3) & 0xff;
const imagePath = join(mkdtempSync(join(tmpdir(), 'tarvik-bench-')), 'boot-64k.dat');
writeFileSync(imagePath, image);
const floorMs = 1000 + Math.ceil(kImage / 46) * 5;
console.log(`floor = 1000 ms + ${Math.ceil(kImage / 46)} chunks x 5 ms = ${floorMs} ms`);

const server = await serve(pageDir, 0, { '/stand-in/': standInDir });
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
const ways = [
  { name: 'in-page simulation', query: '?simulate=boot', standIn: null },
  { name: 'WebHID stand-in', query: '', standIn: { simulate: 'boot', granted: true } },
];
const ratios = ways.map(() => []);

// One update on a new page: from the confirmation of the version change
// (before the first erase) to the success box, in ms.
async function updateOnce(way) {
  const page = await browser.newPage();
  if (way.standIn) {
    await page.addInitScript((options) => { window.TarvikStandInOptions = options; }, way.standIn);
    await page.addInitScript({ path: join(here, 'stand_in_hid.js') });
  }
  await page.goto(`http://localhost:${server.address().port}/${way.query}`);
  await page.waitForFunction(() => /\(/.test(document.title), null, { timeout: 15000 });
  // Each box's opening time, as the page sees it.
  await page.evaluate(() => {
    const open = TarvikPage.messageBox;
    window.boxes = [];
    TarvikPage.messageBox = (text, ...rest) => {
      window.boxes.push({ at: performance.now(), text });
      open(text, ...rest);
    };
  });
  await page.click('#control-1007');
  await page.setInputFiles('#file-picker input', imagePath);
  await page.click('#file-picker .ok');
  await page.locator('#message-box[open]').waitFor();
  const start = await page.evaluate(() => {
    document.querySelector('#message-box .ok').click();
    return performance.now();
  });
  await page.waitForFunction(() => window.boxes.length >= 2, null, { timeout: 60000 });
  const end = await page.evaluate(() => window.boxes[1]);
  await page.close();
  return { wall: end.at - start, text: end.text.trim() };
}

for (let run = 1; run <= runs; ++run) {
  const line = [];
  for (const [i, way] of ways.entries()) {
    const { wall, text } = await updateOnce(way);
    ratios[i].push(wall / floorMs);
    line.push(`${way.name}: ${wall.toFixed(0)} ms, ${(wall / floorMs).toFixed(4)} x (${text})`);
  }
  console.log(`run ${run}: ${line.join('; ')}`);
}
for (const [i, way] of ways.entries()) {
  const sorted = ratios[i].sort((a, b) => a - b);
  console.log(`${way.name}: median ${sorted[Math.floor(sorted.length / 2)].toFixed(4)} x the floor (goal: at most 1.05)`);
}
await browser.close();
server.close();
