// The page around the engine: it draws the window the engine's web host
// describes (web/page_library.js calls TarvikPage on this thread), hands back
// what the person does, and starts the module with the query's parameters.
'use strict';

const TarvikPage = (() => {
  const kOk = 1;
  const kCancel = 2;
  // The page's own words; the window's texts come from the engine's text table.
  const kTexts = {
    en: {
      ok: 'OK',
      cancel: 'Cancel',
      noWebHid: 'This browser cannot reach USB controllers from a web page (it has no WebHID). ' +
        'Open this page in Chrome, Edge or Opera on a computer, or install the Tarvik Update ' +
        'program for Windows or Linux.',
      notIsolated: 'This page must be served with the headers Cross-Origin-Opener-Policy: same-origin ' +
        'and Cross-Origin-Embedder-Policy: require-corp.',
      connect: 'Connect controller',
      progress: 'Update progress',
      samples: 'Sample images for the simulated controller:',
      repick: 'The controller has restarted in its other mode, which the browser counts as a new device: ' +
        'press "Connect controller" and choose it again.',
      // The first step while the page has no controller; the window's steps follow.
      connectFirst: '1. Press "Connect controller" and choose the controller.',
      pickHint: 'Choose the image (.dat) together with its signature (.minisig) when it has one.',
      pickError: 'Choose one image (.dat), and at most one signature (.minisig) with it.',
    },
    zh: {
      ok: '确定',
      cancel: '取消',
      noWebHid: '此浏览器无法在网页中连接 USB 手柄（不支持 WebHID）。请在电脑上用 Chrome、Edge 或 Opera ' +
        '打开此页面，或安装 Windows 或 Linux 版的 Tarvik Update 程序。',
      notIsolated: '此页面须带以下响应头提供：Cross-Origin-Opener-Policy: same-origin 和 ' +
        'Cross-Origin-Embedder-Policy: require-corp。',
      connect: '连接手柄',
      progress: '更新进度',
      samples: '模拟手柄的示例固件：',
      repick: '手柄已切换到另一种模式重新启动，浏览器视其为新设备：请点击“连接手柄”并再次选择它。',
      connectFirst: '1. 点击“连接手柄”并选择手柄。',
      pickHint: '请选择固件（.dat）；固件有签名（.minisig）时，请一并选择。',
      pickError: '请选择一个固件（.dat），以及至多一个与之配套的签名（.minisig）。',
    },
  };
  const kLangChinesePrc = 2052;
  const kHelpText = 1008;
  const kUpgradedNotice = -1;
  let texts = (navigator.languages && navigator.languages[0] || navigator.language || '').startsWith('zh')
    ? kTexts.zh : kTexts.en;
  let progressLow = 0;
  let progressHigh = 100;
  // How long a boot-mode controller may be away across its reset before the
  // page takes it that the browser has lost its grant.
  const kResetAwayMs = 3000;
  let windowHelp = '';
  // The upgraded notice's own text. The window sets it first; while an update
  // works, the same line shows its step.
  let upgradedText = null;
  let noControllerGiven = false;
  // libsodium checks signatures for page_library.js. It is loaded once, when
  // a signature file is first chosen. It stays null when it cannot be loaded,
  // and then no signature verifies.
  let sodium = null;
  let sodiumLoading = null;

  const byId = (id) => document.getElementById(id);
  const control = (id) => byId('control-' + id);

  function sorry(text) {
    byId('window').hidden = true;
    byId('sorry').textContent = text;
    byId('sorry').hidden = false;
  }

  // The controllers through WebHID: the devices the person granted the page,
  // each with the page's own number, handed to the engine's bus (webhid_bus.h).
  const hid = (() => {
    const devices = new Map();  // id -> HIDDevice
    const ids = new Map();      // HIDDevice -> id
    const opening = new Map();  // id -> the promise of its opening
    const filters = [];
    const switching = new Set();  // "vendor:product" of controllers that come back as another product
    let granted = [];
    let started = false;
    let away = 0;             // the timer of a boot-mode controller that left
    let awayTooLong = false;  // it left kResetAwayMs ago and has not come back
    const key = (device) => device.vendorId + ':' + device.productId;

    function idOf(device) {
      if (ids.has(device)) return ids.get(device);
      const id = ids.size + 1;
      ids.set(device, id);
      devices.set(id, device);
      // The report id comes apart from the data: the engine gets it back in front.
      device.addEventListener('inputreport', (event) => {
        const size = 1 + event.data.byteLength;
        const at = Module._malloc(size);
        const heap = new Uint8Array(wasmMemory.buffer, at, size);
        heap[0] = event.reportId;
        heap.set(new Uint8Array(event.data.buffer, event.data.byteOffset, event.data.byteLength), 1);
        Module._tarvik_hid_input(id, at, size);
        Module._free(at);
      });
      return id;
    }
    function tell(device, connected) {
      if (!started) return;
      const id = idOf(device);
      if (connected) {
        byId('repick').hidden = true;
        clearTimeout(away);
        awayTooLong = false;
        if (noControllerGiven) {
          noControllerGiven = false;
          drawHelp();
        }
      } else {
        opening.delete(id);
      }
      Module._tarvik_hid_device(id, device.vendorId, device.productId, connected ? 1 : 0);
    }
    function askToPickAgain() {
      byId('repick').textContent = texts.repick;
      byId('repick').hidden = false;
    }
    // A boot-mode controller restarts at the end of an update. When it comes
    // back as a device the browser was never given, no connect event comes.
    function askAfterUpdate() {
      const notice = control(kUpgradedNotice);
      if (awayTooLong && !notice.hidden && notice.textContent === upgradedText) askToPickAgain();
    }
    const done = (token, ok) => Module._tarvik_hid_done(token, ok ? 1 : 0);

    async function watch() {
      navigator.hid.addEventListener('connect', (event) => tell(event.device, true));
      navigator.hid.addEventListener('disconnect', (event) => {
        tell(event.device, false);
        if (switching.has(key(event.device))) return askToPickAgain();
        clearTimeout(away);
        away = setTimeout(() => {
          awayTooLong = true;
          askAfterUpdate();
        }, kResetAwayMs);
      });
      granted = await navigator.hid.getDevices();
    }
    function start() {
      started = true;
      const connect = byId('connect');
      connect.textContent = texts.connect;
      connect.hidden = false;
      connect.onclick = async () => {
        let chosen = [];
        try {
          chosen = await navigator.hid.requestDevice({ filters });
        } catch {
          return;  // no choice made
        }
        for (const device of chosen) tell(device, true);
      };
      noControllerGiven = granted.length === 0;
      for (const device of granted) tell(device, true);
    }
    return {
      watch, start, askAfterUpdate,
      controller(vendorId, productId, switchesMode) {
        filters.push({ vendorId, productId });
        if (switchesMode) switching.add(vendorId + ':' + productId);
      },
      open(id, token) {
        const device = devices.get(id);
        if (!device) return done(token, false);
        if (device.opened) return done(token, true);
        if (!opening.has(id)) opening.set(id, device.open());
        opening.get(id).then(() => done(token, true), () => {
          opening.delete(id);
          done(token, false);
        });
      },
      send(id, reportId, data, token) {
        const device = devices.get(id);
        if (!device) return done(token, false);
        device.sendReport(reportId, data).then(() => done(token, true), () => done(token, false));
      },
    };
  })();

  function start(languageId, webHid) {
    texts = languageId === kLangChinesePrc ? kTexts.zh : kTexts.en;
    document.documentElement.lang = languageId === kLangChinesePrc ? 'zh-CN' : 'en';
    for (const dialog of [byId('message-box'), byId('file-picker')]) {
      dialog.querySelector('.ok').textContent = texts.ok;
      dialog.querySelector('.cancel').textContent = texts.cancel;
    }
    control(1003).setAttribute('aria-label', texts.progress);
    byId('file-picker-hint').textContent = texts.pickHint;
    byId('window').hidden = false;
    if (webHid) hid.start();
    else offerSamples();
  }

  // The demo offers the sample images to download and pick.
  async function offerSamples() {
    const response = await fetch('samples/list.json');
    if (!response.ok) return;
    const samples = byId('samples');
    samples.textContent = texts.samples;
    for (const name of await response.json()) {
      const link = document.createElement('a');
      link.href = 'samples/' + name;
      link.download = name;
      link.textContent = name;
      samples.appendChild(link);
    }
    samples.hidden = false;
  }

  function title(text) {
    document.title = text;
    byId('title').textContent = text;
  }

  function itemText(id, text) {
    const element = control(id);
    if (!element) return;
    const lines = text.replace(/\r\n/g, '\n');
    if (id !== kHelpText) {
      element.textContent = lines;
      if (id === kUpgradedNotice) {
        if (upgradedText === null) upgradedText = lines;
        // The line tells a step while an update works: not in the upgraded notice's colour.
        element.classList.toggle('step', lines !== upgradedText);
      }
      return;
    }
    windowHelp = lines;
    drawHelp();
  }

  // Until the person gives the page a controller, the help text starts with
  // that step and the window's steps follow, each one number on.
  function drawHelp() {
    control(kHelpText).textContent = noControllerGiven
      ? texts.connectFirst + '\n\n' + windowHelp.replace(/^(\d+)\./gm, (step, n) => (Number(n) + 1) + '.')
      : windowHelp;
  }

  function enable(id, on) {
    const element = control(id);
    if (element && 'disabled' in element) element.disabled = !on;
  }

  function show(id, on) {
    const element = control(id);
    if (element) element.hidden = !on;
    if (id === kUpgradedNotice && on) hid.askAfterUpdate();
  }

  function drawProgress(pos) {
    const bar = control(1003);
    bar.max = Math.max(1, progressHigh - progressLow);
    bar.value = Math.min(Math.max(pos, progressLow), Math.max(progressLow, progressHigh)) - progressLow;
  }

  function progressRange(low, high) {
    const pos = progressLow + control(1003).value;
    progressLow = low;
    progressHigh = high;
    drawProgress(pos);
  }

  // A closed box gives the keyboard back to "USB Update", or to the window
  // while the button cannot take it.
  function returnFocus() {
    const button = control(1007);
    if (!button.disabled) button.focus();
  }

  // A modal box; its answer goes to the engine, which waits for it.
  function messageBox(text, caption, okCancel) {
    const box = byId('message-box');
    box.querySelector('.caption').textContent = caption === null ? 'Tarvik Update' : caption;
    box.querySelector('.text').textContent = text.replace(/\r\n/g, '\n');
    box.querySelector('.cancel').hidden = !okCancel;
    // A box with OK alone tells how something ended: it is announced at once.
    box.setAttribute('role', okCancel ? 'dialog' : 'alertdialog');
    const answer = (value) => {
      box.onclick = box.oncancel = null;
      box.close();
      returnFocus();
      Module._tarvik_web_answer(value);
    };
    box.onclick = (event) => {
      if (event.target.tagName === 'BUTTON') answer(Number(event.target.value));
    };
    // Escape answers as the close box does: Cancel where there is one.
    box.oncancel = (event) => {
      event.preventDefault();
      answer(okCancel ? kCancel : kOk);
    };
    box.showModal();
  }

  // "*.dat" -> ".dat"; "*.*" accepts every file.
  function acceptFromPattern(pattern) {
    return pattern.split(';').filter((p) => p.startsWith('*.') && p !== '*.*').map((p) => p.slice(1)).join(',');
  }

  // Loads libsodium's wrappers. The page's import map names the module they wrap.
  function loadSodium() {
    sodiumLoading ??= import('./libsodium-wrappers.mjs')
      .then(async ({ default: library }) => {
        await library.ready;
        sodium = library;
      })
      .catch(() => {});
    return sodiumLoading;
  }

  // The chosen files as one image and its signature, if there is one. Any
  // other choice gives null.
  function imageAndSignature(files) {
    const all = [...files];
    const signatures = all.filter((file) => file.name.toLowerCase().endsWith('.minisig'));
    const images = all.filter((file) => !signatures.includes(file));
    if (images.length !== 1 || signatures.length > 1) return null;
    return { image: images[0], signature: signatures[0] ?? null };
  }

  // The chosen files go whole into the module's memory file system. The engine
  // reads them there as it reads files on disk. The signature lies beside the
  // image, named as the engine looks for it: the image's name and ".minisig".
  // The files of an earlier choice go first, so that no old signature stays.
  async function writeChosen({ image, signature }) {
    const folder = '/chosen';
    if (FS.analyzePath(folder).exists) {
      for (const name of FS.readdir(folder)) if (name !== '.' && name !== '..') FS.unlink(folder + '/' + name);
    } else {
      FS.mkdir(folder);
    }
    const path = folder + '/' + image.name.replace(/\//g, '_');
    FS.writeFile(path, new Uint8Array(await image.arrayBuffer()));
    if (signature) {
      FS.writeFile(path + '.minisig', new Uint8Array(await signature.arrayBuffer()));
      await loadSodium();
    }
    return path;
  }

  // The file picker takes one image and, chosen with it, its signature.
  function fileDialog(label, pattern) {
    const picker = byId('file-picker');
    const input = picker.querySelector('input');
    const ok = picker.querySelector('.ok');
    const error = byId('file-picker-error');
    picker.querySelector('.caption').textContent = label;
    input.value = '';
    input.accept = [acceptFromPattern(pattern), '.minisig'].filter(Boolean).join(',');
    ok.disabled = true;
    error.hidden = true;
    input.removeAttribute('aria-invalid');
    // The alert is written when it shows, so that it is announced.
    input.onchange = () => {
      const wrong = input.files.length > 0 && imageAndSignature(input.files) === null;
      error.textContent = wrong ? texts.pickError : '';
      error.hidden = !wrong;
      if (wrong) input.setAttribute('aria-invalid', 'true');
      else input.removeAttribute('aria-invalid');
      ok.disabled = input.files.length === 0 || wrong;
    };
    // The engine takes one answer: Cancel while the files are read comes first.
    let answered = false;
    const finish = (path) => {
      if (answered) return;
      answered = true;
      picker.onclick = picker.oncancel = null;
      picker.close();
      returnFocus();
      if (path === null) Module._tarvik_web_file(0);
      else Module.ccall('tarvik_web_file', null, ['string'], [path]);
    };
    picker.onclick = async (event) => {
      if (event.target === picker.querySelector('.cancel')) finish(null);
      const chosen = imageAndSignature(input.files);
      if (event.target !== ok || ok.disabled || chosen === null) return;
      ok.disabled = true;
      finish(await writeChosen(chosen));
    };
    picker.oncancel = (event) => {
      event.preventDefault();
      finish(null);
    };
    picker.showModal();
  }

  async function load() {
    const params = new URLSearchParams(location.search);
    const simulated = params.has('simulate');
    if (!simulated && !('hid' in navigator)) return sorry(texts.noWebHid);
    if (!window.crossOriginIsolated) return sorry(texts.notIsolated);
    if (!simulated) await hid.watch();
    window.Module = { arguments: [...params].map(([key, value]) => key + '=' + value) };
    control(1007).onclick = () => Module._tarvik_web_click(1007);
    const script = document.createElement('script');
    script.src = 'tarvik-update.js';
    document.body.appendChild(script);
  }

  return {
    start, fail: sorry, title, itemText, enable, show, progressRange, progressPos: drawProgress,
    messageBox, fileDialog, load, hid, sodium: () => sodium,
  };
})();

TarvikPage.load();
