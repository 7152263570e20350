#include "platform/win32/setupapi_hid_bus.h"

#include "platform/win32/win32_api.h"

#include <cfgmgr32.h>
#include <dbt.h>
#include <setupapi.h>

#include <algorithm>
#include <cwctype>
#include <unordered_map>

// MinGW's HID header lacks C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

#include <future>
#include <thread>
#include <utility>

#include "platform/win32/interface_detail.h"
#include "platform/win32/utf16.h"

namespace tarvik::win32 {

namespace {

HANDLE ToHandle(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }

GUID HidClassGuid() {
  GUID guid;
  HidD_GetHidGuid(&guid);
  return guid;
}

// Keeps the thread's last error across clean-up calls, so that the caller
// reads the error of the call that failed.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : m_error(::GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(m_error); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD m_error;
};

class Event {
 public:
  Event() : m_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() {
    if (m_handle) {
      LastErrorKeeper keep;
      CloseHandle(m_handle);
    }
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE Get() const { return m_handle; }

 private:
  HANDLE m_handle;
};

// The notice window's own message: its thread ends.
constexpr UINT kMsgStopNotices = WM_APP + 1;

}  // namespace

// A message-only window registered for arrivals and removals of HID
// interfaces, and the thread that takes its messages and nothing else: the
// notices reach targets whatever loop, if any, their own threads run.
class SetupApiHidBus::NoticeWindow {
 public:
  // nullptr when the window or its registration cannot be had.
  static std::unique_ptr<NoticeWindow> Start(SetupApiHidBus& bus) {
    std::unique_ptr<NoticeWindow> notices(new NoticeWindow(bus));
    std::promise<HWND> ready;
    std::future<HWND> window = ready.get_future();
    NoticeWindow* running = notices.get();
    notices->m_thread = std::thread([running, ready = std::move(ready)]() mutable { running->Run(ready); });
    // Registered before this returns: a device plugged in right after
    // registering is not missed.
    notices->m_window = window.get();
    if (!notices->m_window) {
      notices->m_thread.join();
      return nullptr;
    }
    return notices;
  }

  NoticeWindow(const NoticeWindow&) = delete;
  NoticeWindow& operator=(const NoticeWindow&) = delete;

  ~NoticeWindow() {
    if (!m_thread.joinable()) return;
    if (m_window) PostMessageW(m_window, kMsgStopNotices, 0, 0);
    m_thread.join();
  }

 private:
  explicit NoticeWindow(SetupApiHidBus& bus) : m_bus(bus) {}

  void Run(std::promise<HWND>& ready) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &NoticeWindow::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kNoticeWindowClass;
    // A second bus in the same process finds the class registered already.
    if (!RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      ready.set_value(nullptr);
      return;
    }
    const HWND window = CreateWindowExW(0, kNoticeWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, GetModuleHandleW(nullptr), this);
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = HidClassGuid();
    const HDEVNOTIFY notify =
        window ? RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE) : nullptr;
    if (!notify) {
      if (window) DestroyWindow(window);
      ready.set_value(nullptr);
      return;
    }
    ready.set_value(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    UnregisterDeviceNotification(notify);
    DestroyWindow(window);
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* notices = reinterpret_cast<NoticeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == kMsgStopNotices) {
      PostQuitMessage(0);
      return 0;
    }
    if (message == WM_DEVICECHANGE && notices) {
      notices->OnDeviceChange(wParam, lParam);
      return TRUE;  // a query to remove a device is granted
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  void OnDeviceChange(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    m_bus.Deliver(this, event == DBT_DEVICEARRIVAL ? DeviceChange::kArrival : DeviceChange::kRemoval);
  }

  SetupApiHidBus& m_bus;
  HWND m_window = nullptr;
  std::thread m_thread;
};

SetupApiHidBus::SetupApiHidBus() = default;

SetupApiHidBus::~SetupApiHidBus() {
  std::unique_ptr<NoticeWindow> stopping;
  {
    std::lock_guard<std::mutex> lock(m_notifyLock);
    m_targets.clear();
    stopping = std::move(m_notices);
  }
  // Joined without the lock: the notice thread may be waiting for it to deliver.
  stopping.reset();
  for (const auto& [handle, overlapped] : m_openHandles) CloseHandle(ToHandle(handle));
}

namespace {

struct InterfaceEntry {
  std::wstring path;
  DEVINST node = 0;  // the device node the interface belongs to
};

std::vector<InterfaceEntry> ListInterfaces() {
  GUID hidGuid = HidClassGuid();
  const HDEVINFO set =
      SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return {};

  SP_DEVICE_INTERFACE_DATA interfaceData{};
  std::unordered_map<std::wstring, DEVINST> nodes;
  const NextInterface next = [&](uint32_t index) {
    interfaceData = SP_DEVICE_INTERFACE_DATA{};
    interfaceData.cbSize = sizeof interfaceData;
    return SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData) != FALSE;
  };
  const ReadDetail detail = [&](uint8_t* buffer, size_t size, size_t& required,
                                std::wstring& path) {
    auto* data = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
    if (data) data->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    DWORD needed = 0;
    if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, data, static_cast<DWORD>(size),
                                         &needed, &device)) {
      path = data->DevicePath;
      nodes[path] = device.DevInst;
      return DetailResult::kOk;
    }
    required = needed;
    return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? DetailResult::kTooSmall
                                                         : DetailResult::kFailed;
  };
  const std::vector<std::wstring> paths = CollectInterfacePaths(next, detail);
  SetupDiDestroyDeviceInfoList(set);

  std::vector<InterfaceEntry> entries;
  entries.reserve(paths.size());
  for (const std::wstring& path : paths) entries.push_back({path, nodes[path]});
  return entries;
}

// A string property of a device node (the first of a list); empty when it has none.
std::wstring NodeString(DEVINST node, ULONG property) {
  wchar_t buffer[512] = {};
  ULONG type = 0;
  ULONG size = sizeof buffer - sizeof(wchar_t);  // the last character stays a terminator
  if (CM_Get_DevNode_Registry_PropertyW(node, property, &type, buffer, &size, 0) != CR_SUCCESS) {
    return {};
  }
  if (type != REG_SZ && type != REG_MULTI_SZ) return {};
  return buffer;
}

std::string LocationOf(DEVINST node) {
  if (node == 0) return {};
  // A HID collection's node seldom has a location path; the USB device or
  // interface it belongs to has one.
  std::wstring location = NodeString(node, CM_DRP_LOCATION_PATHS);
  DEVINST parent = 0;
  if (location.empty() && CM_Get_Parent(&parent, node, 0) == CR_SUCCESS) {
    location = NodeString(parent, CM_DRP_LOCATION_PATHS);
  }
  if (location.empty()) {
    location = NodeString(node, CM_DRP_BASE_CONTAINERID);
    // The container of devices that belong to no physical one says nothing.
    std::wstring upper = location;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    if (upper == L"{00000000-0000-0000-FFFF-FFFFFFFFFFFF}") location.clear();
  }
  return WideToUtf8(location);
}

HidDeviceInfo DescribeInterface(const InterfaceEntry& entry) {
  HidDeviceInfo info;
  info.path = WideToUtf8(entry.path);
  info.location = LocationOf(entry.node);
  const HANDLE handle = CreateFileW(entry.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return info;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (HidD_GetAttributes(handle, &attributes)) {
    info.vendorId = attributes.VendorID;
    info.productId = attributes.ProductID;
    info.idsKnown = true;
  }
  // A USB string holds at most 126 characters; the last one here stays a terminator.
  wchar_t serial[128] = {};
  if (HidD_GetSerialNumberString(handle, serial, sizeof serial - sizeof(wchar_t))) {
    info.serial = WideToUtf8(serial);
  }
  CloseHandle(handle);
  return info;
}

}  // namespace

std::vector<std::string> SetupApiHidBus::EnumerateInterfaces() {
  std::vector<std::string> paths;
  for (const InterfaceEntry& entry : ListInterfaces()) paths.push_back(WideToUtf8(entry.path));
  return paths;
}

std::vector<HidDeviceInfo> SetupApiHidBus::EnumerateDevices() {
  std::vector<HidDeviceInfo> devices;
  for (const InterfaceEntry& entry : ListInterfaces()) devices.push_back(DescribeInterface(entry));
  return devices;
}

HidHandle SetupApiHidBus::Open(const std::string& path, HidOpenMode mode) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  // Every handle is overlapped, the write handle too: a write then waits with
  // a bound instead of blocking for ever on a controller that takes no reports.
  const DWORD flags = FILE_FLAG_OVERLAPPED;
  if (mode == HidOpenMode::kWriteSync) {
    access = GENERIC_WRITE;
  } else if (mode == HidOpenMode::kReadOverlapped) {
    access = GENERIC_READ;
  }
  const HANDLE handle =
      CreateFileW(Utf8ToWide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidHidHandle;
  const HidHandle result = reinterpret_cast<HidHandle>(handle);
  std::lock_guard<std::mutex> lock(m_lock);
  m_openHandles[result] = true;
  return result;
}

bool SetupApiHidBus::IsOverlapped(HidHandle handle) {
  std::lock_guard<std::mutex> lock(m_lock);
  const auto it = m_openHandles.find(handle);
  return it != m_openHandles.end() && it->second;
}

bool SetupApiHidBus::GetAttributes(HidHandle handle, HidAttributes& out) {
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (!HidD_GetAttributes(ToHandle(handle), &attributes)) return false;
  out.vendorId = attributes.VendorID;
  out.productId = attributes.ProductID;
  out.versionNumber = attributes.VersionNumber;
  return true;
}

bool SetupApiHidBus::WriteReport(HidHandle handle, const uint8_t* report, size_t size) {
  if (size > MAXDWORD) return false;
  const DWORD length = static_cast<DWORD>(size);
  const HANDLE file = ToHandle(handle);
  // A HID write takes the whole report or fails: its success is the call's
  // own. The count it gives back is not the report's size on every stack:
  // Wine's HID stack gives another count for the numbered reports of report
  // mode 1, and a check of it failed every write there.
  DWORD written = 0;
  if (!IsOverlapped(handle)) return WriteFile(file, report, length, &written, nullptr) != FALSE;
  Event done;
  if (!done.Get()) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = done.Get();
  if (!WriteFile(file, report, length, nullptr, &overlapped) && ::GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  if (WaitForSingleObject(done.Get(), kWriteTimeoutMs) != WAIT_OBJECT_0) {
    // The controller takes no reports: the write is cancelled and waited for,
    // so that `report` and `overlapped` outlive it, and it counts as failed.
    CancelIo(file);
    GetOverlappedResult(file, &overlapped, &written, TRUE);
    SetLastError(ERROR_TIMEOUT);
    return false;
  }
  return GetOverlappedResult(file, &overlapped, &written, FALSE) != FALSE;
}

HidReadResult SetupApiHidBus::ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                                         uint32_t timeoutMs) {
  if (size > MAXDWORD) return {HidRead::kGone, 0};
  const HANDLE file = ToHandle(handle);
  // Each read has its own event: reads from two threads (the timer's and the
  // worker's) never wake each other.
  Event done;
  if (!done.Get()) return {HidRead::kGone, 0};
  OVERLAPPED overlapped{};
  overlapped.hEvent = done.Get();

  if (!ReadFile(file, buffer, static_cast<DWORD>(size), nullptr, &overlapped) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    return {HidRead::kGone, 0};
  }
  const DWORD wait = WaitForSingleObject(done.Get(), timeoutMs);
  DWORD received = 0;
  if (wait == WAIT_OBJECT_0) {
    if (!GetOverlappedResult(file, &overlapped, &received, FALSE)) return {HidRead::kGone, 0};
    return {HidRead::kReport, received};
  }
  // The read is still under way: it must end before `buffer` and `overlapped`
  // go out of scope, so it is cancelled and waited for.
  {
    LastErrorKeeper keep;
    CancelIo(file);
  }
  const bool completed = GetOverlappedResult(file, &overlapped, &received, TRUE) != FALSE;
  if (wait != WAIT_TIMEOUT) return {HidRead::kGone, 0};
  // A report that arrived while the read was being cancelled is kept, not lost.
  if (completed) return {HidRead::kReport, received};
  return {HidRead::kTimedOut, 0};
}

void SetupApiHidBus::Close(HidHandle handle) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_openHandles.erase(handle) == 0) return;
  }
  CloseHandle(ToHandle(handle));
}

NotifyHandle SetupApiHidBus::RegisterNotify(IDeviceNotifyTarget& target) {
  std::lock_guard<std::mutex> lock(m_notifyLock);
  if (!m_notices) m_notices = NoticeWindow::Start(*this);
  if (!m_notices) return kNoNotifyHandle;
  const NotifyHandle id = m_nextNotify++;
  m_targets.emplace(id, &target);
  return id;
}

void SetupApiHidBus::UnregisterNotify(NotifyHandle handle) {
  std::unique_ptr<NoticeWindow> stopping;
  {
    std::lock_guard<std::mutex> lock(m_notifyLock);
    if (m_targets.erase(handle) == 0) return;
    if (m_targets.empty()) stopping = std::move(m_notices);
  }
  // Joined without the lock: the notice thread may be waiting for it to deliver.
  stopping.reset();
}

void SetupApiHidBus::Deliver(const NoticeWindow* from, DeviceChange change) {
  std::lock_guard<std::mutex> lock(m_notifyLock);
  // A window on its way out (its last target went) has nobody to tell.
  if (m_notices.get() != from) return;
  for (auto& [id, target] : m_targets) target->PostDeviceChange(change);
}

}  // namespace tarvik::win32
