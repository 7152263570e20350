#include "platform/linux/hidraw_bus.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/linux/report_descriptor.h"

namespace tarvik {

namespace {

// close() may change errno; the caller's failure must keep the errno that explains it.
void CloseKeepingErrno(int fd) {
  if (fd < 0) return;
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

bool SignalEventFd(int fd) {
  const uint64_t one = 1;
  return ::write(fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

// libudev keeps process-wide state that its calls change without a lock of
// their own (the hash key of its tables, for one), even on separate contexts:
// the monitor thread and enumerations take turns.
std::mutex& UdevLock() {
  static std::mutex lock;
  return lock;
}

int PollTimeout(uint64_t ms) { return static_cast<int>(std::min<uint64_t>(ms, INT_MAX)); }

// Reads the report descriptor of an open node and decides whether reads from
// it carry a report ID.
bool ReadsCarryReportId(int fd, bool& numbered) {
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) return false;
  hidraw_report_descriptor descriptor{};
  // The kernel refuses to copy HID_MAX_DESCRIPTOR_SIZE bytes or more, though a
  // descriptor may be that long; its last byte (an End Collection) decides nothing.
  descriptor.size = static_cast<uint32_t>(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE - 1));
  if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) return false;
  numbered = UsesNumberedReports(descriptor.value, descriptor.size);
  return true;
}

}  // namespace

// An open node, shared by its handle and the calls running on it: the
// descriptors close when the last of them lets go, so a read or write still
// running after Close never touches a descriptor number the system has given
// to someone else.
struct HidrawBus::OpenFile {
  int fd = -1;
  int wakeFd = -1;  // readable handles: Close wakes a read waiting on this node
  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    CloseKeepingErrno(fd);
    CloseKeepingErrno(wakeFd);
  }
};

// The hotplug monitor and the thread that waits on it.
class HidrawBus::Watcher {
 public:
  // nullptr when udev gives no monitor.
  static std::unique_ptr<Watcher> Start(HidrawBus& bus) {
    std::unique_ptr<Watcher> watcher(new Watcher(bus));
    if (!watcher->Connect()) return nullptr;
    Watcher* running = watcher.get();
    watcher->m_thread = std::thread([running] { running->Run(); });
    return watcher;
  }

  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  ~Watcher() {
    if (m_thread.joinable()) {
      SignalEventFd(m_stopFd);
      m_thread.join();
    }
    std::lock_guard<std::mutex> lock(UdevLock());
    if (m_monitor) udev_monitor_unref(m_monitor);
    if (m_udev) udev_unref(m_udev);
    CloseKeepingErrno(m_stopFd);
  }

 private:
  explicit Watcher(HidrawBus& bus) : m_bus(bus) {}

  // The monitor is made and receiving before registration returns, so that a
  // device plugged in right after registering is not missed.
  bool Connect() {
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0) return false;
    std::lock_guard<std::mutex> lock(UdevLock());
    m_udev = udev_new();
    if (!m_udev) return false;
    // The "udev" group, not "kernel": udev announces a node once its rules
    // have run, so the node's permissions are final when the notice arrives
    // and the search it triggers can open it.
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor) return false;
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr) < 0)
      return false;
    return udev_monitor_enable_receiving(m_monitor) >= 0;
  }

  void Run() {
    int monitorFd = -1;
    {
      std::lock_guard<std::mutex> lock(UdevLock());
      monitorFd = udev_monitor_get_fd(m_monitor);
    }
    for (;;) {
      pollfd fds[2] = {{monitorFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;  // no notices from here on; discovery still works
      }
      if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0) return;
      if (fds[0].revents == 0) continue;
      if (const std::optional<DeviceChange> change = ReceiveEvent()) m_bus.Deliver(this, *change);
    }
  }

  // The notice for the next event of the monitor; none for events that need none.
  std::optional<DeviceChange> ReceiveEvent() {
    std::lock_guard<std::mutex> lock(UdevLock());
    // POLLERR (the socket's queue overflowed) is cleared by the receive too.
    udev_device* device = udev_monitor_receive_device(m_monitor);
    if (!device) return std::nullopt;
    const char* action = udev_device_get_action(device);
    std::optional<DeviceChange> change;
    if (action && std::strcmp(action, "add") == 0) change = DeviceChange::kArrival;
    if (action && std::strcmp(action, "remove") == 0) change = DeviceChange::kRemoval;
    udev_device_unref(device);
    return change;
  }

  HidrawBus& m_bus;
  udev* m_udev = nullptr;
  udev_monitor* m_monitor = nullptr;
  int m_stopFd = -1;
  std::thread m_thread;
};

HidrawBus::HidrawBus(IClock& clock) : m_clock(clock) {}

HidrawBus::~HidrawBus() {
  std::unique_ptr<Watcher> stopping;
  {
    std::lock_guard<std::mutex> lock(m_notifyLock);
    m_targets.clear();
    stopping = std::move(m_watcher);
  }
  // Joined without the lock: the thread may be waiting for it to deliver.
  stopping.reset();
}

std::vector<std::string> HidrawBus::EnumerateInterfaces() {
  std::vector<std::string> paths;
  for (HidDeviceInfo& device : ListHidrawDevices()) paths.push_back(std::move(device.path));
  return paths;
}

std::vector<HidDeviceInfo> HidrawBus::EnumerateDevices() { return ListHidrawDevices(); }

HidHandle HidrawBus::Open(const std::string& path, HidOpenMode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case HidOpenMode::kProbeReadWrite:
      flags |= O_RDWR;
      break;
    case HidOpenMode::kWriteSync:
      flags |= O_WRONLY;
      break;
    case HidOpenMode::kReadOverlapped:
      flags |= O_RDONLY | O_NONBLOCK;
      break;
  }
  auto file = std::make_shared<OpenFile>();
  file->fd = ::open(path.c_str(), flags);
  if (file->fd < 0) return kInvalidHidHandle;

  Handle handle;
  handle.mode = mode;
  if (mode != HidOpenMode::kWriteSync) {
    // A handle that reads must know the report format before its first read;
    // a node that does not tell it cannot be read correctly.
    if (!ReadsCarryReportId(file->fd, handle.numbered)) return kInvalidHidHandle;
    file->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (file->wakeFd < 0) return kInvalidHidHandle;
  }
  handle.file = std::move(file);

  std::lock_guard<std::mutex> lock(m_handleLock);
  const HidHandle id = m_nextHandle++;
  m_handles.emplace(id, std::move(handle));
  return id;
}

bool HidrawBus::Find(HidHandle handle, Handle& out) {
  std::lock_guard<std::mutex> lock(m_handleLock);
  auto it = m_handles.find(handle);
  if (it == m_handles.end()) return false;
  out = it->second;
  return true;
}

bool HidrawBus::GetAttributes(HidHandle handle, HidAttributes& out) {
  Handle h;
  if (!Find(handle, h)) {
    errno = EBADF;
    return false;
  }
  hidraw_devinfo info{};
  if (::ioctl(h.file->fd, HIDIOCGRAWINFO, &info) < 0) return false;
  out.vendorId = static_cast<uint16_t>(info.vendor);
  out.productId = static_cast<uint16_t>(info.product);
  // hidraw does not give the device's release number; nothing here uses it.
  out.versionNumber = 0;
  return true;
}

bool HidrawBus::WriteReport(HidHandle handle, const uint8_t* report, size_t size) {
  Handle h;
  if (!Find(handle, h) || h.mode == HidOpenMode::kReadOverlapped) {
    errno = EBADF;
    return false;
  }
  if (!report || size == 0) {
    errno = EINVAL;
    return false;
  }
  ssize_t written;
  do {
    written = ::write(h.file->fd, report, size);
  } while (written < 0 && errno == EINTR);
  if (written < 0) return false;
  if (static_cast<size_t>(written) != size) {
    // hidraw sends a report whole or not at all; part of one is a broken device.
    errno = EIO;
    return false;
  }
  return true;
}

HidReadResult HidrawBus::ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                                    uint32_t timeoutMs) {
  Handle h;
  if (!Find(handle, h) || h.mode == HidOpenMode::kWriteSync) {
    errno = EBADF;
    return {HidRead::kGone, 0};
  }
  // Room for the report ID that goes in front, and at least one byte to read.
  const size_t idBytes = h.numbered ? 0 : 1;
  if (!buffer || size <= idBytes) {
    errno = EINVAL;
    return {HidRead::kGone, 0};
  }

  const uint64_t deadline = m_clock.NowMs() + timeoutMs;
  uint64_t remaining = timeoutMs;
  for (;;) {
    pollfd fds[2] = {{h.file->fd, POLLIN, 0}, {h.file->wakeFd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, PollTimeout(remaining));
    if (ready == 0) return {HidRead::kTimedOut, 0};
    if (ready < 0 && errno != EINTR) return {HidRead::kGone, 0};
    if (ready > 0) {
      if (fds[1].revents != 0) {
        // Closed under the read: the read is cancelled, as on the other platforms.
        errno = EBADF;
        return {HidRead::kGone, 0};
      }
      // Reports queued before an unplug are still handed out (POLLIN comes
      // with them); only an empty queue on a vanished device fails.
      if ((fds[0].revents & POLLIN) == 0) {
        errno = (fds[0].revents & POLLNVAL) != 0 ? EBADF : ENODEV;
        return {HidRead::kGone, 0};
      }
      const ssize_t got = ::read(h.file->fd, buffer + idBytes, size - idBytes);
      if (got > 0) {
        if (idBytes != 0) buffer[0] = 0x00;
        return {HidRead::kReport, static_cast<size_t>(got) + idBytes};
      }
      if (got == 0) {
        errno = ENODEV;
        return {HidRead::kGone, 0};
      }
      // EAGAIN: another reader of the node took the report; wait again.
      if (errno != EAGAIN && errno != EINTR) return {HidRead::kGone, 0};
    }
    const uint64_t now = m_clock.NowMs();
    if (now >= deadline) return {HidRead::kTimedOut, 0};
    remaining = deadline - now;
  }
}

void HidrawBus::Close(HidHandle handle) {
  std::shared_ptr<OpenFile> file;
  {
    std::lock_guard<std::mutex> lock(m_handleLock);
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return;
    file = std::move(it->second.file);
    m_handles.erase(it);
  }
  if (file->wakeFd >= 0) SignalEventFd(file->wakeFd);
  // The node closes here, or when a read or write still running on it returns.
}

NotifyHandle HidrawBus::RegisterNotify(IDeviceNotifyTarget& target) {
  std::lock_guard<std::mutex> lock(m_notifyLock);
  if (!m_watcher) m_watcher = Watcher::Start(*this);
  const NotifyHandle id = m_nextNotify++;
  m_targets.emplace(id, &target);
  return id;
}

void HidrawBus::UnregisterNotify(NotifyHandle handle) {
  std::unique_ptr<Watcher> stopping;
  {
    std::lock_guard<std::mutex> lock(m_notifyLock);
    if (m_targets.erase(handle) == 0) return;
    if (m_targets.empty()) stopping = std::move(m_watcher);
  }
  // Joined without the lock: the thread may be waiting for it to deliver.
  stopping.reset();
}

bool HidrawBus::IsWatching() {
  std::lock_guard<std::mutex> lock(m_notifyLock);
  return m_watcher != nullptr;
}

void HidrawBus::Deliver(const Watcher* from, DeviceChange change) {
  std::lock_guard<std::mutex> lock(m_notifyLock);
  // A watcher on its way out (its last target went) has nobody to tell.
  if (m_watcher.get() != from) return;
  for (auto& [id, target] : m_targets) target->PostDeviceChange(change);
}

std::optional<unsigned> HidrawNodeNumber(const std::string& devnode) {
  static constexpr char kPrefix[] = "hidraw";
  const size_t slash = devnode.rfind('/');
  const std::string name = slash == std::string::npos ? devnode : devnode.substr(slash + 1);
  const size_t prefixLength = sizeof kPrefix - 1;
  if (name.size() <= prefixLength || name.compare(0, prefixLength, kPrefix) != 0)
    return std::nullopt;
  unsigned number = 0;
  for (size_t i = prefixLength; i < name.size(); ++i) {
    const char c = name[i];
    if (c < '0' || c > '9' || number > (UINT_MAX - 9) / 10) return std::nullopt;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  return number;
}

bool ParseHidId(const char* value, uint16_t& vendorId, uint16_t& productId) {
  if (!value) return false;
  unsigned bus = 0, vendor = 0, product = 0;
  int consumed = 0;
  if (std::sscanf(value, "%x:%x:%x%n", &bus, &vendor, &product, &consumed) != 3) return false;
  if (value[consumed] != '\0' || vendor > 0xFFFF || product > 0xFFFF) return false;
  vendorId = static_cast<uint16_t>(vendor);
  productId = static_cast<uint16_t>(product);
  return true;
}

namespace {

// A property of `device`; empty when it has none.
std::string Property(udev_device* device, const char* name) {
  const char* value = device ? udev_device_get_property_value(device, name) : nullptr;
  return value ? value : "";
}

std::string Attribute(udev_device* device, const char* name) {
  const char* value = device ? udev_device_get_sysattr_value(device, name) : nullptr;
  return value ? value : "";
}

bool ParseHexId(const std::string& text, uint16_t& id) {
  unsigned value = 0;
  int consumed = 0;
  if (text.empty() || std::sscanf(text.c_str(), "%x%n", &value, &consumed) != 1 ||
      static_cast<size_t>(consumed) != text.size() || value > 0xFFFF) {
    return false;
  }
  id = static_cast<uint16_t>(value);
  return true;
}

// What udev knows of one hidraw node (the parents are owned by `node`).
HidDeviceInfo DescribeHidrawNode(udev_device* node, const char* devnode) {
  HidDeviceInfo info;
  info.path = devnode;
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr);
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
  if (hid) {
    info.idsKnown =
        ParseHidId(udev_device_get_property_value(hid, "HID_ID"), info.vendorId, info.productId);
  }
  if (!info.idsKnown && usb) {
    info.idsKnown = ParseHexId(Attribute(usb, "idVendor"), info.vendorId) &&
                    ParseHexId(Attribute(usb, "idProduct"), info.productId);
  }
  info.location = Property(node, "ID_PATH");
  if (info.location.empty()) info.location = Property(usb, "ID_PATH");
  if (info.location.empty() && usb) {
    const std::string bus = Attribute(usb, "busnum");
    const std::string ports = Attribute(usb, "devpath");
    if (!bus.empty() && !ports.empty()) info.location = "usb-" + bus + "-" + ports;
  }
  info.serial = Property(hid, "HID_UNIQ");
  return info;
}

}  // namespace

std::vector<HidDeviceInfo> ListHidrawDevices() {
  std::vector<HidDeviceInfo> devices;
  std::unique_lock<std::mutex> lock(UdevLock());
  udev* context = udev_new();
  if (!context) return devices;
  udev_enumerate* enumeration = udev_enumerate_new(context);
  if (enumeration && udev_enumerate_add_match_subsystem(enumeration, "hidraw") >= 0 &&
      udev_enumerate_scan_devices(enumeration) >= 0) {
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
      udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
      if (!device) continue;
      if (const char* devnode = udev_device_get_devnode(device)) {
        devices.push_back(DescribeHidrawNode(device, devnode));
      }
      udev_device_unref(device);
    }
  }
  if (enumeration) udev_enumerate_unref(enumeration);
  udev_unref(context);
  lock.unlock();

  // udev lists in sysfs order, in which hidraw10 comes before hidraw2.
  std::stable_sort(devices.begin(), devices.end(), [](const HidDeviceInfo& a, const HidDeviceInfo& b) {
    const std::optional<unsigned> na = HidrawNodeNumber(a.path);
    const std::optional<unsigned> nb = HidrawNodeNumber(b.path);
    if (na && nb && *na != *nb) return *na < *nb;
    if (na.has_value() != nb.has_value()) return na.has_value();
    return a.path < b.path;
  });
  return devices;
}

std::vector<HidrawNode> ListHidrawNodes() {
  std::vector<HidrawNode> nodes;
  for (HidDeviceInfo& device : ListHidrawDevices()) {
    nodes.push_back({std::move(device.path), device.vendorId, device.productId, device.idsKnown});
  }
  return nodes;
}

bool HidrawPermissionDenied(const std::vector<HidrawNode>& nodes,
                            const std::vector<HidDeviceId>& wanted,
                            const std::function<int(const std::string&)>& openError) {
  bool denied = false;
  for (const HidrawNode& node : nodes) {
    if (!node.idsKnown) continue;
    const bool isWanted = std::any_of(wanted.begin(), wanted.end(), [&](const HidDeviceId& id) {
      return id.vendorId == node.vendorId && id.productId == node.productId;
    });
    if (!isWanted) continue;
    const int error = openError(node.devnode);
    if (error == 0) return false;
    if (error == EACCES || error == EPERM) denied = true;
  }
  return denied;
}

bool HidrawPermissionDenied(const std::vector<HidDeviceId>& wanted) {
  return HidrawPermissionDenied(ListHidrawNodes(), wanted, [](const std::string& devnode) {
    const int fd = ::open(devnode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
  });
}

}  // namespace tarvik
