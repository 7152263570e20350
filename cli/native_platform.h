// The operating system's own clock, system seam and HID bus, for the commands
// that run without --simulate: native_platform_linux.cpp (hidraw) or
// native_platform_win32.cpp (SetupAPI and the HID class driver).
#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/hid_bus.h"
#include "platform/system.h"

namespace tarvik {

std::unique_ptr<IClock> MakeNativeClock();
// The trace reaches standard error only when `traceToStandardError`.
std::unique_ptr<ISystem> MakeNativeSystem(IClock& clock, bool traceToStandardError);
std::unique_ptr<IHidBus> MakeNativeBus(IClock& clock);
// Why the system's controllers cannot be reached at all (a supported
// controller that refuses to open, and what to do about it); empty when
// nothing stands in the way.
std::string NativeAccessProblem();

}  // namespace tarvik
