// The simulated controllers' way to the stand-in navigator.hid (web/tests/stand_in_hid.js).
mergeInto(LibraryManager.library, {
  sim_stand_in_changed__proxy: 'async',
  sim_stand_in_changed: function() { TarvikStandIn.changed(); },
  sim_stand_in_input__proxy: 'sync',
  sim_stand_in_input: function(handle, report, size) {
    TarvikStandIn.input(handle, new Uint8Array(wasmMemory.buffer, report, size).slice());
  },
});
