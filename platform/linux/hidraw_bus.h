// The HID bus on Linux: hidraw device nodes, found and watched through libudev.
//
// Reports cross this bus as the engine frames them, report ID first. hidraw
// takes writes in that form, but leaves the report ID out of reads from
// devices whose report descriptor declares no report IDs; for those, reads get
// a 0x00 put in front, so that the engine sees the same bytes on every platform.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/hid_bus.h"

namespace tarvik {

class HidrawBus final : public IHidBus {
 public:
  // `clock` measures what is left of a read's time-out after an interrupted
  // wait; the waits themselves are poll()'s.
  explicit HidrawBus(IClock& clock);
  ~HidrawBus() override;
  HidrawBus(const HidrawBus&) = delete;
  HidrawBus& operator=(const HidrawBus&) = delete;

  // IHidBus. Failures leave errno set (the system seam's LastErrorCode reads it).
  std::vector<std::string> EnumerateInterfaces() override;
  // IDs, location and serial number from udev: no node is opened.
  std::vector<HidDeviceInfo> EnumerateDevices() override;
  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  bool GetAttributes(HidHandle handle, HidAttributes& out) override;
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) override;
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                           uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  // Notices come from a udev monitor thread. When no monitor can be had (no
  // netlink access, say, in a container), registration still succeeds: the
  // engine takes a failed registration as final, and discovery on start and on
  // a button press works without notices. A registration made while no
  // monitor runs tries again.
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override;
  void UnregisterNotify(NotifyHandle handle) override;

  // Whether the hotplug monitor runs (it runs while registrations exist and
  // udev could give one).
  bool IsWatching();

 private:
  struct OpenFile;
  struct Handle {
    std::shared_ptr<OpenFile> file;
    HidOpenMode mode = HidOpenMode::kProbeReadWrite;
    bool numbered = false;
  };
  class Watcher;

  bool Find(HidHandle handle, Handle& out);
  void Deliver(const Watcher* from, DeviceChange change);

  IClock& m_clock;

  std::mutex m_handleLock;
  std::map<HidHandle, Handle> m_handles;
  HidHandle m_nextHandle = 1;  // never reused: a stale handle finds nothing

  // Held while notices are delivered, so that once UnregisterNotify returns its
  // target gets no further call.
  std::mutex m_notifyLock;
  std::map<NotifyHandle, IDeviceNotifyTarget*> m_targets;
  NotifyHandle m_nextNotify = 1;
  std::unique_ptr<Watcher> m_watcher;
};

// Sort key of a hidraw node: N of /dev/hidrawN; nullopt for other names.
std::optional<unsigned> HidrawNodeNumber(const std::string& devnode);

// A hidraw node as udev describes it, with the IDs of the HID device it
// belongs to (from udev, so without opening the node).
struct HidrawNode {
  std::string devnode;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool idsKnown = false;
};

// The hidraw nodes present now, in the order EnumerateInterfaces gives them.
std::vector<HidrawNode> ListHidrawNodes();

// The same nodes as EnumerateDevices gives them, all from udev: the IDs from
// the HID device's HID_ID (else the USB device's idVendor and idProduct); the
// location from udev's ID_PATH of the node (else of its USB device), else
// "usb-BUS-PORTS" from the USB device's bus number and devpath, else empty
// (a device on no USB port, such as a uhid one); the serial number from the
// HID device's HID_UNIQ.
std::vector<HidDeviceInfo> ListHidrawDevices();

// HID_ID of a HID device: "bus:vendor:product" in hex ("0003:00005A3C:00007E21").
bool ParseHidId(const char* value, uint16_t& vendorId, uint16_t& productId);

struct HidDeviceId {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

// Whether one of the `wanted` devices is present but may not be opened: open()
// fails with EACCES or EPERM, and no other wanted device opens (with one that
// opens, discovery has a device to work with). `openError` tries to open a
// node for reading and writing and returns 0 or the errno.
bool HidrawPermissionDenied(const std::vector<HidrawNode>& nodes,
                            const std::vector<HidDeviceId>& wanted,
                            const std::function<int(const std::string&)>& openError);
// The same on the nodes present now, with real open() calls.
bool HidrawPermissionDenied(const std::vector<HidDeviceId>& wanted);

// What to tell a user whom HidrawPermissionDenied refuses: access is denied,
// the udev rules file that grants it, and the two commands that install and
// load it. In Chinese for language id 2052 (the language of the Chinese
// texts), else in English. `rulesFile` is the file the install command copies.
std::string AccessDeniedHint(uint16_t languageId, const std::string& rulesFile);
// The same with the rules file FindUdevRulesFile() gives.
std::string AccessDeniedHint(uint16_t languageId = 1033);
// The title of a message box that shows the hint.
std::string AccessDeniedCaption(uint16_t languageId);

// The name of the rules file, as installed.
inline constexpr char kUdevRulesFileName[] = "70-tarvik-update.rules";

// Where the rules file to install lies: beside the program's installed tree
// (PREFIX/lib/udev/rules.d for PREFIX/bin/program), else in the system's
// rules directories, else in the source tree. `exists` tells whether a file
// exists; `programPath` is the running program's path.
std::string FindUdevRulesFile(const std::string& programPath,
                              const std::function<bool(const std::string&)>& exists);
// The same for this process.
std::string FindUdevRulesFile();

}  // namespace tarvik
