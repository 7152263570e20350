// The page in headless Chromium (Debian's chromium driven by playwright-core),
// served as scripts/web.sh serves it: whole updates through the window, against
// the controllers simulated in the page (?simulate=) and through the page's
// WebHID bus against a stand-in navigator.hid whose devices are the project's
// simulated controllers (stand_in_hid.js), checked on what each controller holds.
// The page is built first (scripts/web.sh --build-only); screenshots go to
// build/web-test/.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { basename, dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { serve } from '../serve.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const root = join(here, '..', '..');
const pageDir = join(root, 'build', 'web');
const standInDir = join(root, 'build', 'web-build', 'stand-in');
const outputDir = join(root, 'build', 'web-test');
const kRecordHeader = 28;  // an image record's header; its payload follows
const kCmdErase = 4;       // a boot frame's command, bytes 2 and 3 of the report
// The files a person picks: a sample image alone, or with its signature by the demo key.
const samplePath = (name) => join(pageDir, 'samples', name);
const unsigned = (image) => [samplePath(image)];
const signed = (image) => [samplePath(image), samplePath(image + '.minisig')];
// The same, with one byte of the image's payload changed.
const changed = (image) => signed(image).map((path, i) => {
  const buffer = readFileSync(path);
  if (i === 0) buffer[kRecordHeader + 12] ^= 1;
  return { name: basename(path), mimeType: 'application/octet-stream', buffer };
});
// What the question shows of a signature, and how a refusal names it. The demo
// trusts the demo key that signs the samples; on WebHID the page trusts only
// the keys built into the program.
const kShown = { verified: 'Signed by Tarvik Update demo key',
  unsigned: 'This image is not signed. Go on only with an image from the controller\'s maker.' };
const kRefused = { mismatch: /cannot be trusted: its signature by key \w+ does not match it/,
  damaged: /cannot be trusted: the signature file beside it is damaged/,
  untrusted: /cannot be trusted: it is signed by key \w+, which this computer does not trust/ };

let server;
let browser;
let origin;

before(async () => {
  mkdirSync(outputDir, { recursive: true });
  server = await serve(pageDir, 0, { '/stand-in/': standInDir });
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

// `standIn`: the options of the stand-in navigator.hid (stand_in_hid.js), or none.
async function openPage(query, locale = 'en-US', standIn = null, waitForVersion = true) {
  const page = await browser.newPage({ locale, viewport: { width: 640, height: 420 } });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  if (standIn) {
    await page.addInitScript((options) => { window.TarvikStandInOptions = options; }, standIn);
    await page.addInitScript({ path: join(here, 'stand_in_hid.js') });
  }
  await page.goto(`${origin}/${query}`);
  if (waitForVersion) await versionInTitle(page);
  return { page, errors };
}

// The start-up search and version query put the version into the title.
async function versionInTitle(page) {
  await page.waitForFunction(() => /\(/.test(document.title), null, { timeout: 15000 });
}

// Presses "USB Update" and picks `files` (paths, or setInputFiles' payloads).
async function pick(page, files) {
  await page.click('#control-1007');
  await page.locator('#file-picker[open]').waitFor();
  await page.setInputFiles('#file-picker input', files);
  await page.click('#file-picker .ok');
}

// Picks `files` and answers every box with OK until the upgraded notice
// shows or a box says the update failed; the texts of the boxes, in order.
// `shots`: each box is photographed as `${shots}-N.png`, the step line as `${shots}-step.png`.
async function updateFromWindow(page, files, shots = null) {
  await pick(page, files);
  const boxes = [];
  // Whether the notice shows and what it says, read at one moment: the step line turns into it.
  const shown = () => page.evaluate(() => {
    const element = document.querySelector('#control--1');
    return element && !element.hidden ? element.textContent : null;
  });
  const upgraded = async () => /^Firmware upgraded!$|^升级成功。$/.test((await shown()) ?? '');
  const failed = () => boxes.some((text) => /failure|失败/.test(text));
  let stepShot = false;
  const deadline = Date.now() + 30000;
  while (!(await upgraded()) && !failed()) {
    assert.ok(Date.now() < deadline, `no upgraded notice; boxes: ${JSON.stringify(boxes)}`);
    if (await page.locator('#message-box[open]').isVisible()) {
      boxes.push(await page.locator('#message-box .text').textContent());
      if (shots) await page.screenshot({ path: join(outputDir, `${shots}-${boxes.length}.png`) });
      await page.click('#message-box .ok');
    } else if (shots && !stepShot && /\.\.\.$/.test((await shown()) ?? '')) {
      stepShot = true;
      await page.screenshot({ path: join(outputDir, `${shots}-step.png`) });
    }
    await page.waitForTimeout(50);
  }
  return boxes;
}

// Waits for the text of `selector` to become `text`, then compares.
async function settledText(page, selector, text) {
  const has = ([s, t]) => document.querySelector(s)?.textContent === t;
  await page.waitForFunction(has, [selector, text]).catch(() => {});
  assert.equal(await page.textContent(selector), text);
}

async function controllers(page) {
  return JSON.parse(await page.evaluate(() => UTF8ToString(Module._tarvik_web_simulated_controllers())));
}

// Whether `controller` holds `image` whole (its one record's payload), and the version it was stamped with.
async function assertHolds(page, controller, image) {
  if (controller.protocol === 'boot') {
    assert.deepEqual(controller.regions.map((r) => [r.mcu, r.address, r.bytes]),
      [['main', 0x08004000, payloadHex(image)]]);
    assert.deepEqual(controller.stamps, [{ mcu: 'main', version: 131 }]);
    // Back from its reset, the controller tells its new version.
    await page.waitForFunction(() => /Fw v1\.31/.test(document.title), null, { timeout: 5000 });
  } else {
    assert.equal(controller.firmware, payloadHex(image));
    assert.equal(controller.transfers, 1);
  }
}

function payloadHex(image) {
  return readFileSync(samplePath(image)).subarray(kRecordHeader).toString('hex');
}

// A boot-mode controller that was never written to, erased or reset.
const kUntouched = { protocol: 'boot', regions: [], stamps: [], resets: 0 };

const kUpdates = [
  { simulate: 'boot', image: 'boot-main-v1.31.dat' },
  { simulate: 'packet1', image: 'packet-v1.40.dat' },
  // A report-mode-2 controller that switches to mode 1 when asked, as a real one does.
  { simulate: 'packet2', settings: ['switch=replug'], image: 'packet-v1.40.dat' },
];

for (const { simulate, settings = [], image } of kUpdates) {
  const query = `?simulate=${simulate}` + settings.map((s) => `&sim=${s}`).join('');
  test(`${query}: ${image} through the window ends "Firmware upgraded!" and the controller holds it`, async () => {
    const { page, errors } = await openPage(query);
    const boxes = await updateFromWindow(page, signed(image));
    assert.equal(await page.locator('#control--1').textContent(), 'Firmware upgraded!');
    assert.match(boxes.at(-1), /Firmware upgraded!/);
    assert.ok(boxes.length >= 2, 'the version change is confirmed in a box');
    assert.ok(boxes[0].split('\n').includes(kShown.verified), boxes[0]);
    await assertHolds(page, (await controllers(page))[0], image);
    assert.deepEqual(errors, []);
    await page.close();
  });
}

for (const { simulate, settings = [], image } of kUpdates) {
  test(`WebHID, ${simulate} ${settings.join(' ')}: ${image} through the page's bus, and the controller holds it`, async () => {
    const switches = simulate === 'packet2';
    const { page, errors } = await openPage('', 'en-US', { simulate, settings, granted: true }, !switches);
    if (switches) {
      // Told to change to report mode 1, it came back as a product the page
      // was never given: the person is asked to pick it again.
      await page.locator('#repick').waitFor();
      await page.click('#connect');
      await page.locator('#repick').waitFor({ state: 'hidden' });
      await versionInTitle(page);
    }
    const boxes = await updateFromWindow(page, unsigned(image));
    assert.match(boxes.at(-1), /Firmware upgraded!/);
    await assertHolds(page, (await page.evaluate(() => TarvikStandIn.holdings()))[0], image);
    assert.deepEqual(errors, []);
    await page.close();
  });
}

// The window's steps; before a controller is granted the page's first step comes ahead of them.
const kHelp = [
  { locale: 'en-US', first: '1. Press "Connect controller" and choose the controller.',
    steps: ['Hold down pair button and connect to PC via USB cable.',
      'Click "USB Update" button and select firmware file.'] },
  { locale: 'zh-CN', first: '1. 点击“连接手柄”并选择手柄。', steps: ['按住配对键并插入PC。', '点击 USB 升级按钮，选择升级文件升级。'] },
];
const numbered = (steps, from) => steps.map((step, i) => `${from + i}. ${step}`).join('\n\n');

for (const { locale, first, steps } of kHelp) {
  test(`WebHID, ${locale}: until a controller is granted the help starts with "Connect controller" (screenshot)`, async () => {
    const { page, errors } = await openPage('', locale, { simulate: 'boot' }, false);
    const help = `${first}\n\n${numbered(steps, 2)}`;
    await settledText(page, '#control-1008', help);
    // The buttons are named as the page shows them, "Connect controller" first.
    const at = async (button) => help.indexOf(await page.textContent(button));
    assert.ok(await at('#connect') >= 0 && await at('#connect') < await at('#control-1007'));
    await page.screenshot({ path: join(outputDir, `page-connect-first-${locale}.png`) });
    await page.click('#connect');
    await versionInTitle(page);
    await settledText(page, '#control-1008', numbered(steps, 1));
    assert.deepEqual(errors, []);
    await page.close();
  });
}

test('WebHID, boot: back from its reset as a device never granted, it is asked for again and shows its new version', async () => {
  const { page, errors } = await openPage('', 'en-US', { simulate: 'boot', granted: true, dropsGrant: true });
  assert.match((await updateFromWindow(page, unsigned('boot-main-v1.31.dat'))).at(-1), /Firmware upgraded!/);
  await page.locator('#repick').waitFor({ timeout: 10000 });
  assert.match(await page.locator('#repick').textContent(), /press "Connect controller" and choose it again/);
  await page.screenshot({ path: join(outputDir, 'page-repick-boot.png'), fullPage: true });
  await page.click('#connect');
  await page.locator('#repick').waitFor({ state: 'hidden' });
  await assertHolds(page, (await page.evaluate(() => TarvikStandIn.holdings()))[0], 'boot-main-v1.31.dat');
  assert.deepEqual(errors, []);
  await page.close();
});

test('WebHID, boot: the frame after an erase reaches the controller no sooner than 1000 ms after it', async () => {
  const { page } = await openPage('', 'en-US', { simulate: 'boot', granted: true });
  assert.match((await updateFromWindow(page, unsigned('boot-main-v1.31.dat'))).at(-1), /Firmware upgraded!/);
  const sent = await page.evaluate(() => TarvikStandIn.sent());
  const gaps = sent.flatMap((r, i) => (r.bytes[2] | (r.bytes[3] << 8)) === kCmdErase ? [sent[i + 1].at - r.at] : []);
  assert.ok(gaps.length > 0, 'an erase frame was sent');
  for (const gap of gaps) assert.ok(gap >= 1000 && gap < 1200, `${gap.toFixed(2)} ms after the erase frame`);
  await page.close();
});

test('WebHID: a controller unplugged in the middle of a boot-mode update fails it, and the window says so', async () => {
  const { page } = await openPage('', 'en-US', { simulate: 'boot', settings: ['unplug.after=40'], granted: true });
  const boxes = await updateFromWindow(page, unsigned('boot-main-v1.31.dat'));
  assert.match(boxes.at(-1), /Firmware update failure/);
  assert.ok(!(await page.locator('#control--1').isVisible()));
  await page.waitForFunction(() => !/\(/.test(document.title), null, { timeout: 5000 });
  assert.ok(await page.locator('#control-1007').isDisabled());
  const [controller] = await page.evaluate(() => TarvikStandIn.holdings());
  const written = controller.regions.reduce((sum, r) => sum + r.bytes.length / 2, 0);
  assert.ok(written > 0 && written < payloadHex('boot-main-v1.31.dat').length / 2, `${written} bytes written`);
  assert.deepEqual(controller.stamps, []);
  await page.close();
});

test('the window in English and in Chinese, as the browser\'s language says (screenshots)', async () => {
  const kWindows = [
    { locale: 'en-US', button: 'USB Update', file: 'page-en.png' },
    { locale: 'zh-CN', button: 'USB 升级', file: 'page-zh.png' },
  ];
  for (const { locale, button, file } of kWindows) {
    const { page } = await openPage('?simulate=boot', locale);
    assert.equal(await page.locator('#control-1007').textContent(), button);
    assert.ok(await page.locator('#control-1007').isEnabled());
    // The demo offers its sample images (their list arrives after the window).
    await page.locator('#samples a[href="samples/boot-main-v1.31.dat"]').waitFor({ timeout: 5000 });
    assert.ok(await page.locator('#samples a[href="samples/boot-main-v1.31.dat.minisig"]').isVisible());
    await page.screenshot({ path: join(outputDir, file) });
    await page.close();
  }
});

// The boxes of an update as the page shows them, in both languages: a failure
// says why and what next, a refused image gets no question and reaches no
// controller, and the question says what the image writes and who signed it (screenshots).
const kBoxScenes = [
  { name: 'signed', query: '?simulate=boot', image: 'boot-main-v1.31.dat', files: signed,
    en: [/^Fw 1\.31 and current is 1\.20\nSigned by Tarvik Update demo key\n$/, /Firmware upgraded!/],
    zh: [/^固件版本 1\.31 当前版本为 1\.20\n签名者：Tarvik Update demo key\n$/, /升级成功。/] },
  { name: 'changed', query: '?simulate=boot', image: 'boot-main-v1.31.dat', files: changed, untouched: true,
    en: [/^Firmware update failure\n\n.*boot-main-v1\.31\.dat cannot be trusted: its signature by key \w+ does not match it/s],
    zh: [/^固件更新失败\n\n.*boot-main-v1\.31\.dat 不可信：密钥 \w+ 的签名与之不符/s] },
  { name: 'unplugged', query: '?simulate=boot&sim=unplug.after=40', image: 'boot-two-mcus-v1.31.dat', files: unsigned,
    en: [/^Fw 1\.31 and current is 1\.20\nATmcu 1\.12 and current is 1\.10\nThis image is not signed\. Go on only with an image from the controller's maker\.\n$/,
      /^Firmware update failure\n\nThe controller was disconnected at .*\n\n.*Hold the pair button, plug it in again/s],
    zh: [/^固件版本 1\.31 当前版本为 1\.20\nATmcu 1\.12 当前版本为 1\.10\n此固件未签名。请仅在固件来自手柄厂商时继续。\n$/, /^固件更新失败\n\n手柄在进度 .*按住配对键/s] },
  { name: 'broken-image', query: '?simulate=boot', image: 'broken.dat', files: signed,
    en: [/^Firmware update failure\n\n.*broken\.dat is not a valid image: .*\n\nPress "USB Update" and choose another image\.$/s],
    zh: [/^固件更新失败\n\n.*broken\.dat 不是有效的镜像.*请点击“USB 升级”，选择另一个升级文件。$/s] },
];
for (const { name, query, image, files, untouched, en, zh } of kBoxScenes) {
  for (const [locale, expected] of [['en-US', en], ['zh-CN', zh]]) {
    test(`${query}, ${name} ${image}, ${locale}: the boxes say what the window knows (screenshots)`, async () => {
      const { page, errors } = await openPage(query, locale);
      const boxes = await updateFromWindow(page, files(image), `page-${name}-${locale}`);
      assert.equal(boxes.length, expected.length, JSON.stringify(boxes));
      boxes.forEach((text, i) => assert.match(text, expected[i]));
      if (untouched) assert.deepEqual(await controllers(page), [kUntouched]);
      assert.deepEqual(errors, []);
      await page.close();
    });
  }
}

// What assistive technology meets at each state of an update, driven by the
// keyboard alone: axe-core finds no WCAG 2.1 A or AA violation, and the
// accessibility tree names the controls. The file chooser is the system's:
// the test hands it the files, as a person would pick them there. A wrong
// choice is announced in the page's language and keeps OK off.
const axePath = join(here, 'node_modules', 'axe-core', 'axe.min.js');
const kAccess = [
  { locale: 'en-US', progress: 'Update progress', update: 'USB Update', upgraded: 'Firmware upgraded!',
    wrongChoice: 'Choose one image (.dat), and at most one signature (.minisig) with it.' },
  { locale: 'zh-CN', progress: '更新进度', update: 'USB 升级', upgraded: '升级成功。',
    wrongChoice: '请选择一个固件（.dat），以及至多一个与之配套的签名（.minisig）。' },
];
// Choices the picker refuses: two images, two signatures, a signature alone.
const kWrongChoices = [[...unsigned('boot-main-v1.31.dat'), ...unsigned('packet-v1.40.dat')],
  [...signed('boot-main-v1.31.dat'), signed('packet-v1.40.dat')[1]], [signed('boot-main-v1.31.dat')[1]]];

async function violations(page, state) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.addScriptTag({ path: axePath });
  const found = await page.evaluate(async () => (await axe.run(document, {
    runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] },
  })).violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
  assert.deepEqual(found, [], state);
}

// Tabs to the control that `selector` finds, then presses `key` on it.
async function byKeyboard(page, selector, key = 'Enter') {
  for (let tabs = 0; !(await page.evaluate((s) => document.activeElement?.matches(s), selector)); ++tabs) {
    assert.ok(tabs < 12, `${selector} is not reached with Tab`);
    await page.keyboard.press('Tab');
  }
  await page.keyboard.press(key);
}

for (const { locale, progress, update, upgraded, wrongChoice } of kAccess) {
  test(`WebHID, ${locale}: by keyboard alone, every state of an update is named and breaks no WCAG 2.1 AA rule`, async () => {
    const { page, errors } = await openPage('', locale, { simulate: 'boot' }, false);
    await page.locator('#connect:not([hidden])').waitFor();
    await violations(page, 'before "Connect controller"');
    await byKeyboard(page, '#connect');
    await versionInTitle(page);
    await violations(page, 'connected');
    const tree = await page.locator('main').ariaSnapshot();
    assert.ok(tree.includes(`progressbar "${progress}"`), tree);
    assert.ok(tree.includes(`button "${update}"`), tree);

    await byKeyboard(page, '#control-1007');
    await page.locator('#file-picker[open]').waitFor();
    await violations(page, 'the picker');
    for (const files of kWrongChoices) {
      await page.setInputFiles('#file-picker input', files);
      assert.equal(await page.locator('#file-picker [role="alert"]:not([hidden])').textContent(), wrongChoice);
      assert.ok(await page.locator('#file-picker .ok').isDisabled());
    }
    await violations(page, 'the picker with a wrong choice');
    await page.setInputFiles('#file-picker input', unsigned('boot-main-v1.31.dat'));
    await byKeyboard(page, '#file-picker .ok');
    await page.locator('#message-box[open][role="dialog"]').waitFor();
    await violations(page, 'the question');
    const question = await page.locator('#message-box').ariaSnapshot();
    assert.match(question, /- dialog "Tarvik Update v2\.00"/, question);

    await page.keyboard.press('Enter');  // the question's OK has the focus
    await page.locator('#control--1.step:not([hidden])').waitFor();
    await violations(page, 'updating');
    assert.match(await page.locator('#window').ariaSnapshot(), /- status: .+\.\.\./);

    await page.locator('#message-box[open][role="alertdialog"]').waitFor({ timeout: 30000 });
    await violations(page, 'the end box');
    assert.match(await page.locator('#message-box').ariaSnapshot(), /- alertdialog "Tarvik Update v2\.00"/);
    assert.match(await page.locator('#message-box .text').textContent(), new RegExp(upgraded.replace('.', '\\.')));
    await page.keyboard.press('Enter');
    await page.locator('#message-box[open]').waitFor({ state: 'hidden' });
    // The update winds up after its end box: the step line shows the notice once it has.
    await page.waitForFunction((text) => document.querySelector('#control--1').textContent === text, upgraded);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test(`?simulate=boot, ${locale}: a failure box is an alert dialog that breaks no WCAG 2.1 AA rule`, async () => {
    const { page, errors } = await openPage('?simulate=boot&sim=unplug.after=40', locale);
    await byKeyboard(page, '#control-1007');
    await page.locator('#file-picker[open]').waitFor();
    await page.setInputFiles('#file-picker input', signed('boot-two-mcus-v1.31.dat'));
    await byKeyboard(page, '#file-picker .ok');
    await page.locator('#message-box[open][role="dialog"]').waitFor();
    await page.keyboard.press('Enter');
    await page.locator('#message-box[open][role="alertdialog"]').waitFor({ timeout: 30000 });
    await violations(page, 'a failure box');
    await page.keyboard.press('Enter');
    assert.deepEqual(errors, []);
    await page.close();
  });
}

// The text of the first box after picking `files`; Cancel answers a question, OK a refusal.
async function firstBox(page, files) {
  await pick(page, files);
  await page.locator('#message-box[open]').waitFor();
  const text = await page.locator('#message-box .text').textContent();
  await page.click((await page.locator('#message-box .cancel').isVisible()) ? '#message-box .cancel' : '#message-box .ok');
  await page.locator('#message-box[open]').waitFor({ state: 'hidden' });
  return text;
}

// The signature cases every platform's tests check, the demo key standing for
// the maker's, on an image that the page hashes in several slices.
test('?simulate=boot: each signature case gets its question or its refusal, and the controller nothing', async (t) => {
  const dir = join(outputDir, 'signatures');
  const keys = join(root, 'build', 'web-build', 'demo-key');
  const large = Buffer.concat([readFileSync(samplePath('boot-main-v1.31.dat')), Buffer.alloc(3 << 20, 0x5a)]);
  large.writeUInt32LE(large.length - kRecordHeader, 8);  // the record's payload size
  writeFileSync(join(outputDir, 'large.dat'), large);
  execFileSync(join(root, 'tests', 'scripts', 'make_signature_vectors.sh'), [join(outputDir, 'large.dat'),
    samplePath('packet-v1.40.dat'), dir, join(keys, 'demo.key'), join(keys, 'demo.pub')]);
  const cases = readFileSync(join(dir, 'vectors.tsv'), 'utf8').trim().split('\n').map((line) => line.split('\t'))
    .map(([name, image, status]) => [name, status, [image, image + '.minisig'].map((f) => join(dir, f)).filter(existsSync)]);
  // Picked alone after the others, a signed image is unsigned: no signature stays from an earlier choice.
  cases.push(['default alone', 'unsigned', [join(dir, 'default.dat')]]);
  const { page, errors } = await openPage('?simulate=boot');
  for (const [name, status, files] of cases) {
    await t.test(`${name}: ${status}`, async () => {
      const text = await firstBox(page, files);
      if (kShown[status]) assert.ok(text.split('\n').includes(kShown[status]), text);
      else assert.match(text, kRefused[status]);
      assert.deepEqual(await controllers(page), [kUntouched]);
    });
  }
  assert.deepEqual(errors, []);
  await page.close();
});

test('without libsodium, or on WebHID with no key built in, a signed sample is refused before any report', async () => {
  const { page } = await openPage('', 'en-US', { simulate: 'boot', granted: true });
  assert.match(await firstBox(page, signed('boot-main-v1.31.dat')), kRefused.untrusted);
  assert.deepEqual(await page.evaluate(() => TarvikStandIn.holdings()), [kUntouched]);
  const unloaded = await browser.newPage();
  await unloaded.route(/libsodium[^/]*\.mjs$/, (route) => route.abort());
  await unloaded.goto(`${origin}/?simulate=boot`);
  await versionInTitle(unloaded);
  assert.match(await firstBox(unloaded, signed('boot-main-v1.31.dat')), kRefused.mismatch);
  assert.deepEqual(await controllers(unloaded), [kUntouched]);
  await Promise.all([page.close(), unloaded.close()]);
});

test('a bad ?sim= key says what is wrong instead of a window', async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/?simulate=boot&sim=no.such.key=1`);
  await page.locator('#sorry').waitFor();
  assert.match(await page.locator('#sorry').textContent(), /no\.such\.key/);
  assert.ok(!(await page.locator('#window').isVisible()));
  await page.close();
});

test('a browser without WebHID gets a sentence naming the browsers that work and the desktop programs', async () => {
  const page = await browser.newPage();
  await page.addInitScript(() => { delete Navigator.prototype.hid; });
  await page.goto(`${origin}/`);
  await page.locator('#sorry').waitFor();
  assert.match(await page.locator('#sorry').textContent(), /Chrome, Edge or Opera.*Windows or Linux/);
  assert.ok(!(await page.locator('#window').isVisible()));
  await page.close();
});
