#include "cli/native_platform.h"

#include <cstdlib>
#include <vector>

#include "device/device_table.h"
#include "platform/linux/hidraw_bus.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/locale_language.h"
#include "platform/std/steady_clock.h"

namespace tarvik {

std::unique_ptr<IClock> MakeNativeClock() {
  // Updates run on this thread (one controller) or on threads it starts
  // (several): their waits on this clock get fine timer slack.
  LinuxSystem::UseFineTimerSlack();
  return std::make_unique<SteadyClock>();
}

std::unique_ptr<ISystem> MakeNativeSystem(IClock& clock, bool traceToStandardError,
                                          const std::vector<std::string>& alsoTrusted) {
  auto system = std::make_unique<LinuxSystem>(clock);
  system->SetTraceToStandardError(traceToStandardError);
  for (const std::string& key : alsoTrusted) system->TrustAlso(key);
  return system;
}

std::unique_ptr<IHidBus> MakeNativeBus(IClock& clock) { return std::make_unique<HidrawBus>(clock); }

std::string NativeAccessProblem() {
  // Without the udev rule a controller's node belongs to root: discovery would
  // skip it as it skips devices held by others, and the user would only hear
  // that no controller was found.
  std::vector<HidDeviceId> supported;
  for (const DeviceTableRow& row : kDeviceTable) supported.push_back({row.vendorId, row.productId});
  if (!HidrawPermissionDenied(supported)) return {};
  // In the window's language, as the system seam gives it.
  return AccessDeniedHint(LanguageIdFromEnvironment([](const char* name) { return std::getenv(name); }));
}

}  // namespace tarvik
