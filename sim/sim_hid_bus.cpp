#include "sim/sim_hid_bus.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tarvik {

namespace {
// A HID handle keeps this many unread input reports; older ones are dropped.
constexpr size_t kInputQueueLimit = 64;
}  // namespace

class SimHidBus::Port final : public SimDevicePort {
 public:
  Port(SimHidBus& bus, int device) : m_bus(bus), m_device(device) {}
  void SendInputReport(std::vector<uint8_t> report, uint32_t delayMs) override {
    m_bus.Deliver(m_device, std::move(report), delayMs);
  }
  void Unplug() override { m_bus.Unplug(m_device, true); }
  void ReplugAs(uint16_t productId, size_t outputReportSize, size_t inputReportSize) override {
    m_bus.Replug(m_device, productId, outputReportSize, inputReportSize);
  }
  void LeaveAndReturn(uint32_t leaveInMs, uint32_t awayMs) override {
    m_bus.LeaveAndReturn(m_device, leaveInMs, awayMs);
  }
  uint64_t NowMs() override { return m_bus.m_clock.NowMs(); }

 private:
  SimHidBus& m_bus;
  int m_device;
};

SimHidBus::SimHidBus(IClock& clock) : m_clock(clock) {}

SimHidBus::~SimHidBus() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopping = true;
  }
  m_changed.notify_all();
  if (m_arrivals.joinable()) m_arrivals.join();
}

int SimHidBus::PlugLater(SimDeviceSetup setup, uint64_t atMs) {
  std::lock_guard<std::mutex> lock(m_lock);
  const int id = m_nextDevice++;
  if (setup.path.empty()) setup.path = MakeInterfacePath(setup.vendorId, setup.productId, id);
  if (setup.location.empty()) setup.location = "sim-" + std::to_string(id);
  Device device;
  device.id = id;
  device.setup = std::move(setup);
  device.present = false;
  device.arriving = true;
  device.arriveAtMs = atMs;
  m_devicesByPath[device.setup.path].push_back(id);
  m_devices.emplace(id, std::move(device));
  m_arriving.fetch_add(1);
  StartArrivalThread();
  m_changed.notify_all();
  return id;
}

void SimHidBus::StartArrivalThread() {
  // A clock that runs by itself passes without anyone calling the bus: a
  // thread of the bus's own brings devices in and takes them off. One whose
  // time passes only in waits passes only in calls, which look first.
  if (m_clock.RunsByItself() && !m_arrivals.joinable()) m_arrivals = std::thread([this] { WaitForArrivals(); });
}

void SimHidBus::LeaveAndReturn(int device, uint32_t leaveInMs, uint32_t awayMs) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    Device* d = FindDevice(device);
    if (!d || !d->present || d->leaving) return;
    d->leaving = true;
    d->leaveAtMs = m_clock.NowMs() + leaveInMs;
    d->awayMs = awayMs;
    m_leaving.fetch_add(1);
    StartArrivalThread();
  }
  m_changed.notify_all();
}

void SimHidBus::Depart(Device& device) {
  device.leaving = false;
  m_leaving.fetch_sub(1);
  device.present = false;
  // Reports the device sent before it left are in the host's buffers already;
  // later ones never went out.
  for (auto& [id, handle] : m_handles) {
    if (handle.device != device.id || handle.orphaned) continue;
    handle.orphaned = true;
    std::erase_if(handle.queue, [&](const PendingReport& r) { return r.dueMs > device.leaveAtMs; });
  }
  device.arriving = true;
  device.arriveAtMs = device.leaveAtMs + device.awayMs;
  m_arriving.fetch_add(1);
}

void SimHidBus::TakeArrivals() {
  if (m_arriving.load() == 0 && m_leaving.load() == 0) return;
  int left = 0;
  int arrived = 0;
  std::vector<std::pair<int, std::function<void(int)>>> released;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    const uint64_t now = m_clock.NowMs();
    for (auto& [id, d] : m_devices) {
      if (!d.leaving || d.leaveAtMs > now) continue;
      Depart(d);
      ++left;
    }
    for (auto& [id, d] : m_devices) {
      if (!d.arriving || d.arriveAtMs > now) continue;
      d.arriving = false;
      d.present = true;
      m_arriving.fetch_sub(1);
      ++arrived;
      // One back from its reset may be done with already.
      if (auto done = TakeReleased(id)) released.emplace_back(id, std::move(done));
    }
  }
  if (left + arrived == 0) return;
  m_changed.notify_all();
  for (int i = 0; i < left; ++i) Notify(DeviceChange::kRemoval);
  for (int i = 0; i < arrived; ++i) Notify(DeviceChange::kArrival);
  for (auto& [id, done] : released) done(id);
}

void SimHidBus::WaitForArrivals() {
  std::unique_lock<std::mutex> lock(m_lock);
  while (!m_stopping) {
    uint64_t next = UINT64_MAX;
    for (const auto& [id, d] : m_devices) {
      if (d.arriving) next = std::min(next, d.arriveAtMs);
      if (d.leaving) next = std::min(next, d.leaveAtMs);
    }
    if (next == UINT64_MAX) {
      m_changed.wait(lock);
      continue;
    }
    const uint64_t now = m_clock.NowMs();
    if (next > now) {
      m_changed.wait_for(lock, std::chrono::milliseconds(next - now));
      continue;
    }
    lock.unlock();
    TakeArrivals();
    lock.lock();
  }
}

SimHidBus::Device* SimHidBus::FindDevice(int id) {
  const auto found = m_devices.find(id);
  return found == m_devices.end() ? nullptr : &found->second;
}

const SimHidBus::Device* SimHidBus::FindDevice(int id) const {
  return const_cast<SimHidBus*>(this)->FindDevice(id);
}

std::string SimHidBus::MakeInterfacePath(uint16_t vendorId, uint16_t productId, int instance) {
  char path[128];
  std::snprintf(path, sizeof path,
                "\\\\?\\hid#vid_%04x&pid_%04x#7&2f1c%04x&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                vendorId, productId, static_cast<unsigned>(instance) & 0xFFFFu);
  return path;
}

int SimHidBus::Plug(SimDeviceSetup setup, bool notify) {
  int id = 0;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    id = m_nextDevice++;
    if (setup.path.empty()) setup.path = MakeInterfacePath(setup.vendorId, setup.productId, id);
    if (setup.location.empty()) setup.location = "sim-" + std::to_string(id);
    Device device;
    device.id = id;
    device.setup = std::move(setup);
    m_devicesByPath[device.setup.path].push_back(id);
    m_devices.emplace(id, std::move(device));
  }
  if (notify) Notify(DeviceChange::kArrival);
  return id;
}

bool SimHidBus::HasHandles(int device) const {
  return std::any_of(m_handles.begin(), m_handles.end(), [device](const auto& h) { return h.second.device == device; });
}

std::function<void(int)> SimHidBus::TakeReleased(int device) {
  Device* d = FindDevice(device);
  if (!d || d->leaving || d->arriving || HasHandles(device)) return {};
  if (d->forgotten && !d->present) {
    std::vector<int>& sharing = m_devicesByPath[d->setup.path];
    std::erase(sharing, device);
    if (sharing.empty()) m_devicesByPath.erase(d->setup.path);
    m_devices.erase(device);
    return {};
  }
  if (d->outputsReceived == 0) return {};
  return std::exchange(d->setup.released, nullptr);
}

void SimHidBus::Forget(int device) {
  std::lock_guard<std::mutex> lock(m_lock);
  Device* d = FindDevice(device);
  if (!d || d->present || d->arriving) return;
  d->forgotten = true;
  TakeReleased(device);  // lets go of it now when no handle is open on it
}

void SimHidBus::Unplug(int device, bool notify) {
  std::function<void(int)> released;
  bool left = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    Device* it = FindDevice(device);
    if (it && it->leaving) {  // unplugged before its own leaving: it does not come back
      it->leaving = false;
      m_leaving.fetch_sub(1);
    }
    if (it && it->arriving) {  // leaves before it came: it never arrives
      it->arriving = false;
      m_arriving.fetch_sub(1);
    } else if (it && it->present) {
      it->present = false;
      left = true;
    }
    // Gone for good: the host may be done with it already.
    if (it) released = TakeReleased(device);
  }
  if (left) {
    m_changed.notify_all();
    if (notify) Notify(DeviceChange::kRemoval);
  }
  if (released) released(device);
}

bool SimHidBus::IsPresent(int device) const {
  std::lock_guard<std::mutex> lock(m_lock);
  const Device* d = FindDevice(device);
  return d && d->present;
}

std::string SimHidBus::PathOf(int device) const {
  std::lock_guard<std::mutex> lock(m_lock);
  const Device* d = FindDevice(device);
  return d ? d->setup.path : std::string();
}

std::string SimHidBus::LocationOf(int device) const {
  std::lock_guard<std::mutex> lock(m_lock);
  const Device* d = FindDevice(device);
  return d ? d->setup.location : std::string();
}

void SimHidBus::SetOpenable(int device, bool openable) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (Device* d = FindDevice(device)) d->setup.openable = openable;
}

void SimHidBus::Replug(int device, uint16_t productId, size_t outputReportSize,
                       size_t inputReportSize) {
  SimDeviceSetup setup;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    Device* it = FindDevice(device);
    if (!it || !it->present) return;
    setup = it->setup;
    // What is to be done once the host lets go goes with the device it becomes;
    // the record of the one it was is then of no more use.
    if (it->setup.released) {
      it->setup.released = nullptr;
      it->forgotten = true;
    }
  }
  setup.productId = productId;
  setup.outputReportSize = outputReportSize;
  setup.inputReportSize = inputReportSize;
  setup.path.clear();
  Unplug(device, true);
  Plug(std::move(setup), true);
}

void SimHidBus::UnplugAfterOutputs(int device, uint32_t count, uint32_t backMs) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (Device* d = FindDevice(device)) {
    d->unplugAfter = count;
    d->unplugBackMs = backMs;
  }
}

void SimHidBus::PullAndReturn(int device, uint32_t awayMs) {
  std::shared_ptr<ISimDeviceModel> model;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    Device* d = FindDevice(device);
    if (!d || !d->present || d->leaving) return;
    d->leaving = true;
    d->leaveAtMs = m_clock.NowMs();
    d->awayMs = awayMs;
    m_leaving.fetch_add(1);
    Depart(*d);
    model = d->setup.model;
    StartArrivalThread();
  }
  if (model) model->OnPowerLost();
  m_changed.notify_all();
  Notify(DeviceChange::kRemoval);
}

void SimHidBus::SendInput(int device, std::vector<uint8_t> report, uint32_t delayMs) {
  Deliver(device, std::move(report), delayMs);
}

void SimHidBus::Deliver(int device, std::vector<uint8_t> report, uint32_t delayMs) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    Device* dev = FindDevice(device);
    if (!dev || !dev->present) return;
    const uint64_t due = m_clock.NowMs() + delayMs;
    for (auto& [handleId, handle] : m_handles) {
      if (handle.device != device || handle.mode == HidOpenMode::kWriteSync || handle.orphaned) continue;
      if (handle.queue.size() >= kInputQueueLimit) handle.queue.pop_front();
      handle.queue.push_back({report, due});
    }
  }
  m_changed.notify_all();
}

void SimHidBus::Notify(DeviceChange change) { m_targets.Post(change); }

void SimHidBus::KeepExchangeLog(bool keep) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_keepExchanges = keep;
}

std::vector<SimExchange> SimHidBus::Exchanges() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_exchanges;
}

std::vector<std::vector<uint8_t>> SimHidBus::ReportsWrittenTo(int device) const {
  std::lock_guard<std::mutex> lock(m_lock);
  std::vector<std::vector<uint8_t>> reports;
  for (const SimExchange& e : m_exchanges) {
    if (e.device == device && e.direction == SimExchange::Direction::kOut) reports.push_back(e.report);
  }
  return reports;
}

int SimHidBus::RegistrationCount() const { return m_targets.Added(); }

int SimHidBus::OpenHandleCount() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return static_cast<int>(m_handles.size());
}

int SimHidBus::OpenCount(int device) const {
  std::lock_guard<std::mutex> lock(m_lock);
  const Device* d = FindDevice(device);
  return d ? d->opens : 0;
}

std::vector<std::string> SimHidBus::EnumerateInterfaces() {
  TakeArrivals();
  std::lock_guard<std::mutex> lock(m_lock);
  std::vector<std::string> paths;
  for (const auto& [id, d] : m_devices) {
    if (d.present) paths.push_back(d.setup.path);
  }
  return paths;
}

std::vector<HidDeviceInfo> SimHidBus::EnumerateDevices() {
  TakeArrivals();
  std::lock_guard<std::mutex> lock(m_lock);
  std::vector<HidDeviceInfo> devices;
  for (const auto& [id, d] : m_devices) {
    if (!d.present) continue;
    HidDeviceInfo info;
    info.path = d.setup.path;
    info.idsKnown = d.setup.idsListed && d.setup.attributesReadable;
    if (info.idsKnown) {
      info.vendorId = d.setup.vendorId;
      info.productId = d.setup.productId;
    }
    info.location = d.setup.location;
    info.serial = d.setup.serial;
    devices.push_back(std::move(info));
  }
  return devices;
}

HidHandle SimHidBus::Open(const std::string& path, HidOpenMode mode) {
  TakeArrivals();
  std::lock_guard<std::mutex> lock(m_lock);
  auto byPath = m_devicesByPath.find(path);
  if (byPath == m_devicesByPath.end()) return kInvalidHidHandle;
  for (const int deviceId : byPath->second) {
    Device& d = *FindDevice(deviceId);
    if (!d.present) continue;
    ++d.opens;
    if (!d.setup.openable) return kInvalidHidHandle;
    const HidHandle id = m_nextHandle++;
    Handle handle;
    handle.device = d.id;
    handle.mode = mode;
    m_handles.emplace(id, std::move(handle));
    return id;
  }
  return kInvalidHidHandle;
}

bool SimHidBus::GetAttributes(HidHandle handle, HidAttributes& out) {
  TakeArrivals();
  std::lock_guard<std::mutex> lock(m_lock);
  auto h = m_handles.find(handle);
  if (h == m_handles.end() || h->second.orphaned) return false;
  const Device* d = FindDevice(h->second.device);
  if (!d || !d->present || !d->setup.attributesReadable) return false;
  out.vendorId = d->setup.vendorId;
  out.productId = d->setup.productId;
  out.versionNumber = 0x0100;
  return true;
}

bool SimHidBus::WriteReport(HidHandle handle, const uint8_t* report, size_t size) {
  uint64_t takenUs = 0;
  return WriteReportTimed(handle, report, size, takenUs);
}

bool SimHidBus::WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) {
  takenUs = 0;
  std::shared_ptr<ISimDeviceModel> model;
  int deviceId = 0;
  bool unplugNow = false;
  uint32_t backMs = 0;
  std::vector<uint8_t> bytes(report, report + size);
  TakeArrivals();
  {
    std::lock_guard<std::mutex> lock(m_lock);
    auto h = m_handles.find(handle);
    if (h == m_handles.end() || h->second.mode == HidOpenMode::kReadOverlapped || h->second.orphaned) {
      return false;
    }
    Device* dev = FindDevice(h->second.device);
    if (!dev || !dev->present) return false;
    if (dev->setup.outputReportSize != 0 && size != dev->setup.outputReportSize) return false;
    if (m_keepExchanges) {
      m_exchanges.push_back({SimExchange::Direction::kOut, dev->id, bytes, m_clock.NowMs()});
    }
    ++dev->outputsReceived;
    unplugNow = dev->unplugAfter != 0 && dev->outputsReceived >= dev->unplugAfter;
    if (unplugNow) {
      backMs = dev->unplugBackMs;
      dev->unplugAfter = 0;  // once: one that comes back takes what it is sent
    }
    model = dev->setup.model;
    deviceId = dev->id;
  }
  takenUs = m_clock.NowUs();
  if (model) {
    Port port(*this, deviceId);
    model->OnOutputReport(bytes, port);
  }
  if (unplugNow && backMs != 0) {
    PullAndReturn(deviceId, backMs);
  } else if (unplugNow) {
    Unplug(deviceId, true);
  }
  return true;
}

HidReadResult SimHidBus::ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                                    uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_lock);
  const uint64_t deadline = m_clock.NowMs() + timeoutMs;
  for (;;) {
    auto h = m_handles.find(handle);
    if (h == m_handles.end() || h->second.mode == HidOpenMode::kWriteSync) {
      return {HidRead::kGone, 0};
    }
    Device* dev = FindDevice(h->second.device);
    std::deque<PendingReport>& queue = h->second.queue;
    const uint64_t now = m_clock.NowMs();
    // A device leaves at its time, but not before this handle has had what
    // it sent until then.
    if (dev && dev->leaving && dev->leaveAtMs <= now && !h->second.orphaned &&
        (queue.empty() || queue.front().dueMs > dev->leaveAtMs)) {
      Depart(*dev);
      lock.unlock();
      m_changed.notify_all();
      Notify(DeviceChange::kRemoval);
      lock.lock();
      continue;
    }
    if (!dev || (h->second.orphaned ? queue.empty() : !dev->present)) return {HidRead::kGone, 0};
    if (!queue.empty() && queue.front().dueMs <= now) {
      PendingReport pending = std::move(queue.front());
      queue.pop_front();
      const size_t bytes = std::min(size, pending.report.size());
      std::memcpy(buffer, pending.report.data(), bytes);
      if (m_keepExchanges) {
        m_exchanges.push_back({SimExchange::Direction::kIn, dev->id, pending.report, now});
      }
      return {HidRead::kReport, bytes};
    }
    // Nothing but time ends this wait: a clock that lets it moves on to the
    // next report, else to the device's leaving, else to the time-out.
    const bool reportDue = !queue.empty() && queue.front().dueMs <= deadline;
    const bool leaveDue = !reportDue && dev->leaving && !h->second.orphaned && dev->leaveAtMs <= deadline;
    if (m_clock.AdvanceIdleTo(reportDue ? queue.front().dueMs : leaveDue ? dev->leaveAtMs : deadline)) {
      if (reportDue || leaveDue) continue;
      return {HidRead::kTimedOut, 0};
    }
    if (now >= deadline) return {HidRead::kTimedOut, 0};
    uint64_t wakeAt = deadline;
    if (!queue.empty()) wakeAt = std::min(wakeAt, queue.front().dueMs);
    m_changed.wait_for(lock, std::chrono::milliseconds(wakeAt - now));
  }
}

void SimHidBus::Close(HidHandle handle) {
  std::function<void(int)> released;
  int device = 0;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto h = m_handles.find(handle);
    if (h != m_handles.end()) {
      device = h->second.device;
      m_handles.erase(h);
      released = TakeReleased(device);
    }
  }
  m_changed.notify_all();
  if (released) released(device);
}

NotifyHandle SimHidBus::RegisterNotify(IDeviceNotifyTarget& target) { return m_targets.Add(target); }

void SimHidBus::UnregisterNotify(NotifyHandle handle) { m_targets.Remove(handle); }

}  // namespace tarvik
