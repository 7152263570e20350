// The operating system's own clock, system seam and HID bus, for the commands
// that run without --simulate: native_platform_linux.cpp (hidraw) or
// native_platform_win32.cpp (SetupAPI and the HID class driver).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/hid_bus.h"
#include "platform/system.h"
#include "samples/demo_key.h"

namespace tarvik {

std::unique_ptr<IClock> MakeNativeClock();
// The trace reaches standard error only when `traceToStandardError`. The
// system trusts the keys of `alsoTrusted` beside the machine's own.
std::unique_ptr<ISystem> MakeNativeSystem(IClock& clock, bool traceToStandardError,
                                          const std::vector<std::string>& alsoTrusted = {});
std::unique_ptr<IHidBus> MakeNativeBus(IClock& clock);
// Simulated and replayed controllers are a demo. The demo key that signs the
// sample images is trusted for them, and for nothing else.
inline std::vector<std::string> DemoKeysFor(bool simulatedOrReplayed) {
  if (!simulatedOrReplayed) return {};
  return {kDemoTrustedKey};
}
// Why the system's controllers cannot be reached at all (a supported
// controller that refuses to open, and what to do about it); empty when
// nothing stands in the way.
std::string NativeAccessProblem();

}  // namespace tarvik
