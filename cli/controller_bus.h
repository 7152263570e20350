// The supported controllers on a bus, and a view of the bus that shows one of
// them only: each controller's window and device object work on such a view,
// so that the single-controller engine finds exactly that controller.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/hid_bus.h"

namespace tarvik {

struct ControllerEntry {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  int reportMode = 0;
  std::string location = {};  // where it is plugged in, as the bus tells it; may be empty
  std::string serial = {};    // empty when it has none
};

// Every supported controller present that opens, in the bus's enumeration
// order, from one enumeration: other devices are opened only where the bus
// cannot tell their IDs otherwise.
std::vector<ControllerEntry> EnumerateControllers(IHidBus& bus);

// One interface path of `inner`: enumeration shows it alone (while it is
// present), and only its own arrival and removal reach the notice targets.
class SingleDeviceBus final : public IHidBus {
 public:
  SingleDeviceBus(IHidBus& inner, std::string path);
  ~SingleDeviceBus() override;
  SingleDeviceBus(const SingleDeviceBus&) = delete;
  SingleDeviceBus& operator=(const SingleDeviceBus&) = delete;

  const std::string& Path() const { return m_path; }
  bool IsPresent();

  std::vector<std::string> EnumerateInterfaces() override;
  std::vector<HidDeviceInfo> EnumerateDevices() override;
  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  bool GetAttributes(HidHandle handle, HidAttributes& out) override {
    return m_inner.GetAttributes(handle, out);
  }
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) override {
    return m_inner.WriteReport(handle, report, size);
  }
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size, uint32_t timeoutMs) override {
    return m_inner.ReadReport(handle, buffer, size, timeoutMs);
  }
  void Close(HidHandle handle) override { m_inner.Close(handle); }
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override;
  void UnregisterNotify(NotifyHandle handle) override;

 private:
  class Filter;

  IHidBus& m_inner;
  std::string m_path;
  std::mutex m_lock;
  std::vector<std::pair<NotifyHandle, std::unique_ptr<Filter>>> m_filters;
};

}  // namespace tarvik
