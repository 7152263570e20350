// The page in headless Chromium (Debian's chromium driven by playwright-core),
// served as scripts/web.sh serves it: whole updates through the window against
// the controllers simulated in the page, checked on what each controller holds.
// The page is built first (scripts/web.sh --build-only); screenshots go to
// build/web-test/.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { serve } from '../serve.mjs';

const root = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const pageDir = join(root, 'build', 'web');
const outputDir = join(root, 'build', 'web-test');
const kRecordHeader = 28;  // an image record's header; its payload follows

let server;
let browser;
let origin;

before(async () => {
  mkdirSync(outputDir, { recursive: true });
  server = await serve(pageDir);
  origin = `http://localhost:${server.address().port}`;
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
});

async function openPage(query, locale = 'en-US') {
  const page = await browser.newPage({ locale, viewport: { width: 640, height: 420 } });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(`${origin}/${query}`);
  // The start-up search and version query put the version into the title.
  await page.waitForFunction(() => /\(/.test(document.title), null, { timeout: 15000 });
  return { page, errors };
}

// Presses "USB Update", picks `image` and answers every box with OK until the
// upgraded notice shows; the texts of the boxes, in order.
async function updateFromWindow(page, image) {
  await page.click('#control-1007');
  await page.locator('#file-picker[open]').waitFor();
  await page.setInputFiles('#file-picker input', join(pageDir, 'samples', image));
  await page.click('#file-picker .ok');
  const boxes = [];
  const deadline = Date.now() + 30000;
  while (!(await page.locator('#control--1').isVisible())) {
    assert.ok(Date.now() < deadline, `no upgraded notice; boxes: ${JSON.stringify(boxes)}`);
    if (await page.locator('#message-box[open]').isVisible()) {
      boxes.push(await page.locator('#message-box .text').textContent());
      await page.click('#message-box .ok');
    }
    await page.waitForTimeout(50);
  }
  return boxes;
}

async function controllers(page) {
  return JSON.parse(await page.evaluate(() => UTF8ToString(Module._tarvik_web_simulated_controllers())));
}

function payloadHex(image) {
  return readFileSync(join(pageDir, 'samples', image)).subarray(kRecordHeader).toString('hex');
}

const kUpdates = [
  { simulate: 'boot', image: 'boot-main-v1.31.dat', title: /Fw v1\.31/ },
  { simulate: 'packet1', image: 'packet-v1.40.dat' },
  // A report-mode-2 controller that switches to mode 1 when asked, as a real one does.
  { simulate: 'packet2&sim=switch=replug', image: 'packet-v1.40.dat' },
];

for (const { simulate, image, title } of kUpdates) {
  test(`?simulate=${simulate}: ${image} through the window ends "Firmware upgraded!" and the controller holds it`, async () => {
    const { page, errors } = await openPage(`?simulate=${simulate}`);
    const boxes = await updateFromWindow(page, image);
    assert.equal(await page.locator('#control--1').textContent(), 'Firmware upgraded!');
    assert.match(boxes.at(-1), /Firmware upgraded!/);
    assert.ok(boxes.length >= 2, 'the version change is confirmed in a box');
    const [controller] = await controllers(page);
    if (controller.protocol === 'boot') {
      assert.deepEqual(controller.regions.map((r) => [r.mcu, r.address, r.bytes]),
        [['main', 0x08004000, payloadHex(image)]]);
      assert.deepEqual(controller.stamps, [{ mcu: 'main', version: 131 }]);
      await page.waitForFunction((re) => new RegExp(re).test(document.title), title.source, { timeout: 5000 });
    } else {
      assert.equal(controller.firmware, payloadHex(image));
      assert.equal(controller.transfers, 1);
    }
    assert.deepEqual(errors, []);
    await page.close();
  });
}

test('the window in English and in Chinese, as the browser\'s language says (screenshots)', async () => {
  const kWindows = [
    { locale: 'en-US', button: 'USB Update', file: 'page-en.png' },
    { locale: 'zh-CN', button: 'USB 升级', file: 'page-zh.png' },
  ];
  for (const { locale, button, file } of kWindows) {
    const { page } = await openPage('?simulate=boot', locale);
    assert.equal(await page.locator('#control-1007').textContent(), button);
    assert.ok(await page.locator('#control-1007').isEnabled());
    await page.screenshot({ path: join(outputDir, file) });
    await page.close();
  }
});

test('a bad ?sim= key says what is wrong instead of a window', async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/?simulate=boot&sim=no.such.key=1`);
  await page.locator('#sorry').waitFor();
  assert.match(await page.locator('#sorry').textContent(), /no\.such\.key/);
  assert.ok(!(await page.locator('#window').isVisible()));
  await page.close();
});
