#include "web/webhid_bus.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "web/page_bridge.h"

namespace tarvik {

namespace {
// Real time between looks at the engine's clock while a read waits.
constexpr uint64_t kLongestWaitMs = 20;
}  // namespace

WebHidBus::Device* WebHidBus::FindDevice(int id) {
  auto it = std::find_if(m_devices.begin(), m_devices.end(), [id](const Device& d) { return d.id == id; });
  return it == m_devices.end() ? nullptr : &*it;
}

WebHidBus::Device* WebHidBus::DeviceOf(const Handle& handle) {
  Device* device = FindDevice(handle.device);
  return device && device->connected && device->connection == handle.connection ? device : nullptr;
}

void WebHidBus::DeviceSeen(int id, uint16_t vendorId, uint16_t productId, bool connected) {
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    Device* device = FindDevice(id);
    if (!device) {
      m_devices.push_back(Device{id, vendorId, productId, false, 0});
      device = &m_devices.back();
    }
    changed = device->connected != connected;
    device->connected = connected;
    if (changed && connected) ++device->connection;
  }
  m_changed.notify_all();
  if (changed) m_targets.Post(connected ? DeviceChange::kArrival : DeviceChange::kRemoval);
}

void WebHidBus::InputReport(int id, const uint8_t* report, size_t size) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& [handle, open] : m_handles) {
      if (open.device != id || open.mode == HidOpenMode::kWriteSync || !DeviceOf(open)) continue;
      if (open.queue.size() == kQueuedReports) open.queue.pop_front();
      open.queue.emplace_back(report, report + size);
    }
  }
  m_changed.notify_all();
}

void WebHidBus::Completed(int token, bool ok) {
  const uint64_t nowUs = m_clock.NowUs();
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_waiting.erase(token) == 0) return;  // its caller gave up waiting
    m_completed[token] = ok;
    m_completedAtUs[token] = nowUs;
  }
  m_changed.notify_all();
}

int WebHidBus::NewToken() {
  const int token = m_nextToken++;
  m_waiting.insert(token);
  return token;
}

bool WebHidBus::Await(std::unique_lock<std::mutex>& lock, int token, uint32_t timeoutMs, uint64_t* completedUs) {
  const bool ended = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [&] { return m_completed.count(token) != 0; });
  m_waiting.erase(token);
  if (!ended) return false;
  const bool ok = m_completed[token];
  m_completed.erase(token);
  if (completedUs) *completedUs = m_completedAtUs[token];
  m_completedAtUs.erase(token);
  return ok;
}

std::vector<std::string> WebHidBus::EnumerateInterfaces() { return PathsOf(EnumerateDevices()); }

std::vector<HidDeviceInfo> WebHidBus::EnumerateDevices() {
  std::lock_guard<std::mutex> lock(m_lock);
  std::vector<HidDeviceInfo> devices;
  for (const Device& device : m_devices) {
    if (!device.connected) continue;
    HidDeviceInfo info;
    info.path = PathOf(device.id);
    info.vendorId = device.vendorId;
    info.productId = device.productId;
    info.idsKnown = true;
    devices.push_back(info);
  }
  return devices;
}

HidHandle WebHidBus::Open(const std::string& path, HidOpenMode mode) {
  std::unique_lock<std::mutex> lock(m_lock);
  auto it = std::find_if(m_devices.begin(), m_devices.end(),
                         [&](const Device& d) { return d.connected && PathOf(d.id) == path; });
  if (it == m_devices.end()) return kInvalidHidHandle;
  const int id = it->id;
  const uint64_t connection = it->connection;
  // The browser opens a device once for the page; it stays open while
  // connected, and every handle shares it.
  const int token = NewToken();
  lock.unlock();
  tarvik_hid_open(id, token);
  lock.lock();
  if (!Await(lock, token, kOpenTimeoutMs)) return kInvalidHidHandle;
  const Device* device = FindDevice(id);
  if (!device || !device->connected || device->connection != connection) return kInvalidHidHandle;
  const HidHandle handle = m_nextHandle++;
  m_handles[handle] = Handle{id, connection, mode, {}};
  return handle;
}

bool WebHidBus::GetAttributes(HidHandle handle, HidAttributes& out) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_handles.find(handle);
  const Device* device = it == m_handles.end() ? nullptr : DeviceOf(it->second);
  if (!device) return false;
  out = HidAttributes{device->vendorId, device->productId, 0};  // WebHID tells no version number
  return true;
}

bool WebHidBus::WriteReport(HidHandle handle, const uint8_t* report, size_t size) {
  uint64_t takenUs = 0;
  return WriteReportTimed(handle, report, size, takenUs);
}

bool WebHidBus::WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) {
  takenUs = 0;
  if (size == 0) return false;
  std::unique_lock<std::mutex> lock(m_lock);
  auto it = m_handles.find(handle);
  if (it == m_handles.end() || it->second.mode == HidOpenMode::kReadOverlapped || !DeviceOf(it->second)) {
    return false;
  }
  const int id = it->second.device;
  const int token = NewToken();
  lock.unlock();
  tarvik_hid_send(id, report[0], report + 1, static_cast<int>(size - 1), token);
  lock.lock();
  return Await(lock, token, kWriteTimeoutMs, &takenUs);
}

HidReadResult WebHidBus::ReadReport(HidHandle handle, uint8_t* buffer, size_t size, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_lock);
  const uint64_t deadline = m_clock.NowMs() + timeoutMs;
  for (;;) {
    auto it = m_handles.find(handle);
    if (it == m_handles.end() || it->second.mode == HidOpenMode::kWriteSync) return {HidRead::kGone, 0};
    std::deque<std::vector<uint8_t>>& queue = it->second.queue;
    if (!queue.empty()) {
      const size_t bytes = std::min(size, queue.front().size());
      std::memcpy(buffer, queue.front().data(), bytes);
      queue.pop_front();
      return {HidRead::kReport, bytes};
    }
    if (!DeviceOf(it->second)) return {HidRead::kGone, 0};
    const uint64_t now = m_clock.NowMs();
    if (now >= deadline || m_clock.AdvanceIdleTo(deadline)) return {HidRead::kTimedOut, 0};
    m_changed.wait_for(lock, std::chrono::milliseconds(std::min(deadline - now, kLongestWaitMs)));
  }
}

void WebHidBus::Close(HidHandle handle) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_handles.erase(handle);
  }
  m_changed.notify_all();
}

}  // namespace tarvik
