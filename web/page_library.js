// The page's side of web/page_bridge.h: each function runs on the page's own
// thread (the engine's threads are workers) and hands over to TarvikPage
// (page.js), which owns the document.
mergeInto(LibraryManager.library, {
  tarvik_page_start__proxy: 'sync',
  tarvik_page_start: function(languageId, webHid) { TarvikPage.start(languageId, webHid !== 0); },
  tarvik_page_fail__proxy: 'sync',
  tarvik_page_fail: function(text) { TarvikPage.fail(UTF8ToString(text)); },
  tarvik_page_title__proxy: 'sync',
  tarvik_page_title: function(text) { TarvikPage.title(UTF8ToString(text)); },
  tarvik_page_item_text__proxy: 'sync',
  tarvik_page_item_text: function(id, text) { TarvikPage.itemText(id, UTF8ToString(text)); },
  tarvik_page_enable__proxy: 'async',
  tarvik_page_enable: function(id, on) { TarvikPage.enable(id, on !== 0); },
  tarvik_page_show__proxy: 'async',
  tarvik_page_show: function(id, on) { TarvikPage.show(id, on !== 0); },
  tarvik_page_progress_range__proxy: 'async',
  tarvik_page_progress_range: function(low, high) { TarvikPage.progressRange(low, high); },
  tarvik_page_progress_pos__proxy: 'async',
  tarvik_page_progress_pos: function(pos) { TarvikPage.progressPos(pos); },
  tarvik_page_message_box__proxy: 'sync',
  tarvik_page_message_box: function(text, caption, okCancel) {
    TarvikPage.messageBox(UTF8ToString(text), caption ? UTF8ToString(caption) : null, okCancel !== 0);
  },
  tarvik_page_file_dialog__proxy: 'sync',
  tarvik_page_file_dialog: function(label, pattern) {
    TarvikPage.fileDialog(UTF8ToString(label), UTF8ToString(pattern));
  },
  tarvik_page_language__proxy: 'sync',
  tarvik_page_language: function(buffer, size) {
    stringToUTF8((navigator.languages && navigator.languages[0]) || navigator.language || 'en-US', buffer, size);
  },
  tarvik_page_trace: function(line) { console.debug(UTF8ToString(line)); },
  tarvik_page_controller__proxy: 'sync',
  tarvik_page_controller: function(vendorId, productId, switchesMode) {
    TarvikPage.hid.controller(vendorId, productId, switchesMode !== 0);
  },
  tarvik_hid_open__proxy: 'sync',
  tarvik_hid_open: function(id, token) { TarvikPage.hid.open(id, token); },
  tarvik_hid_send__proxy: 'sync',
  tarvik_hid_send: function(id, reportId, data, size, token) {
    TarvikPage.hid.send(id, reportId, new Uint8Array(wasmMemory.buffer, data, size).slice(), token);
  },
  // libsodium takes bytes of its own: each is copied out of the module's shared memory.
  tarvik_ed25519_verify__proxy: 'sync',
  tarvik_ed25519_verify: function(publicKey, signature, message, size) {
    const sodium = TarvikPage.sodium();
    if (!sodium) return 0;
    const bytes = (at, count) => new Uint8Array(wasmMemory.buffer, at >>> 0, count >>> 0).slice();
    try {
      return sodium.crypto_sign_verify_detached(bytes(signature, 64), bytes(message, size), bytes(publicKey, 32)) ? 1 : 0;
    } catch (error) {
      return 0;
    }
  },
  // An image may be 64 MiB: it goes to libsodium a slice at a time.
  tarvik_blake2b512__proxy: 'sync',
  tarvik_blake2b512: function(data, size, digest) {
    const sodium = TarvikPage.sodium();
    if (!sodium) return 0;
    const kSlice = 1 << 20;
    const end = (data >>> 0) + (size >>> 0);
    try {
      const state = sodium.crypto_generichash_init(null, 64);
      for (let at = data >>> 0; at < end; at += kSlice) {
        sodium.crypto_generichash_update(state, new Uint8Array(wasmMemory.buffer, at, Math.min(kSlice, end - at)).slice());
      }
      new Uint8Array(wasmMemory.buffer, digest >>> 0, 64).set(sodium.crypto_generichash_final(state, 64));
      return 1;
    } catch (error) {
      return 0;
    }
  },
});
