// A HID bus in front of another that can make chosen writes fail, as a stalled
// or refused output report does, while the device stays on the bus and its
// input reports still arrive.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/hid_bus.h"

namespace tarvik::test {

class FaultBus final : public IHidBus {
 public:
  explicit FaultBus(IHidBus& inner) : m_inner(inner) {}

  // Called for every output report; true: the write fails and the device never sees it.
  std::function<bool(const uint8_t* report, size_t size)> failWrite;
  std::atomic<int> failedWrites{0};

  std::vector<std::string> EnumerateInterfaces() override { return m_inner.EnumerateInterfaces(); }
  std::vector<HidDeviceInfo> EnumerateDevices() override { return m_inner.EnumerateDevices(); }
  HidHandle Open(const std::string& path, HidOpenMode mode) override { return m_inner.Open(path, mode); }
  bool GetAttributes(HidHandle handle, HidAttributes& out) override {
    return m_inner.GetAttributes(handle, out);
  }
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) override {
    if (failWrite && failWrite(report, size)) {
      ++failedWrites;
      return false;
    }
    return m_inner.WriteReport(handle, report, size);
  }
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size, uint32_t timeoutMs) override {
    return m_inner.ReadReport(handle, buffer, size, timeoutMs);
  }
  void Close(HidHandle handle) override { m_inner.Close(handle); }
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override { return m_inner.RegisterNotify(target); }
  void UnregisterNotify(NotifyHandle handle) override { m_inner.UnregisterNotify(handle); }

 private:
  IHidBus& m_inner;
};

}  // namespace tarvik::test
