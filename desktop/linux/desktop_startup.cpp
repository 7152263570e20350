#include "desktop/linux/desktop_startup.h"

#include <QApplication>
#include <QDialog>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "device/device_table.h"
#include "platform/qt/qt_translations.h"
#include "platform/qt/qt_window_host.h"

namespace tarvik {

std::optional<int> ParseBeforeQt(CLI::App& cli, int argc, char** argv) {
  cli.allow_extras();
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return cli.exit(e) == 0 ? 0 : 2;
  }
  return std::nullopt;
}

std::optional<int> RequireDisplay(const std::string& program, int argc, char** argv) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return std::nullopt;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-platform" || argument.rfind("-platform=", 0) == 0) return std::nullopt;
  }
  std::fprintf(stderr,
               "%s: the window needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set; tarvik-update-cli "
               "updates controllers without one\n",
               program.c_str());
  return 2;
}

std::optional<int> RejectUnknownArguments(const CLI::App& cli, const std::string& program) {
  // QApplication has removed the arguments it took; what the first parse
  // left over and is still there was neither Qt's nor ours.
  const QStringList left = QCoreApplication::arguments().mid(1);
  for (const std::string& extra : cli.remaining()) {
    if (left.contains(QString::fromStdString(extra))) {
      std::fprintf(stderr, "%s: unknown argument %s (see --help)\n", program.c_str(), extra.c_str());
      return 2;
    }
  }
  return std::nullopt;
}

void SetUpApplication(uint16_t languageId) {
  // The application name is the X11 window class; the desktop file name is
  // the Wayland app id. Both are the desktop entry's name, so that shells
  // match the window to its entry and icon.
  QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationId));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kApplicationVersion));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Tarvik Update"));
  InstallQtTranslations(languageId);
}

std::vector<HidDeviceId> SupportedControllerIds() {
  std::vector<HidDeviceId> ids;
  for (const DeviceTableRow& row : kDeviceTable) ids.push_back({row.vendorId, row.productId});
  return ids;
}

AccessNotice::AccessNotice(QtWindowHost& host, uint16_t languageId, std::function<bool()> denied)
    : m_host(host), m_languageId(languageId), m_denied(std::move(denied)) {
  m_host.SetShownHook([this](QDialog&) { Look(); });
  m_host.SetDeviceChangeHook([this](DeviceChange change) {
    if (change == DeviceChange::kArrival) Look();
  });
}

void AccessNotice::Look() {
  if (m_told || !m_denied()) return;
  m_told = true;
  m_host.MessageBox(AccessDeniedHint(m_languageId), AccessDeniedCaption(m_languageId),
                    MsgBoxButtons::kOk);
}

}  // namespace tarvik
