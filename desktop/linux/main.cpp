// tarvik-update: the firmware updater's window on the system's HID devices.
#include <QApplication>

#include "app/cupdate_app.h"
#include "desktop/linux/desktop_startup.h"
#include "platform/linux/hidraw_bus.h"
#include "platform/linux/linux_system.h"
#include "platform/qt/qt_window_host.h"
#include "platform/std/steady_clock.h"

int main(int argc, char** argv) {
  using namespace tarvik;
  CLI::App cli{"Tarvik Update: the firmware updater's window for Tarvik USB game controllers."};
  cli.set_version_flag("--version", kApplicationVersion);
  cli.footer(
      "Connect the controller, press \"USB Update\" and pick a firmware image (*.dat).\n"
      "Qt's own options (-platform, -style, ...) are accepted too.");
  bool verbose = false;
  cli.add_flag("--verbose,-v", verbose, "Show the trace on standard error");
  if (const std::optional<int> status = ParseBeforeQt(cli, argc, argv)) return *status;
  if (const std::optional<int> status = RequireDisplay("tarvik-update", argc, argv)) return *status;

  QApplication application(argc, argv);
  if (const std::optional<int> status = RejectUnknownArguments(cli, "tarvik-update")) return *status;
  SteadyClock clock;
  LinuxSystem system(clock);
  system.SetTraceToStandardError(verbose);
  SetUpApplication(system.InterfaceLanguage());

  HidrawBus bus(clock);
  QtWindowHost host;
  const std::vector<HidDeviceId> supported = SupportedControllerIds();
  AccessNotice notice(host, system.InterfaceLanguage(),
                      [&supported] { return HidrawPermissionDenied(supported); });
  CUpdateApp app(PlatformServices{bus, host, system});
  return app.InitInstance() ? 1 : 0;
}
