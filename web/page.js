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
      noDevice: 'The update in the browser through WebHID comes later: open the demo with ?simulate=boot.',
    },
    zh: {
      ok: '确定',
      cancel: '取消',
      noWebHid: '此浏览器无法在网页中连接 USB 手柄（不支持 WebHID）。请在电脑上用 Chrome、Edge 或 Opera ' +
        '打开此页面，或安装 Windows 或 Linux 版的 Tarvik Update 程序。',
      notIsolated: '此页面须带以下响应头提供：Cross-Origin-Opener-Policy: same-origin 和 ' +
        'Cross-Origin-Embedder-Policy: require-corp。',
      noDevice: '浏览器中通过 WebHID 升级稍后提供：演示请打开 ?simulate=boot。',
    },
  };
  const kLangChinesePrc = 2052;
  let texts = (navigator.languages && navigator.languages[0] || navigator.language || '').startsWith('zh')
    ? kTexts.zh : kTexts.en;
  let progressLow = 0;
  let progressHigh = 100;

  const byId = (id) => document.getElementById(id);
  const control = (id) => byId('control-' + id);

  function sorry(text) {
    byId('window').hidden = true;
    byId('sorry').textContent = text;
    byId('sorry').hidden = false;
  }

  function start(languageId) {
    texts = languageId === kLangChinesePrc ? kTexts.zh : kTexts.en;
    document.documentElement.lang = languageId === kLangChinesePrc ? 'zh-CN' : 'en';
    for (const dialog of [byId('message-box'), byId('file-picker')]) {
      dialog.querySelector('.ok').textContent = texts.ok;
      dialog.querySelector('.cancel').textContent = texts.cancel;
    }
    byId('window').hidden = false;
  }

  function title(text) {
    document.title = text;
    byId('title').textContent = text;
  }

  function itemText(id, text) {
    const element = control(id);
    if (element) element.textContent = text.replace(/\r\n/g, '\n');
  }

  function enable(id, on) {
    const element = control(id);
    if (element && 'disabled' in element) element.disabled = !on;
  }

  function show(id, on) {
    const element = control(id);
    if (element) element.hidden = !on;
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

  // A modal box; its answer goes to the engine, which waits for it.
  function messageBox(text, caption, okCancel) {
    const box = byId('message-box');
    box.querySelector('.caption').textContent = caption === null ? 'Tarvik Update' : caption;
    box.querySelector('.text').textContent = text.replace(/\r\n/g, '\n');
    box.querySelector('.cancel').hidden = !okCancel;
    const answer = (value) => {
      box.onclick = box.oncancel = null;
      box.close();
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

  // "File type(*.dat)|*.dat||" -> ".dat"
  function acceptFromFilter(filter) {
    const parts = filter.split('|');
    const patterns = [];
    for (let i = 1; i < parts.length; i += 2) {
      for (const pattern of parts[i].split(';')) {
        if (pattern.startsWith('*.') && pattern !== '*.*') patterns.push(pattern.slice(1));
      }
    }
    return patterns.join(',');
  }

  // The file picker: the chosen file is read whole into the module's memory
  // file system, where the engine reads it as it reads a file on disk.
  function fileDialog(filter) {
    const picker = byId('file-picker');
    const input = picker.querySelector('input');
    const ok = picker.querySelector('.ok');
    picker.querySelector('.caption').textContent = filter.split('|')[0];
    input.value = '';
    input.accept = acceptFromFilter(filter);
    ok.disabled = true;
    input.onchange = () => { ok.disabled = input.files.length === 0; };
    const finish = (path) => {
      picker.onclick = picker.oncancel = null;
      picker.close();
      if (path === null) Module._tarvik_web_file(0);
      else Module.ccall('tarvik_web_file', null, ['string'], [path]);
    };
    picker.onclick = async (event) => {
      if (event.target === picker.querySelector('.cancel')) finish(null);
      if (event.target !== ok || input.files.length === 0) return;
      const file = input.files[0];
      const bytes = new Uint8Array(await file.arrayBuffer());
      const folder = '/chosen';
      if (!FS.analyzePath(folder).exists) FS.mkdir(folder);
      const path = folder + '/' + file.name.replace(/\//g, '_');
      FS.writeFile(path, bytes);
      finish(path);
    };
    picker.oncancel = (event) => {
      event.preventDefault();
      finish(null);
    };
    picker.showModal();
  }

  function load() {
    const params = new URLSearchParams(location.search);
    const simulated = params.has('simulate');
    if (!simulated && !('hid' in navigator)) return sorry(texts.noWebHid);
    if (!window.crossOriginIsolated) return sorry(texts.notIsolated);
    if (!simulated) return sorry(texts.noDevice);
    window.Module = { arguments: [...params].map(([key, value]) => key + '=' + value) };
    control(1007).onclick = () => Module._tarvik_web_click(1007);
    const script = document.createElement('script');
    script.src = 'tarvik-update.js';
    document.body.appendChild(script);
  }

  return {
    start, fail: sorry, title, itemText, enable, show, progressRange, progressPos: drawProgress,
    messageBox, fileDialog, load,
  };
})();

TarvikPage.load();
