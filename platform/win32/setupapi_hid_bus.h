// The HID bus on Windows: SetupAPI enumerates the HID interfaces, the HID
// class driver carries the reports, and device notifications reach a
// message-only window of the bus's own, on a thread of its own, which hands
// them to every registered target.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/hid_bus.h"

namespace tarvik::win32 {

class SetupApiHidBus final : public IHidBus {
 public:
  SetupApiHidBus();
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
  // Any target: arrivals and removals of HID interfaces reach it through
  // PostDeviceChange, from the notice thread, which runs while registrations
  // exist. kNoNotifyHandle when the system gives no notices.
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override;
  void UnregisterNotify(NotifyHandle handle) override;

  // The class name of the notice window (a message-only window while it runs).
  static constexpr wchar_t kNoticeWindowClass[] = L"TarvikUpdateDeviceNotices";

 private:
  class NoticeWindow;

  void Deliver(const NoticeWindow* from, DeviceChange change);
  // Whether `handle` was opened for overlapped I/O; false for unknown handles.
  bool IsOverlapped(HidHandle handle);

  std::mutex m_lock;
  std::map<HidHandle, bool> m_openHandles;  // handle -> opened for overlapped I/O

  // Held while notices are delivered, so that once UnregisterNotify returns its
  // target gets no further call.
  std::mutex m_notifyLock;
  std::map<NotifyHandle, IDeviceNotifyTarget*> m_targets;
  NotifyHandle m_nextNotify = 1;
  std::unique_ptr<NoticeWindow> m_notices;
};

}  // namespace tarvik::win32
