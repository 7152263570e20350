// tarvik-update in a web page. main() runs on a worker of the page, which is
// the window's user-interface thread. The controllers are those the person
// grants the page through WebHID, unless the query asks for the demo; the
// arguments are the page's query parameters as KEY=VALUE:
//   simulate=boot|packet1|packet2|LIST   the demo: controllers simulated in
//                                        the page (the same names as --simulate)
//   sim=KEY=VALUE                         their behaviour (as --sim; repeatable)
//   trace=1                               the engine's trace lines to the console
#include <emscripten/emscripten.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "app/cupdate_app.h"
#include "device/device_table.h"
#include "web/web_clock.h"
#include "platform/std/virtual_clock.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_setup.h"
#include "web/page_bridge.h"
#include "web/simulated_holdings.h"
#include "web/web_system.h"
#include "web/web_window_host.h"
#include "web/webhid_bus.h"

namespace {

std::atomic<tarvik::WebWindowHost*> g_window{nullptr};
std::atomic<tarvik::WebHidBus*> g_hid{nullptr};

struct PageOptions {
  std::string simulate;
  std::vector<std::string> settings;
  bool trace = false;
};

PageOptions ReadOptions(int argc, char** argv) {
  PageOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const size_t eq = argument.find('=');
    const std::string key = argument.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : argument.substr(eq + 1);
    if (key == "simulate") options.simulate = value;
    if (key == "sim") options.settings.push_back(value);
    if (key == "trace") options.trace = value == "1";
  }
  return options;
}

}  // namespace

// What the person does in the page, from the page's thread.
extern "C" {
EMSCRIPTEN_KEEPALIVE void tarvik_web_click(int id) {
  if (tarvik::WebWindowHost* window = g_window.load()) window->Click(id);
}
EMSCRIPTEN_KEEPALIVE void tarvik_web_answer(int answer) {
  if (tarvik::WebWindowHost* window = g_window.load()) {
    window->Answer(answer == static_cast<int>(tarvik::MsgBoxAnswer::kOk) ? tarvik::MsgBoxAnswer::kOk
                                                                          : tarvik::MsgBoxAnswer::kCancel);
  }
}
// `path`: the chosen file as the page wrote it into the memory file system; null: cancelled.
EMSCRIPTEN_KEEPALIVE void tarvik_web_file(const char* path) {
  if (tarvik::WebWindowHost* window = g_window.load()) {
    window->FileChosen(path ? std::optional<std::string>(path) : std::nullopt);
  }
}
// The WebHID bus's events (webhid_bus.h).
EMSCRIPTEN_KEEPALIVE void tarvik_hid_device(int id, int vendorId, int productId, int connected) {
  if (tarvik::WebHidBus* hid = g_hid.load()) {
    hid->DeviceSeen(id, static_cast<uint16_t>(vendorId), static_cast<uint16_t>(productId), connected != 0);
  }
}
EMSCRIPTEN_KEEPALIVE void tarvik_hid_input(int id, const uint8_t* report, int size) {
  if (tarvik::WebHidBus* hid = g_hid.load()) hid->InputReport(id, report, static_cast<size_t>(size));
}
EMSCRIPTEN_KEEPALIVE void tarvik_hid_done(int token, int ok) {
  if (tarvik::WebHidBus* hid = g_hid.load()) hid->Completed(token, ok != 0);
}
}

int main(int argc, char** argv) {
  using namespace tarvik;
  const PageOptions options = ReadOptions(argc, argv);
  const bool webHid = options.simulate.empty();
  std::string error;
  const std::optional<SimLayout> layout =
      ParseSimLayout(webHid ? "none" : options.simulate, options.settings, error);
  if (!layout) {
    tarvik_page_fail(error.c_str());
    return 2;
  }

  WebClock realClock;
  VirtualClock virtualClock;
  IClock& clock = layout->VirtualClock() ? static_cast<IClock&>(virtualClock) : realClock;
  WebSystem system(clock, options.trace, !webHid);
  WebHidBus hid(clock);
  SimHidBus simulated(clock);
  IHidBus* bus = &simulated;
  if (webHid) {
    bus = &hid;
    g_hid.store(&hid);
    for (const DeviceTableRow& row : kDeviceTable) {
      tarvik_page_controller(row.vendorId, row.productId, row.mode == ReportMode::kPacket);
    }
  } else {
    SetSimulatedControllers(PopulateSimBus(simulated, *layout));
  }

  WebWindowHost window(clock);
  g_window.store(&window);
  tarvik_page_start(system.InterfaceLanguage(), webHid);
  CUpdateApp app(PlatformServices{*bus, window.Host(), system});
  app.InitInstance();
  g_window.store(nullptr);
  g_hid.store(nullptr);
  return 0;
}
