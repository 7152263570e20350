// The device object: finds the supported controller among the HID interfaces
// (SearchDevice, FindHid, RegisterHidNotify) and carries every report to and
// from it (OpenHid, WriteHid, ReadHid). One exists per controller. The main
// window owns one, and a session without a window keeps its own.
//
// A search enumerates the bus once (IHidBus::EnumerateDevices) and opens only
// interfaces whose IDs are those of a supported controller, and those whose IDs
// the bus could not tell without opening them (each once).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/report_framing.h"
#include "platform/hid_bus.h"

namespace tarvik {

class CDiag;

// What ReadHid returns: the codes of the platform's wait services.
inline constexpr uint32_t kWaitReceived = 0;
inline constexpr uint32_t kWaitAbandoned = 128;  // no read handle
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;  // the device is gone or unusable
// A read that neither brought a report nor timed out: the device is gone or unusable.
inline constexpr bool ReadFailedOutright(uint32_t code) {
  return code != kWaitReceived && code != kWaitTimeout;
}

// The HID interfaces present now, in the bus's order, each with its IDs: those
// the bus could not tell are read by opening the interface once; interfaces
// that cannot be opened or read then are left out.
std::vector<HidDeviceInfo> EnumerateDevicesWithIds(IHidBus& bus);

class CHid {
 public:
  CHid(IHidBus& bus, CDiag& diag);
  virtual ~CHid();
  CHid(const CHid&) = delete;
  CHid& operator=(const CHid&) = delete;

  // Discovery.
  void SetRecipientWindow(IDeviceNotifyTarget* window);
  bool SearchDevice();
  // The first of `devices` (IDs known) with these IDs that opens; its probe
  // handle stays open for the caller to close.
  bool FindHid(const std::vector<HidDeviceInfo>& devices, uint16_t vendorId, uint16_t productId,
               HidHandle& probeHandle);
  bool RegisterHidNotify();

  // Transport.
  bool OpenHid();
  void SetReadTimeout(uint32_t ms);
  uint32_t ReadTimeout() const { return m_readTimeout.load(); }
  int WriteHid(const void* payload, uint32_t length);
  // When the bus took the last report WriteHid sent, on the bus's clock in
  // microseconds; 0 when the bus cannot tell or the write failed.
  uint64_t LastWriteTakenUs() const { return m_lastWriteTakenUs.load(); }
  uint32_t ReadHid(uint8_t* destination, uint8_t count);
  // ReadHid without waiting: a report that is already there, or a time-out.
  uint32_t ReadHidNow(uint8_t* destination, uint8_t count);
  // Reads and drops the input reports already waiting (without waiting for
  // more), so that a reply to an earlier frame cannot stand for the next
  // one's; returns how many were dropped.
  int DiscardPendingInput();

  // While a worker uses the device, handles replaced by OpenHid are kept open
  // until EndWorkerUse, so that no handle is closed under the worker.
  void BeginWorkerUse();
  void EndWorkerUse();

  // State of the last search (shared between the user-interface thread and the worker).
  ReportMode Mode() const { return m_currentReportMode.load(); }
  bool IsBootMode() const { return m_bootMode.load() != 0; }
  bool IsDevicePresent() const { return m_devicePresent.load() != 0; }
  bool IsNotifyRegistered() const { return m_notifyRegistered.load() != 0; }
  std::string DevicePath() const;
  // Where the last match is plugged in and its serial number, as the bus tells them (may be empty).
  std::string DeviceLocation() const;
  std::string DeviceSerial() const;
  // Whether the interface of the last match is still on the bus; changes nothing.
  bool IsDevicePathPresent();

 private:
  // A write handle and a read handle opened together on one path; closed when
  // the last user lets go of them.
  struct HandlePair {
    HandlePair(IHidBus& owner, HidHandle writeHandle, HidHandle readHandle)
        : bus(owner), write(writeHandle), read(readHandle) {}
    ~HandlePair();
    IHidBus& bus;
    HidHandle write;
    HidHandle read;
  };

  std::shared_ptr<HandlePair> CurrentHandles() const;
  uint32_t ReadWithin(uint8_t* destination, uint8_t count, uint32_t timeoutMs);
  void StoreHandles(std::shared_ptr<HandlePair> handles);

  IHidBus& m_bus;
  CDiag& m_diag;

  IDeviceNotifyTarget* m_recipientWindow = nullptr;
  std::atomic<int> m_devicePresent{0};
  std::atomic<uint32_t> m_readTimeout{10};
  std::atomic<int> m_notifyRegistered{0};
  NotifyHandle m_notifyHandle = kNoNotifyHandle;
  std::atomic<ReportMode> m_currentReportMode{ReportMode::kNone};
  std::atomic<int> m_bootMode{0};

  mutable std::mutex m_searchLock;  // one search at a time; guards m_DevicePath
  std::string m_DevicePath;
  std::string m_location;  // guarded by m_searchLock
  std::string m_serial;    // guarded by m_searchLock

  mutable std::mutex m_handleLock;  // guards m_handles, m_retired, m_workerUses
  std::shared_ptr<HandlePair> m_handles;
  std::vector<std::shared_ptr<HandlePair>> m_retired;
  int m_workerUses = 0;

  std::mutex m_writeLock;  // filling and sending the output report are one step
  std::atomic<uint64_t> m_lastWriteTakenUs{0};
  uint8_t m_outputReport[kOutputReportBufferSize] = {};
};

}  // namespace tarvik
