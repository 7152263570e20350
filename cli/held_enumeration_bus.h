// A bus whose enumeration a flash can hold: from Hold() until the first
// output report, every look at the bus is served from one enumeration. A
// flash picks its controller, probes it and opens it on that one look,
// instead of asking the bus again at every step before its first report.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/forwarding_hid_bus.h"

namespace tarvik {

class HeldEnumerationBus final : public ForwardingHidBus {
 public:
  explicit HeldEnumerationBus(IHidBus& inner) : ForwardingHidBus(inner) {}

  // The next enumeration is kept, and served until the first output report.
  void Hold();

  std::vector<std::string> EnumerateInterfaces() override;
  std::vector<HidDeviceInfo> EnumerateDevices() override;
  // The first one ends the hold: from then on the bus is asked again.
  bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) override;

 private:
  std::mutex m_lock;
  std::atomic<bool> m_holding{false};
  std::optional<std::vector<HidDeviceInfo>> m_held;
};

}  // namespace tarvik
