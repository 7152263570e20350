// The three platform seams the engine runs on, handed to the application at start.
#pragma once

#include "platform/hid_bus.h"
#include "platform/system.h"
#include "platform/window_host.h"

namespace tarvik {

struct PlatformServices {
  IHidBus& bus;
  IWindowHost& host;
  ISystem& system;
};

}  // namespace tarvik
