// tarvik-update: the firmware updater's window on the system's HID devices.
#include <QApplication>

#include "app/cupdate_app.h"
#include "platform/linux/hidraw_bus.h"
#include "platform/linux/linux_system.h"
#include "platform/qt/qt_window_host.h"
#include "platform/std/steady_clock.h"

int main(int argc, char** argv) {
  using namespace tarvik;
  QApplication application(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Tarvik Update"));
  QApplication::setDesktopFileName(QStringLiteral("tarvik-update"));

  SteadyClock clock;
  LinuxSystem system(clock);
  HidrawBus bus(clock);
  QtWindowHost host;
  CUpdateApp app(PlatformServices{bus, host, system});
  return app.InitInstance() ? 1 : 0;
}
