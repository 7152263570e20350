// The application object: runs the main window modally, then lets the process end.
#pragma once

#include "app/platform_services.h"

namespace tarvik {

class CUpdateApp {
 public:
  explicit CUpdateApp(const PlatformServices& platform) : m_platform(platform) {}
  // Returns false: the process ends once the main window has closed.
  bool InitInstance();

 private:
  PlatformServices m_platform;
};

}  // namespace tarvik
