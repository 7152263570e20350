// tarvik-update-demo: the updater's window on a simulated controller, for a
// machine without one. The file dialog opens among the sample images.
#include <QApplication>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>

#include "app/cupdate_app.h"
#include "platform/linux/linux_system.h"
#include "platform/qt/qt_window_host.h"
#include "platform/std/steady_clock.h"
#include "platform/std/virtual_clock.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_setup.h"

int main(int argc, char** argv) {
  using namespace tarvik;
  QApplication application(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Tarvik Update"));

  CLI::App cli{"Tarvik Update on a simulated controller."};
  std::string mode = "boot";
  std::vector<std::string> settings;
  std::string samples = TARVIK_SAMPLES_DIR;
  cli.add_option("--simulate", mode, "The simulated controller: boot, packet1, packet2 or none");
  cli.add_option("--sim", settings, "Simulated controller behaviour, KEY=VALUE (as tarvik-update-cli)");
  cli.add_option("--samples", samples, "Folder the file dialog opens in");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return cli.exit(e) == 0 ? 0 : 2;
  }

  SimOptions options;
  const std::optional<SimMode> simMode = ParseSimMode(mode);
  if (!simMode) {
    std::fprintf(stderr, "tarvik-update-demo: --simulate takes boot, packet1, packet2 or none\n");
    return 2;
  }
  options.mode = *simMode;
  for (const std::string& setting : settings) {
    std::string error;
    if (!ApplySimSetting(setting, options, error)) {
      std::fprintf(stderr, "tarvik-update-demo: %s\n", error.c_str());
      return 2;
    }
  }
  std::error_code ignored;
  if (std::filesystem::is_directory(samples, ignored)) std::filesystem::current_path(samples, ignored);

  SteadyClock steadyClock;
  VirtualClock virtualClock;
  IClock& clock = options.virtualClock ? static_cast<IClock&>(virtualClock) : steadyClock;
  LinuxSystem system(clock);
  SimHidBus bus(clock);
  PopulateSimBus(bus, options);
  QtWindowHost host;
  CUpdateApp app(PlatformServices{bus, host, system});
  return app.InitInstance() ? 1 : 0;
}
