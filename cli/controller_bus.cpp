#include "cli/controller_bus.h"

#include <algorithm>

#include "device/chid.h"
#include "device/device_table.h"

namespace tarvik {

std::string ControllerIdentity(const std::string& path, const std::string& location) {
  return location.empty() ? path : "at " + location;
}

std::vector<ControllerEntry> EnumerateControllers(IHidBus& bus) {
  std::vector<ControllerEntry> found;
  for (HidDeviceInfo& device : EnumerateDevicesWithIds(bus)) {
    const DeviceTableRow* row = FindDeviceTableRow(device.vendorId, device.productId);
    if (!row) continue;
    // One that is held by someone else is no controller to work with.
    const HidHandle probe = bus.Open(device.path, HidOpenMode::kProbeReadWrite);
    if (probe == kInvalidHidHandle) continue;
    bus.Close(probe);
    found.push_back({std::move(device.path), row->vendorId, row->productId, static_cast<int>(row->mode),
                     std::move(device.location), std::move(device.serial)});
  }
  return found;
}

// Passes on a notice only when it changed whether the path is on the bus.
class SingleDeviceBus::Filter final : public IDeviceNotifyTarget {
 public:
  Filter(SingleDeviceBus& owner, IDeviceNotifyTarget& target, bool present)
      : m_owner(owner), m_target(target), m_present(present) {}
  void PostDeviceChange(DeviceChange) override {
    const bool present = m_owner.IsPresent();
    bool forward = false;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      forward = present != m_present;
      m_present = present;
    }
    if (forward) m_target.PostDeviceChange(present ? DeviceChange::kArrival : DeviceChange::kRemoval);
  }

 private:
  SingleDeviceBus& m_owner;
  IDeviceNotifyTarget& m_target;
  std::mutex m_lock;
  bool m_present;
};

SingleDeviceBus::SingleDeviceBus(IHidBus& inner, std::string path, std::string location)
    : m_inner(inner), m_location(std::move(location)), m_path(std::move(path)) {}

SingleDeviceBus::~SingleDeviceBus() {
  std::vector<std::pair<NotifyHandle, std::unique_ptr<Filter>>> filters;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    filters = std::move(m_filters);
  }
  // Without the lock: a notice being delivered now looks the controller up under it.
  for (auto& [handle, filter] : filters) m_inner.UnregisterNotify(handle);
}

std::pair<std::string, bool> SingleDeviceBus::Find() {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    path = m_path;
  }
  if (m_location.empty()) {
    const std::vector<std::string> paths = m_inner.EnumerateInterfaces();
    return {path, std::find(paths.begin(), paths.end(), path) != paths.end()};
  }
  // The path it had, while that is there; else the supported controller now at its location.
  const std::vector<HidDeviceInfo> devices = EnumerateDevicesWithIds(m_inner);
  const auto here = [&](const HidDeviceInfo& d) { return d.location == m_location; };
  if (std::any_of(devices.begin(), devices.end(), [&](const HidDeviceInfo& d) { return here(d) && d.path == path; })) {
    return {path, true};
  }
  for (const HidDeviceInfo& d : devices) {
    if (!here(d) || !FindDeviceTableRow(d.vendorId, d.productId)) continue;
    std::lock_guard<std::mutex> lock(m_lock);
    m_path = d.path;
    return {d.path, true};
  }
  return {path, false};
}

std::string SingleDeviceBus::Path() { return Find().first; }

bool SingleDeviceBus::IsPresent() { return Find().second; }

std::vector<std::string> SingleDeviceBus::EnumerateInterfaces() {
  const auto [path, present] = Find();
  if (!present) return {};
  return {path};
}

std::vector<HidDeviceInfo> SingleDeviceBus::EnumerateDevices() {
  const auto [path, present] = Find();
  if (!present) return {};
  std::vector<HidDeviceInfo> devices = m_inner.EnumerateDevices();
  std::erase_if(devices, [&path = path](const HidDeviceInfo& device) { return device.path != path; });
  return devices;
}

HidHandle SingleDeviceBus::Open(const std::string& path, HidOpenMode mode) {
  if (path != Find().first) return kInvalidHidHandle;
  return m_inner.Open(path, mode);
}

NotifyHandle SingleDeviceBus::RegisterNotify(IDeviceNotifyTarget& target) {
  auto filter = std::make_unique<Filter>(*this, target, IsPresent());
  const NotifyHandle handle = m_inner.RegisterNotify(*filter);
  if (handle == kNoNotifyHandle) return handle;
  std::lock_guard<std::mutex> lock(m_lock);
  m_filters.emplace_back(handle, std::move(filter));
  return handle;
}

void SingleDeviceBus::UnregisterNotify(NotifyHandle handle) {
  m_inner.UnregisterNotify(handle);
  std::lock_guard<std::mutex> lock(m_lock);
  m_filters.erase(std::remove_if(m_filters.begin(), m_filters.end(),
                                 [handle](const auto& entry) { return entry.first == handle; }),
                  m_filters.end());
}

}  // namespace tarvik
