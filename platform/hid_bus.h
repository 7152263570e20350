// HID bus seam: what discovery and report transport need of the platform.
// One implementation per platform (SetupAPI/HID on Windows, hidraw on Linux)
// and a simulated one. Calls may come from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvik {

using HidHandle = std::intptr_t;
inline constexpr HidHandle kInvalidHidHandle = -1;

using NotifyHandle = std::intptr_t;
inline constexpr NotifyHandle kNoNotifyHandle = 0;

// What a report read brought.
enum class HidRead : uint8_t {
  kReport,    // a report arrived
  kTimedOut,  // none came within the time allowed
  kGone,      // the device is gone or unusable, or the handle is not one to read
};

// A change of the devices present, as the system or a bus tells it.
enum class DeviceChange : uint8_t {
  kArrival,       // an interface arrived
  kRemoval,       // an interface was removed
  kNodesChanged,  // something changed and the system does not say what
};

enum class HidOpenMode {
  kProbeReadWrite,  // read and write, overlapped: discovery's probe
  kWriteSync,       // write only, synchronous
  kReadOverlapped,  // read only, asynchronous reads
};

struct HidAttributes {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
};

// One HID interface as the bus enumerates it, with what the platform can tell
// of it without opening it.
struct HidDeviceInfo {
  std::string path;  // what Open takes
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  // Where the device is plugged in (a port, a location path), the same for
  // each of its interfaces and when it comes back under another path after a
  // reset; empty when the platform does not tell it.
  std::string location;
  std::string serial;  // the device's serial number; empty when it has none
  // False: the bus could not tell the IDs without opening the interface; they
  // are read with Open and GetAttributes.
  bool idsKnown = false;
};

// The paths of `devices`, in their order: EnumerateInterfaces of a bus that
// lists its devices whole.
inline std::vector<std::string> PathsOf(const std::vector<HidDeviceInfo>& devices) {
  std::vector<std::string> paths;
  paths.reserve(devices.size());
  for (const HidDeviceInfo& device : devices) paths.push_back(device.path);
  return paths;
}

struct HidReadResult {
  HidRead status = HidRead::kGone;
  size_t bytes = 0;  // bytes that arrived (report ID included); 0 unless a report
};

// Receives device-change events. The window host implements it and hands each
// event to the window on the user-interface thread; PostDeviceChange itself
// may be called from any thread and does not wait.
class IDeviceNotifyTarget {
 public:
  virtual ~IDeviceNotifyTarget() = default;
  virtual void PostDeviceChange(DeviceChange change) = 0;
};

class IHidBus {
 public:
  virtual ~IHidBus() = default;

  // Paths of the HID interfaces present now, in the platform's enumeration order.
  virtual std::vector<std::string> EnumerateInterfaces() = 0;
  // The same interfaces, in the same order, with their IDs where the platform
  // can tell them without opening the interface for reading and writing, and
  // their location and serial number where it has them. Discovery opens only
  // what this says may be a supported controller.
  virtual std::vector<HidDeviceInfo> EnumerateDevices() = 0;
  // Opens a path, always shared for reading and writing. kInvalidHidHandle on failure.
  virtual HidHandle Open(const std::string& path, HidOpenMode mode) = 0;
  // Vendor and product ID of an opened device; false when they cannot be read.
  virtual bool GetAttributes(HidHandle handle, HidAttributes& out) = 0;
  // Writes one whole output report (report ID first), blocking until the
  // platform took it; a device that takes nothing fails the write within about 1 s.
  virtual bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) = 0;
  // The same write, and when the platform took the report, in microseconds of
  // the clock the bus runs on; 0 when the bus cannot tell. A bus whose writes
  // return when the report is taken has nothing to tell: the caller's clock
  // after the return is that moment.
  virtual bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) {
    takenUs = 0;
    return WriteReport(handle, report, size);
  }
  // Reads one input report (report ID first) into `buffer`, waiting at most
  // `timeoutMs`; a read that times out is cancelled before this returns.
  virtual HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                                   uint32_t timeoutMs) = 0;
  virtual void Close(HidHandle handle) = 0;

  // Arrival and removal notices of HID interfaces for `target`. kNoNotifyHandle on failure.
  virtual NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) = 0;
  virtual void UnregisterNotify(NotifyHandle handle) = 0;
};

}  // namespace tarvik
