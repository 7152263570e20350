#include "cli/controller_bus.h"

#include <algorithm>

#include "device/chid.h"
#include "device/device_table.h"

namespace tarvik {

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
  void PostDeviceChange(uint32_t eventType) override {
    const bool present = m_owner.IsPresent();
    bool forward = false;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      forward = present != m_present;
      m_present = present;
    }
    if (forward) m_target.PostDeviceChange(present ? kDbtDeviceArrival : kDbtDeviceRemoveComplete);
    (void)eventType;
  }

 private:
  SingleDeviceBus& m_owner;
  IDeviceNotifyTarget& m_target;
  std::mutex m_lock;
  bool m_present;
};

SingleDeviceBus::SingleDeviceBus(IHidBus& inner, std::string path) : m_inner(inner), m_path(std::move(path)) {}

SingleDeviceBus::~SingleDeviceBus() {
  std::lock_guard<std::mutex> lock(m_lock);
  for (auto& [handle, filter] : m_filters) m_inner.UnregisterNotify(handle);
}

bool SingleDeviceBus::IsPresent() {
  const std::vector<std::string> paths = m_inner.EnumerateInterfaces();
  return std::find(paths.begin(), paths.end(), m_path) != paths.end();
}

std::vector<std::string> SingleDeviceBus::EnumerateInterfaces() {
  if (!IsPresent()) return {};
  return {m_path};
}

std::vector<HidDeviceInfo> SingleDeviceBus::EnumerateDevices() {
  std::vector<HidDeviceInfo> devices = m_inner.EnumerateDevices();
  std::erase_if(devices, [this](const HidDeviceInfo& device) { return device.path != m_path; });
  return devices;
}

HidHandle SingleDeviceBus::Open(const std::string& path, HidOpenMode mode) {
  if (path != m_path) return kInvalidHidHandle;
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
