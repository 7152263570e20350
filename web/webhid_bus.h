// The page's HID bus: the devices the person granted the page through WebHID
// (navigator.hid). The browser's HID calls are promises on the page's own
// thread: each call here starts one there (page_library.js) and waits on the
// calling thread for its completion, which the page's thread hands back
// without ever waiting itself. Input reports arrive there as events and are
// queued here for every reading handle of their device; connect and
// disconnect events become device notices.
//
// The browser reports and sends a report's id apart from its data: it is put
// back in front of the data of a report read, and taken off one written, so
// that the engine sees reports as every bus gives them (report ID first).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/hid_bus.h"
#include "platform/std/notify_targets.h"

namespace tarvik {

class WebHidBus final : public IHidBus {
 public:
  // How long a report write may take before it fails, as a device that takes nothing fails it.
  static constexpr uint32_t kWriteTimeoutMs = 1000;
  // How long the browser may take to open a device.
  static constexpr uint32_t kOpenTimeoutMs = 5000;
  // Reports kept unread per handle; older ones are dropped, as the platforms drop them.
  static constexpr size_t kQueuedReports = 64;

  explicit WebHidBus(IClock& clock) : m_clock(clock) {}

  // From the page's thread. A device the page may use, now connected or not;
  // `id` is the page's own number for it.
  void DeviceSeen(int id, uint16_t vendorId, uint16_t productId, bool connected);
  // An input report of device `id`, report ID first.
  void InputReport(int id, const uint8_t* report, size_t size);
  // The browser's call `token` has ended.
  void Completed(int token, bool ok);

  // IHidBus
  std::vector<std::string> EnumerateInterfaces() override;
  std::vector<HidDeviceInfo> EnumerateDevices() override;
  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  bool GetAttributes(HidHandle handle, HidAttributes& out) override;
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) override;
  // The report is taken when the browser's send resolves, on the page's
  // thread, not when the engine's thread hears of it.
  bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) override;
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size, uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override { return m_targets.Add(target); }
  void UnregisterNotify(NotifyHandle handle) override { m_targets.Remove(handle); }

  static std::string PathOf(int id) { return "webhid-" + std::to_string(id); }

 private:
  struct Device {
    int id = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool connected = false;
    uint64_t connection = 0;  // counts its connections: handles of an earlier one fail
  };
  struct Handle {
    int device = 0;
    uint64_t connection = 0;
    HidOpenMode mode = HidOpenMode::kProbeReadWrite;
    std::deque<std::vector<uint8_t>> queue;
  };

  Device* FindDevice(int id);  // m_lock held
  // The device of a handle still usable (its device connected since it was opened); m_lock held.
  Device* DeviceOf(const Handle& handle);
  int NewToken();  // m_lock held
  // Waits for the browser's call `token`; false when it failed or took longer
  // than `timeoutMs`. `completedUs`, when given, gets when it ended.
  bool Await(std::unique_lock<std::mutex>& lock, int token, uint32_t timeoutMs, uint64_t* completedUs = nullptr);

  IClock& m_clock;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<Device> m_devices;  // in the order the page first saw them
  std::map<HidHandle, Handle> m_handles;
  HidHandle m_nextHandle = 1;
  std::set<int> m_waiting;         // calls waited for
  std::map<int, bool> m_completed;  // calls ended and not yet taken, with their success
  std::map<int, uint64_t> m_completedAtUs;  // when they ended, on m_clock
  int m_nextToken = 1;
  NotifyTargets m_targets;
};

}  // namespace tarvik
