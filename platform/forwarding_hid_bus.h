// A bus that passes every call on to another. A decorator derives from it
// and overrides only the calls it changes. Writes go through WriteReportTimed,
// so that the moment the inner bus took a report reaches the caller.
#pragma once

#include <string>
#include <vector>

#include "platform/hid_bus.h"

namespace tarvik {

class ForwardingHidBus : public IHidBus {
 public:
  explicit ForwardingHidBus(IHidBus& inner) : m_inner(inner) {}

  std::vector<std::string> EnumerateInterfaces() override { return m_inner.EnumerateInterfaces(); }
  std::vector<HidDeviceInfo> EnumerateDevices() override { return m_inner.EnumerateDevices(); }
  HidHandle Open(const std::string& path, HidOpenMode mode) override { return m_inner.Open(path, mode); }
  bool GetAttributes(HidHandle handle, HidAttributes& out) override { return m_inner.GetAttributes(handle, out); }
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) final {
    uint64_t takenUs = 0;
    return WriteReportTimed(handle, report, size, takenUs);
  }
  bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) override {
    return m_inner.WriteReportTimed(handle, report, size, takenUs);
  }
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size, uint32_t timeoutMs) override {
    return m_inner.ReadReport(handle, buffer, size, timeoutMs);
  }
  void Close(HidHandle handle) override { m_inner.Close(handle); }
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override { return m_inner.RegisterNotify(target); }
  void UnregisterNotify(NotifyHandle handle) override { m_inner.UnregisterNotify(handle); }

 protected:
  IHidBus& Inner() { return m_inner; }

 private:
  IHidBus& m_inner;
};

}  // namespace tarvik
