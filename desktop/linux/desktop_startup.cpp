#include "desktop/linux/desktop_startup.h"

#include <QApplication>
#include <QDialog>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/device_table.h"
#include "platform/linux/locale_language.h"
#include "platform/qt/qt_translations.h"
#include "platform/qt/qt_window_host.h"
#include "texts/interface_texts.h"

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

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Whether the X server `display` takes a connection.
bool XDisplayOpens(const std::string& display) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool opens = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return opens;
}

// Whether a Wayland compositor listens on `display`. A name without a
// slash is a socket in XDG_RUNTIME_DIR.
bool WaylandDisplayOpens(const std::string& display) {
  std::string path = display;
  if (path.find('/') == std::string::npos) {
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + display;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int endpoint = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (endpoint < 0) return false;
  const bool opens = ::connect(endpoint, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(endpoint);
  return opens;
}

}  // namespace

std::optional<int> RequireDisplay(const std::string& program, int argc, char** argv) {
  // Qt tries each platform of its list in turn and aborts when none starts.
  // Its list is -platform's, else QT_QPA_PLATFORM's. Without either it
  // tries Wayland first where there is a Wayland session, then X11.
  std::string platforms = Environment("QT_QPA_PLATFORM");
  std::string xDisplay = Environment("DISPLAY");
  std::string xNamedBy = "DISPLAY=";
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-platform" || argument == "--platform") platforms = argv[i + 1];
    if (argument == "-display" || argument == "--display") {
      xDisplay = argv[i + 1];
      xNamedBy = "-display ";
    }
  }
  const std::string wayland = Environment("WAYLAND_DISPLAY");
  if (platforms.empty()) {
    platforms = !wayland.empty() || Environment("XDG_SESSION_TYPE") == "wayland" ? "wayland;xcb" : "xcb";
  }
  // The displays named that did not open.
  std::string tried;
  for (size_t from = 0; from <= platforms.size();) {
    const size_t end = std::min(platforms.find(';', from), platforms.size());
    const std::string entry = platforms.substr(from, end - from);
    from = end + 1;
    const std::string name = entry.substr(0, entry.find(':'));
    std::string display;
    if (name == "xcb") {
      if (xDisplay.empty()) continue;
      if (XDisplayOpens(xDisplay)) return std::nullopt;
      display = xNamedBy + xDisplay;
    } else if (name.rfind("wayland", 0) == 0) {
      // A compositor that started this program may hand it a connection instead of a name.
      if (!Environment("WAYLAND_SOCKET").empty()) return std::nullopt;
      const std::string named = wayland.empty() ? "wayland-0" : wayland;
      if (WaylandDisplayOpens(named)) return std::nullopt;
      display = "WAYLAND_DISPLAY=" + named;
    } else if (!name.empty()) {
      return std::nullopt;  // another platform, which Qt judges itself
    }
    if (!display.empty()) tried += (tried.empty() ? "" : ", ") + display;
  }
  ChooseTextLanguage(LanguageIdFromEnvironment([](const char* name) { return std::getenv(name); }));
  if (tried.empty()) {
    std::fprintf(stderr,
                 Tr("%s: the window needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set; "
                    "tarvik-update-cli updates controllers without one\n"),
                 program.c_str());
  } else {
    std::fprintf(stderr,
                 Tr("%s: the window cannot open the display it was given (%s); tarvik-update-cli updates "
                    "controllers without one\n"),
                 program.c_str(), tried.c_str());
  }
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
  // No display name: Qt would add it to every window title. Screen readers
  // get the program's name from the application's accessible object.
  NameApplicationForScreenReaders();
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
