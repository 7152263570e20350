// The project's simulated controllers as a module of their own, for the
// page's tests: the stand-in for the browser's navigator.hid
// (web/tests/stand_in_hid.js) has these as its devices, so that the page's
// WebHID bus talks to the same device sides of the two protocols as every
// other bus's tests do. Calls come from the page's thread; a thread per open
// device hands its input reports there (stand_in_library.js).
#include <emscripten/emscripten.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/strformat.h"
#include "platform/std/steady_clock.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_setup.h"
#include "web/simulated_holdings.h"

extern "C" {
// Something arrived or left: the stand-in looks at sim_devices() again.
void sim_stand_in_changed();
// An input report (report ID first) of a handle, on the page's thread.
void sim_stand_in_input(int handle, const uint8_t* report, int size);
}

namespace {

using namespace tarvik;

class Notices final : public IDeviceNotifyTarget {
 public:
  void PostDeviceChange(DeviceChange) override { sim_stand_in_changed(); }
};

SteadyClock g_clock;
Notices g_notices;
std::unique_ptr<SimHidBus> g_bus;
std::string g_text;  // what the last call that returns text returned

// Hands every report of `handle` to the page until the handle is closed or its device has gone.
void ForwardInput(HidHandle handle) {
  std::vector<uint8_t> buffer(1024);
  for (;;) {
    const HidReadResult read = g_bus->ReadReport(handle, buffer.data(), buffer.size(), 100);
    if (read.status == HidRead::kTimedOut) continue;
    if (read.status != HidRead::kReport) return;
    sim_stand_in_input(static_cast<int>(handle), buffer.data(), static_cast<int>(read.bytes));
  }
}

}  // namespace

extern "C" {

// `list` as --simulate takes it, `settings` the --sim settings one a line.
// Empty when the controllers are on the bus, else what was wrong.
EMSCRIPTEN_KEEPALIVE const char* sim_start(const char* list, const char* settings) {
  std::vector<std::string> lines;
  const std::string all = settings;
  for (size_t start = 0; start < all.size();) {
    const size_t end = std::min(all.find('\n', start), all.size());
    if (end > start) lines.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  g_text.clear();
  const std::optional<SimLayout> layout = ParseSimLayout(list, lines, g_text);
  if (!layout) return g_text.c_str();
  g_bus = std::make_unique<SimHidBus>(g_clock);
  SetSimulatedControllers(PopulateSimBus(*g_bus, *layout));
  g_bus->RegisterNotify(g_notices);
  return g_text.c_str();
}

// [{"path":"...","vendorId":N,"productId":N}] of the devices on the bus now.
EMSCRIPTEN_KEEPALIVE const char* sim_devices() {
  g_text = "[";
  for (const HidDeviceInfo& device : g_bus->EnumerateDevices()) {
    if (g_text.size() > 1) g_text += ',';
    std::string path;  // simulated paths are Windows-style: backslashes, no quotes
    for (char c : device.path) path += c == '\\' ? std::string("\\\\") : std::string(1, c);
    g_text += StrFormat(R"({"path":"%s","vendorId":%u,"productId":%u})", path.c_str(),
                        unsigned{device.vendorId}, unsigned{device.productId});
  }
  g_text += ']';
  return g_text.c_str();
}

// A handle that reads and writes, or -1.
EMSCRIPTEN_KEEPALIVE int sim_open(const char* path) {
  const HidHandle handle = g_bus->Open(path, HidOpenMode::kProbeReadWrite);
  if (handle == kInvalidHidHandle) return -1;
  // Never joined: the page's thread must not wait for a thread that may be
  // handing it a report. It ends by itself once the handle is closed.
  std::thread(ForwardInput, handle).detach();
  return static_cast<int>(handle);
}

EMSCRIPTEN_KEEPALIVE int sim_write(int handle, const uint8_t* report, int size) {
  return g_bus->WriteReport(handle, report, static_cast<size_t>(size)) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void sim_close(int handle) { g_bus->Close(handle); }

}  // extern "C"
