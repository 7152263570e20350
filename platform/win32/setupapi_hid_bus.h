// The HID bus on Windows: SetupAPI enumerates the HID interfaces, the HID
// class driver carries the reports, and device notifications go to the main
// window (a host that implements IWin32Window).
#pragma once

#include <map>
#include <mutex>

#include "platform/hid_bus.h"

namespace tarvik::win32 {

class SetupApiHidBus final : public IHidBus {
 public:
  SetupApiHidBus() = default;
  ~SetupApiHidBus() override;
  SetupApiHidBus(const SetupApiHidBus&) = delete;
  SetupApiHidBus& operator=(const SetupApiHidBus&) = delete;

  // A report write that the device has not taken after this long fails.
  static constexpr unsigned long kWriteTimeoutMs = 1000;

  std::vector<std::string> EnumerateInterfaces() override;
  // Each interface is opened once without read or write access (which
  // disturbs no one and works on devices others hold) to ask its IDs and
  // serial number; the location is the device node's location path, else its
  // parent's, else its container ID. An interface that does not answer is
  // listed with idsKnown false.
  std::vector<HidDeviceInfo> EnumerateDevices() override;
  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  bool GetAttributes(HidHandle handle, HidAttributes& out) override;
  // On failure the thread's last error is the failing call's.
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) override;
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                           uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  // `target` must be an IWin32Window whose dialog exists; else kNoNotifyHandle.
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override;
  void UnregisterNotify(NotifyHandle handle) override;

 private:
  // Whether `handle` was opened for overlapped I/O; false for unknown handles.
  bool IsOverlapped(HidHandle handle);

  std::mutex m_lock;
  std::map<HidHandle, bool> m_openHandles;  // handle -> opened for overlapped I/O
};

}  // namespace tarvik::win32
