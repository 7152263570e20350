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

// What a controller is for as long as a run follows it: where it is plugged
// in, whatever interface path it comes back under; its path where the bus
// does not say where.
std::string ControllerIdentity(const std::string& path, const std::string& location);

// Every supported controller present that opens, in the bus's enumeration
// order, from one enumeration: other devices are opened only where the bus
// cannot tell their IDs otherwise.
std::vector<ControllerEntry> EnumerateControllers(IHidBus& bus);

// One controller of `inner`: enumeration shows it alone (while it is
// present), and only its own arrival and removal reach the notice targets.
// With a location, the controller is the one plugged in there: when it comes
// back under another interface path (a report-mode-2 controller returning in
// report mode 1, a boot-mode controller re-enumerated after its reset), the
// view follows it. Without one, it is the path alone.
class SingleDeviceBus final : public IHidBus {
 public:
  SingleDeviceBus(IHidBus& inner, std::string path, std::string location = {});
  ~SingleDeviceBus() override;
  SingleDeviceBus(const SingleDeviceBus&) = delete;
  SingleDeviceBus& operator=(const SingleDeviceBus&) = delete;

  // The interface path the controller has now (the last one seen when it is away).
  std::string Path();
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
  bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) override {
    return m_inner.WriteReportTimed(handle, report, size, takenUs);
  }
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size, uint32_t timeoutMs) override {
    return m_inner.ReadReport(handle, buffer, size, timeoutMs);
  }
  void Close(HidHandle handle) override { m_inner.Close(handle); }
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override;
  void UnregisterNotify(NotifyHandle handle) override;

 private:
  class Filter;

  // Looks for the controller at its location; returns its path and whether it is present.
  std::pair<std::string, bool> Find();

  IHidBus& m_inner;
  const std::string m_location;
  std::mutex m_lock;
  std::string m_path;  // guarded by m_lock
  std::vector<std::pair<NotifyHandle, std::unique_ptr<Filter>>> m_filters;
};

}  // namespace tarvik
