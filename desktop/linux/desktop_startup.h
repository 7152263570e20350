// What the Linux desktop programs do around the window: their options, read
// before Qt starts; the application's name as the desktop knows it; Qt's own
// texts in the interface language; and the notice for a controller that may
// not be opened.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/hidraw_bus.h"

namespace tarvik {

class QtWindowHost;

// The application id: the desktop entry's and the metainfo's name, the
// Wayland app id and the X11 window class.
inline constexpr char kApplicationId[] = TARVIK_APP_ID;
inline constexpr char kApplicationVersion[] = TARVIK_VERSION;

// Reads the options before QApplication exists, so that --help, --version
// and mistakes need no display. Qt's own options (-platform, -style, ...)
// are left for QApplication. The exit status when the program ends here.
std::optional<int> ParseBeforeQt(CLI::App& cli, int argc, char** argv);

// Without a display Qt would abort. The display Qt would use is opened
// first: an X server with xcb, a Wayland socket by connecting to it. When
// none opens, one line in the interface language says so and names the
// program that needs none, and the exit status is 2. Nothing when one opens,
// or a Qt platform other than X11 and Wayland was chosen.
std::optional<int> RequireDisplay(const std::string& program, int argc, char** argv);

// Once QApplication has taken its own options out of the arguments: what
// neither it nor `cli` knows is a usage error. The exit status when so.
std::optional<int> RejectUnknownArguments(const CLI::App& cli, const std::string& program);

// Names the running QApplication as the desktop entry does and installs Qt's
// translations for `languageId`.
void SetUpApplication(uint16_t languageId);

// The supported controllers' IDs, from the device table.
std::vector<HidDeviceId> SupportedControllerIds();

// Tells the user, once, that a supported controller is connected but may not
// be opened: when the window has come up, and after each arrival. Takes the
// host's shown and device-change hooks.
class AccessNotice {
 public:
  AccessNotice(QtWindowHost& host, uint16_t languageId, std::function<bool()> denied);
  AccessNotice(const AccessNotice&) = delete;
  AccessNotice& operator=(const AccessNotice&) = delete;

  bool Told() const { return m_told; }

 private:
  void Look();

  QtWindowHost& m_host;
  uint16_t m_languageId;
  std::function<bool()> m_denied;
  bool m_told = false;
};

}  // namespace tarvik
