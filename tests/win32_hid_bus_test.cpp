// The SetupAPI bus: the buffer sizing of the interface list, and the real
// HID stack. Under Wine the stack has two virtual devices of its own (vendor
// 0x845E, a mouse and a keyboard) that send nothing unless input arrives.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "res/text_table.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "platform/std/steady_clock.h"
#include "platform/win32/interface_detail.h"
#include "platform/win32/setupapi_hid_bus.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_api.h"
#include "tests/support/fake_system.h"

#include <dbt.h>

namespace tarvik::win32 {
namespace {

// Interfaces whose detail is its path as UTF-16 plus a 4-byte header, as the
// SetupAPI structure is laid out; a path may change size between asks.
class FakeInterfaces {
 public:
  explicit FakeInterfaces(std::vector<std::wstring> paths) : m_paths(std::move(paths)) {}

  NextInterface Next() {
    return [this](uint32_t index) {
      m_current = index;
      return index < m_paths.size();
    };
  }
  ReadDetail Detail() {
    return [this](uint8_t* buffer, size_t size, size_t& required, std::wstring& path) {
      ++asks[m_current];
      sizes.push_back(size);
      auto grow = m_growOnEveryAsk.find(m_current);
      if (grow != m_growOnEveryAsk.end()) m_paths[m_current] += L"x";
      const std::wstring& current = m_paths[m_current];
      if (m_broken.count(m_current)) return DetailResult::kFailed;
      const size_t needed = 4 + (current.size() + 1) * sizeof(wchar_t);
      if (size < needed) {
        required = needed;
        return DetailResult::kTooSmall;
      }
      EXPECT_NE(buffer, nullptr);
      path = current;
      return DetailResult::kOk;
    };
  }
  void GrowOnEveryAsk(uint32_t index) { m_growOnEveryAsk[index] = true; }
  void Break(uint32_t index) { m_broken[index] = true; }

  std::map<uint32_t, int> asks;
  std::vector<size_t> sizes;

 private:
  std::vector<std::wstring> m_paths;
  uint32_t m_current = 0;
  std::map<uint32_t, bool> m_growOnEveryAsk;
  std::map<uint32_t, bool> m_broken;
};

TEST(InterfaceListTest, BufferIsSizedOnceWhenNoPathIsLonger) {
  FakeInterfaces interfaces({L"\\\\?\\hid#a", L"\\\\?\\hid#b", L"\\\\?\\hid#"});
  const auto paths = CollectInterfacePaths(interfaces.Next(), interfaces.Detail());
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"\\\\?\\hid#a", L"\\\\?\\hid#b", L"\\\\?\\hid#"}));
  // One size question, then one read per interface with the same buffer.
  const size_t size = 4 + 10 * sizeof(wchar_t);
  EXPECT_EQ(interfaces.sizes, (std::vector<size_t>{0, size, size, size}));
}

TEST(InterfaceListTest, LongerLaterPathGrowsTheBufferAndIsRead) {
  FakeInterfaces interfaces({L"short", L"a much longer interface path", L"mid"});
  const auto paths = CollectInterfacePaths(interfaces.Next(), interfaces.Detail());
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"short", L"a much longer interface path", L"mid"}));
  EXPECT_EQ(interfaces.asks[1], 2);
  EXPECT_EQ(interfaces.asks[2], 1);  // the grown buffer serves the rest
}

TEST(InterfaceListTest, PathThatKeepsGrowingIsRetriedOnceAndSkipped) {
  FakeInterfaces interfaces({L"first", L"second", L"third"});
  interfaces.GrowOnEveryAsk(1);
  const auto paths = CollectInterfacePaths(interfaces.Next(), interfaces.Detail());
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"first", L"third"}));
  EXPECT_EQ(interfaces.asks[1], 2);
}

TEST(InterfaceListTest, UnreadableInterfacesAreSkippedEvenTheFirst) {
  FakeInterfaces interfaces({L"gone", L"kept", L"also gone", L"kept too"});
  interfaces.Break(0);
  interfaces.Break(2);
  const auto paths = CollectInterfacePaths(interfaces.Next(), interfaces.Detail());
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"kept", L"kept too"}));
}

class SetupApiBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    paths = bus.EnumerateInterfaces();
    // Wine's own virtual devices are always there; a machine without any HID
    // device would have nothing to test against.
    ASSERT_FALSE(paths.empty());
  }
  // The first interface that opens in `mode`.
  HidHandle OpenAny(HidOpenMode mode) {
    for (const std::string& path : paths) {
      const HidHandle handle = bus.Open(path, mode);
      if (handle != kInvalidHidHandle) return handle;
    }
    ADD_FAILURE() << "no interface opens";
    return kInvalidHidHandle;
  }

  SetupApiHidBus bus;
  std::vector<std::string> paths;
};

TEST_F(SetupApiBusTest, EveryInterfaceOpensWithReadableAttributes) {
  for (const std::string& path : paths) {
    EXPECT_EQ(path.rfind("\\\\?\\hid#", 0), 0u) << path;
    const HidHandle probe = bus.Open(path, HidOpenMode::kProbeReadWrite);
    ASSERT_NE(probe, kInvalidHidHandle) << path;
    HidAttributes attributes;
    EXPECT_TRUE(bus.GetAttributes(probe, attributes)) << path;
    EXPECT_NE(attributes.vendorId, 0) << path;
    bus.Close(probe);
  }
}

TEST_F(SetupApiBusTest, DevicesComeInTheSameOrderWithTheIdsTheirAttributesGive) {
  const std::vector<HidDeviceInfo> devices = bus.EnumerateDevices();
  ASSERT_EQ(devices.size(), paths.size());
  for (size_t i = 0; i < devices.size(); ++i) {
    const HidDeviceInfo& device = devices[i];
    EXPECT_EQ(device.path, paths[i]);
    EXPECT_TRUE(device.idsKnown) << device.path;
    const HidHandle probe = bus.Open(device.path, HidOpenMode::kProbeReadWrite);
    ASSERT_NE(probe, kInvalidHidHandle) << device.path;
    HidAttributes attributes;
    EXPECT_TRUE(bus.GetAttributes(probe, attributes));
    EXPECT_EQ(device.vendorId, attributes.vendorId) << device.path;
    EXPECT_EQ(device.productId, attributes.productId) << device.path;
    bus.Close(probe);
  }
}

TEST_F(SetupApiBusTest, ReadTimesOutAndTheCancelledHandleStillReads) {
  const HidHandle read = OpenAny(HidOpenMode::kReadOverlapped);
  uint8_t buffer[65] = {};
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto start = std::chrono::steady_clock::now();
    const HidReadResult result = bus.ReadReport(read, buffer, sizeof buffer, 50);
    const auto waited = std::chrono::steady_clock::now() - start;
    SCOPED_TRACE(attempt);
    EXPECT_EQ(result.status, HidRead::kTimedOut);
    EXPECT_EQ(result.bytes, 0u);
    EXPECT_GE(waited, std::chrono::milliseconds(45));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
  }
  bus.Close(read);
}

TEST_F(SetupApiBusTest, ReadOnAWriteOnlyHandleFailsRatherThanWaits) {
  const HidHandle write = OpenAny(HidOpenMode::kWriteSync);
  uint8_t buffer[65] = {};
  const HidReadResult result = bus.ReadReport(write, buffer, sizeof buffer, 5000);
  EXPECT_EQ(result.status, HidRead::kGone);
  bus.Close(write);
}

TEST_F(SetupApiBusTest, FailedWriteLeavesItsErrorForTheCaller) {
  // The packet update traces GetLastError after a failed write.
  const HidHandle read = OpenAny(HidOpenMode::kReadOverlapped);
  const uint8_t report[65] = {0x00, 0x5A};
  SetLastError(0);
  EXPECT_FALSE(bus.WriteReport(read, report, sizeof report));
  EXPECT_NE(GetLastError(), 0u);
  bus.Close(read);
}

TEST_F(SetupApiBusTest, EngineSearchFindsNoControllerAmongOtherDevices) {
  SteadyClock clock;
  test::FakeSystem system(clock);
  CDiag diag(system);
  CHid hid(bus, diag);
  EXPECT_FALSE(hid.SearchDevice());
  EXPECT_FALSE(hid.IsDevicePresent());
}

// A target as the bus sees it: no window of its own, events kept.
class NoticeLog final : public IDeviceNotifyTarget {
 public:
  void PostDeviceChange(DeviceChange eventType) override { events.push_back(eventType); }
  std::vector<DeviceChange> events;
};

// This process's notice window. Other programs running beside the tests (the
// command line, the window) have message-only windows of the same class.
HWND OwnNoticeWindow() {
  HWND window = nullptr;
  while ((window = FindWindowExW(HWND_MESSAGE, window, SetupApiHidBus::kNoticeWindowClass, nullptr))) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) return window;
  }
  return nullptr;
}

// What the system sends the bus's notice window for a HID interface.
LRESULT SendInterfaceNotice(UINT event) {
  const HWND window = OwnNoticeWindow();
  if (!window) return -1;
  DEV_BROADCAST_DEVICEINTERFACE_W notice{};
  notice.dbcc_size = sizeof notice;
  notice.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&notice));
}

TEST_F(SetupApiBusTest, NoticesReachAnyTargetWithoutAWindowOrADisplay) {
  NoticeLog first;
  NoticeLog second;
  const NotifyHandle firstHandle = bus.RegisterNotify(first);
  const NotifyHandle secondHandle = bus.RegisterNotify(second);
  ASSERT_NE(firstHandle, kNoNotifyHandle);
  ASSERT_NE(secondHandle, kNoNotifyHandle);
  EXPECT_NE(firstHandle, secondHandle);

  EXPECT_EQ(SendInterfaceNotice(DBT_DEVICEARRIVAL), TRUE);
  EXPECT_EQ(SendInterfaceNotice(DBT_DEVICEREMOVECOMPLETE), TRUE);
  const std::vector<DeviceChange> both{DeviceChange::kArrival, DeviceChange::kRemoval};
  EXPECT_EQ(first.events, both);
  EXPECT_EQ(second.events, both);

  // An unregistered target hears nothing more; the last one takes the window away.
  bus.UnregisterNotify(firstHandle);
  EXPECT_EQ(SendInterfaceNotice(DBT_DEVICEARRIVAL), TRUE);
  EXPECT_EQ(first.events, both);
  EXPECT_EQ(second.events.size(), 3u);
  bus.UnregisterNotify(secondHandle);
  EXPECT_EQ(SendInterfaceNotice(DBT_DEVICEARRIVAL), -1);
  EXPECT_EQ(second.events.size(), 3u);
}

}  // namespace
}  // namespace tarvik::win32
