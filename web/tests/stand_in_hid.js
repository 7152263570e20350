// A stand-in for the browser's navigator.hid, put into the page before its
// scripts run: its devices are the project's simulated controllers (the
// module of web/stand_in/), so that the page's WebHID bus is tested against
// the same controllers as every other bus. window.TarvikStandInOptions says
// which: { simulate: 'boot', settings: ['KEY=VALUE'], granted: true } (granted:
// the page was given them before, and finds them at load; dropsGrant: a
// device that leaves comes back as one never given). requestDevice grants
// the first connected device its filters match, as a person's pick.
(() => {
  const options = window.TarvikStandInOptions;
  const devices = new Map();   // path -> StandInDevice
  const byHandle = new Map();  // open handle -> StandInDevice
  const granted = new Set();   // paths
  const sent = [];             // { at, bytes } of each output report, report ID first
  let sim = null;
  let ready = null;

  class StandInDevice extends EventTarget {
    constructor(path, vendorId, productId) {
      super();
      Object.assign(this, { path, vendorId, productId, productName: 'Tarvik controller', collections: [] });
      this.opened = false;
      this.connected = false;
      this.handle = -1;
    }
    async open() {
      if (!this.connected) throw new DOMException('The device is gone', 'NotFoundError');
      if (this.opened) return;
      this.handle = sim.ccall('sim_open', 'number', ['string'], [this.path]);
      if (this.handle < 0) throw new DOMException('Failed to open the device', 'NotAllowedError');
      byHandle.set(this.handle, this);
      this.opened = true;
    }
    async close() { this.forget(); }
    forget() {
      if (this.handle >= 0) sim._sim_close(this.handle);
      byHandle.delete(this.handle);
      this.handle = -1;
      this.opened = false;
    }
    async sendReport(reportId, data) {
      if (!this.opened) throw new DOMException('The device is not open', 'InvalidStateError');
      const bytes = new Uint8Array(1 + data.byteLength);
      bytes[0] = reportId;
      bytes.set(new Uint8Array(data.buffer || data, data.byteOffset || 0, data.byteLength), 1);
      const at = sim._malloc(bytes.length);
      sim.HEAPU8.set(bytes, at);
      sent.push({ at: performance.now(), bytes: [...bytes] });
      const ok = sim._sim_write(this.handle, at, bytes.length);
      sim._free(at);
      if (!ok) throw new DOMException('Failed to write the report', 'NetworkError');
    }
  }

  const hid = new EventTarget();
  const tell = (type, device) => {
    if (!granted.has(device.path)) return;
    const event = new Event(type);
    event.device = device;
    hid.dispatchEvent(event);
  };

  // The bus as it is now: arrivals and leavings become connect and disconnect events.
  function refresh() {
    const present = JSON.parse(sim.UTF8ToString(sim._sim_devices()));
    const paths = new Set(present.map((d) => d.path));
    for (const device of devices.values()) {
      if (device.connected && !paths.has(device.path)) {
        device.connected = false;
        device.forget();
        tell('disconnect', device);
        if (options.dropsGrant) {
          granted.delete(device.path);
          devices.delete(device.path);
        }
      }
    }
    for (const { path, vendorId, productId } of present) {
      if (!devices.has(path)) devices.set(path, new StandInDevice(path, vendorId, productId));
      const device = devices.get(path);
      if (!device.connected) {
        device.connected = true;
        tell('connect', device);
      }
    }
  }

  function start() {
    ready ??= new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = '/stand-in/tarvik-sim-devices.js';
      script.onerror = reject;
      script.onload = async () => {
        sim = await TarvikSimDevices();
        const error = sim.ccall('sim_start', 'string', ['string', 'string'],
          [options.simulate, (options.settings || []).join('\n')]);
        if (error) return reject(new Error(error));
        refresh();
        if (options.granted) for (const device of devices.values()) granted.add(device.path);
        resolve();
      };
      document.head.appendChild(script);
    });
    return ready;
  }

  hid.getDevices = async () => {
    await start();
    return [...devices.values()].filter((d) => d.connected && granted.has(d.path));
  };
  hid.requestDevice = async ({ filters }) => {
    await start();
    const match = (d) => filters.some((f) => f.vendorId === d.vendorId && f.productId === d.productId);
    const chosen = [...devices.values()].find((d) => d.connected && match(d));
    if (!chosen) return [];
    granted.add(chosen.path);
    return [chosen];
  };

  window.TarvikStandIn = {
    changed: () => setTimeout(() => sim && refresh(), 0),
    input(handle, bytes) {
      const device = byHandle.get(handle);
      if (!device || !device.opened) return;
      const event = new Event('inputreport');
      Object.assign(event, { device, reportId: bytes[0], data: new DataView(bytes.buffer, 1) });
      device.dispatchEvent(event);
    },
    sent: () => sent,
    holdings: () => JSON.parse(sim.UTF8ToString(sim._tarvik_web_simulated_controllers())),
  };
  Object.defineProperty(Navigator.prototype, 'hid', { get: () => hid, configurable: true });
})();
