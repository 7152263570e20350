// A HID bus of simulated devices: any vendor/product IDs, several interfaces
// with the same IDs, interfaces that cannot be opened or whose attributes
// cannot be read, plug and unplug at any moment with the notices the platform
// would send, and a log of every report written and read. The device side of
// a protocol plugs in as an ISimDeviceModel.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "platform/hid_bus.h"
#include "platform/std/notify_targets.h"

namespace tarvik {

// What a device model may do on the bus.
class SimDevicePort {
 public:
  virtual ~SimDevicePort() = default;
  // Queues an input report (report ID first) for every open reading handle,
  // readable `delayMs` after now.
  virtual void SendInputReport(std::vector<uint8_t> report, uint32_t delayMs = 0) = 0;
  // Leaves the bus, with the removal notice.
  virtual void Unplug() = 0;
  // Leaves the bus and comes back at once as another product of the same
  // vendor, with the same model, under a new path: the removal notice, then
  // the arrival notice. Handles opened on the old device fail from now on.
  virtual void ReplugAs(uint16_t productId, size_t outputReportSize, size_t inputReportSize) = 0;
  // Leaves the bus `leaveInMs` after now and comes back `awayMs` later under
  // the same path, as a controller does across its own reset: the removal
  // notice, then the arrival notice. What the device sent up to its leaving
  // can still be read from the handles open then; after that they fail, also
  // once it is back.
  virtual void LeaveAndReturn(uint32_t leaveInMs, uint32_t awayMs) = 0;
  virtual uint64_t NowMs() = 0;
};

// The device side of a simulated controller.
class ISimDeviceModel {
 public:
  virtual ~ISimDeviceModel() = default;
  // Every output report the host wrote to the device (report ID first). Called
  // on the writing thread, without the bus's lock held.
  virtual void OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) = 0;
  // The device was pulled off the bus and will be plugged in again. What it
  // kept only while powered is lost; its flash stays. Called without the
  // bus's lock, before the device comes back.
  virtual void OnPowerLost() {}
};

struct SimDeviceSetup {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string path;  // empty: a Windows-style interface path is made up
  bool openable = true;
  bool attributesReadable = true;
  // Whether enumeration tells the IDs (as hidraw does); false: they are read by
  // opening the device, as where the platform cannot tell them otherwise.
  // Enumeration never tells them when the attributes cannot be read.
  bool idsListed = true;
  std::string location;  // empty: "sim-N", N the device's id; kept when it comes back as another product
  std::string serial;
  size_t outputReportSize = 65;  // a write of another size fails; 0 accepts any size
  size_t inputReportSize = 65;
  std::shared_ptr<ISimDeviceModel> model;  // none: the device never answers
  // Runs once the host is done with the device. That is when it has had an
  // output report, no handle is open on it, and it is not on its way off or
  // back onto the bus, as across a boot-mode reset. It gets the device's id.
  // A device that comes back as another product hands it on to the one it
  // becomes. It runs on the thread that let go, without the bus's lock.
  std::function<void(int device)> released;
};

struct SimExchange {
  enum class Direction { kOut, kIn };
  Direction direction;
  int device;
  std::vector<uint8_t> report;
  uint64_t timeMs;
};

class SimHidBus final : public IHidBus {
 public:
  explicit SimHidBus(IClock& clock);
  ~SimHidBus() override;

  // Adds a device at the end of the enumeration order; returns its id. With
  // `notify`, registered windows get the arrival notice.
  int Plug(SimDeviceSetup setup, bool notify = true);
  // Adds a device that joins the bus at `atMs` on the bus's clock, with the
  // arrival notice; its id (and place in the enumeration order) is given now.
  // On a virtual clock it joins at the first bus call once that time has come.
  int PlugLater(SimDeviceSetup setup, uint64_t atMs);
  uint64_t NowMs() { return m_clock.NowMs(); }
  // Carries out the leavings and arrivals whose time has come, with their
  // notices. On a real clock a thread of the bus's own does so; on a virtual
  // one every bus call does, and so may whoever moved the clock on.
  void CatchUp() { TakeArrivals(); }
  // Removes a device: its handles fail from now on. With `notify`, registered
  // windows get the removal notice.
  void Unplug(int device, bool notify = true);
  // Lets go of a device that left the bus for good: its record, its path and
  // its model. With handles still open on it, that happens when the last one
  // closes. Its id is not given again.
  void Forget(int device);
  bool IsPresent(int device) const;
  std::string PathOf(int device) const;
  // Where it is plugged in (also before it arrives).
  std::string LocationOf(int device) const;
  void SetOpenable(int device, bool openable);
  // The device leaves the bus right after it has received `count` output
  // reports. With `backMs`, it is plugged in again that long after, at the
  // same place and under the same path, holding what it held; 0: it stays away.
  void UnplugAfterOutputs(int device, uint32_t count, uint32_t backMs = 0);
  // Device to host, as a model would.
  void SendInput(int device, std::vector<uint8_t> report, uint32_t delayMs = 0);

  // Whether reports are kept for Exchanges() and ReportsWrittenTo(): only
  // when a caller asks (tests that read them), so that a long run keeps no
  // memory per report.
  void KeepExchangeLog(bool keep);
  std::vector<SimExchange> Exchanges() const;
  std::vector<std::vector<uint8_t>> ReportsWrittenTo(int device) const;
  int RegistrationCount() const;
  int OpenHandleCount() const;
  // How often the device has been opened, in any mode (whether or not the open succeeded).
  int OpenCount(int device) const;

  static std::string MakeInterfacePath(uint16_t vendorId, uint16_t productId, int instance);

  // IHidBus
  std::vector<std::string> EnumerateInterfaces() override;
  std::vector<HidDeviceInfo> EnumerateDevices() override;
  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  bool GetAttributes(HidHandle handle, HidAttributes& out) override;
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) override;
  // The report is taken when the device has it, before the device acts on it.
  bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) override;
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                           uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override;
  void UnregisterNotify(NotifyHandle handle) override;

 private:
  struct PendingReport {
    std::vector<uint8_t> report;
    uint64_t dueMs;
  };
  struct Device {
    int id = 0;
    SimDeviceSetup setup;
    bool present = true;
    uint32_t outputsReceived = 0;
    int opens = 0;
    uint32_t unplugAfter = 0;  // 0: never
    uint32_t unplugBackMs = 0;  // 0: an unplugged device stays away
    bool arriving = false;     // plugged later, or away, and not (yet) on the bus
    uint64_t arriveAtMs = 0;
    bool leaving = false;      // leaves at leaveAtMs and is away for awayMs
    uint64_t leaveAtMs = 0;
    uint32_t awayMs = 0;
    bool forgotten = false;  // let go of once its last handle closes
  };
  struct Handle {
    int device = 0;
    HidOpenMode mode = HidOpenMode::kProbeReadWrite;
    std::deque<PendingReport> queue;
    bool orphaned = false;  // its device left: only what it sent before is read
  };
  class Port;

  Device* FindDevice(int id);  // m_lock held
  const Device* FindDevice(int id) const;
  bool HasHandles(int device) const;  // m_lock held
  // The device's `released` when the host is done with it, taken so that it
  // runs once. A forgotten device with no handle open is let go of here.
  // Called with m_lock held; the caller runs what it gets without it.
  std::function<void(int)> TakeReleased(int device);
  void Deliver(int device, std::vector<uint8_t> report, uint32_t delayMs);
  void Replug(int device, uint16_t productId, size_t outputReportSize, size_t inputReportSize);
  void LeaveAndReturn(int device, uint32_t leaveInMs, uint32_t awayMs);
  // Pulls a device off the bus now and plugs it in again `awayMs` later.
  void PullAndReturn(int device, uint32_t awayMs);
  // Takes a leaving device off the bus (m_lock held); the caller sends the removal notice.
  void Depart(Device& device);
  void Notify(DeviceChange change);
  // Takes the devices whose time to leave has come off the bus, then puts
  // those whose time to arrive has come on it.
  void TakeArrivals();
  void StartArrivalThread();  // m_lock held; only for a clock that runs by itself
  void WaitForArrivals();     // the arrival thread of a clock that runs by itself

  IClock& m_clock;
  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  std::map<int, Device> m_devices;  // by id, which is the order of plugging and of enumeration
  // Every device the bus knows under a path, in plug order; Open takes the first present one.
  std::unordered_map<std::string, std::vector<int>> m_devicesByPath;
  std::map<HidHandle, Handle> m_handles;
  HidHandle m_nextHandle = 1;
  NotifyTargets m_targets;
  int m_nextDevice = 1;
  std::vector<SimExchange> m_exchanges;
  bool m_keepExchanges = false;
  std::atomic<int> m_arriving{0};  // devices plugged later, or away, that have not arrived
  std::atomic<int> m_leaving{0};   // devices that are to leave and have not left
  bool m_stopping = false;
  std::thread m_arrivals;
};

}  // namespace tarvik
