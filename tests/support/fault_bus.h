// A HID bus in front of another that can make chosen writes fail, as a stalled
// or refused output report does, while the device stays on the bus and its
// input reports still arrive.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/forwarding_hid_bus.h"

namespace tarvik::test {

class FaultBus final : public ForwardingHidBus {
 public:
  explicit FaultBus(IHidBus& inner) : ForwardingHidBus(inner) {}

  // Called for every output report; true: the write fails and the device never sees it.
  std::function<bool(const uint8_t* report, size_t size)> failWrite;
  std::atomic<int> failedWrites{0};

  bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) override {
    takenUs = 0;
    if (failWrite && failWrite(report, size)) {
      ++failedWrites;
      return false;
    }
    return ForwardingHidBus::WriteReportTimed(handle, report, size, takenUs);
  }
};

}  // namespace tarvik::test
