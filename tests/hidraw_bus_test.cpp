// The hidraw bus: the report descriptor scan and the helpers as they are, the
// bus itself on umockdev devices (run under umockdev-wrapper).
#include "platform/linux/hidraw_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/controller_bus.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "platform/linux/report_descriptor.h"
#include "platform/std/steady_clock.h"
#include "tests/support/fake_system.h"
#include "tests/support/umockdev_hidraw.h"

#if defined(__SANITIZE_THREAD__)
// umockdev and GLib are not built for ThreadSanitizer: it does not see their
// futex-based locks and reports their own handovers between the test thread
// and the testbed's thread. The testbed also calls libudev on the test thread
// (to send uevents) without the bus's libudev lock, which only the bus's own
// calls share. The bus's code stays checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libumockdev.so.0\n"
         "called_from_lib:libglib-2.0.so.0\n"
         "called_from_lib:libgobject-2.0.so.0\n"
         "called_from_lib:libgio-2.0.so.0\n"
         "race:tarvik::test::UmockdevHidrawRig\n"
         "race:tarvik::test::MockHidrawDevice\n";
}
#endif

namespace tarvik {
namespace {

// Vendor-defined, report ID 0x81, 63 data bytes each way (mode 1's reports).
const std::vector<uint8_t> kNumberedDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x81, 0x09, 0x02, 0x15, 0x00, 0x26, 0xFF,
    0x00, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02, 0x09, 0x03, 0x95, 0x3F, 0x91, 0x02, 0xC0};

// No report IDs, 64 data bytes each way; the byte 0x85 appears twice, as item
// data (usage page 0xFF85, logical maximum 0x85).
const std::vector<uint8_t> kUnnumberedDescriptor = {
    0x06, 0x85, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0x15, 0x00, 0x26, 0x85, 0x00,
    0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0x09, 0x03, 0x95, 0x40, 0x91, 0x02, 0xC0};

bool Numbered(const std::vector<uint8_t>& descriptor) {
  return UsesNumberedReports(descriptor.data(), descriptor.size());
}

TEST(ReportDescriptorTest, ReportIdItemsDecideNotTheByteValue) {
  EXPECT_TRUE(Numbered(kNumberedDescriptor));
  EXPECT_FALSE(Numbered(kUnnumberedDescriptor));
  // 0x85 inside a 4-byte logical maximum and a 2-byte usage.
  EXPECT_FALSE(Numbered({0x27, 0x85, 0x85, 0x00, 0x00, 0x0A, 0x85, 0x85, 0xC0}));
  // A 2-byte Report ID item is still one.
  EXPECT_TRUE(Numbered({0x86, 0x02, 0x00, 0xC0}));
  // A long item (0xFE, 3 data bytes, tag 0xF0) whose data looks like a Report ID
  // item is skipped whole; the item after it is read.
  EXPECT_FALSE(Numbered({0xFE, 0x03, 0xF0, 0x85, 0x01, 0x00, 0xC0}));
  EXPECT_TRUE(Numbered({0xFE, 0x03, 0xF0, 0x85, 0x01, 0x00, 0x85, 0x02, 0xC0}));
  EXPECT_FALSE(Numbered({}));
}

TEST(ReportDescriptorTest, ItemsOfEachSizeAndADescriptorCutInsideAnItem) {
  std::vector<ReportDescriptorItem> items;
  const auto collect = [&](const ReportDescriptorItem& item) { items.push_back(item); };
  const std::vector<uint8_t> whole = {0xFE, 0x01, 0xF0, 0x00, 0x27, 0x78,
                                      0x56, 0x34, 0x12, 0x09, 0x30, 0xC0};
  EXPECT_TRUE(WalkReportDescriptor(whole.data(), whole.size(), collect));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_TRUE(items[0].longItem);
  EXPECT_EQ(items[0].tag, 0xF0);
  EXPECT_EQ(items[1].type, ReportDescriptorItem::Type::kGlobal);
  EXPECT_EQ(items[1].dataSize, 4u);
  EXPECT_EQ(items[1].data, whole.data() + 5);
  EXPECT_EQ(items[2].type, ReportDescriptorItem::Type::kLocal);
  EXPECT_EQ(items[3].dataSize, 0u);

  items.clear();
  const std::vector<uint8_t> cutShort = {0x85, 0x81, 0x27, 0x01, 0x02};
  EXPECT_FALSE(WalkReportDescriptor(cutShort.data(), cutShort.size(), collect));
  EXPECT_EQ(items.size(), 1u);
  EXPECT_TRUE(Numbered(cutShort));
  // A Report ID prefix without its byte is no Report ID.
  EXPECT_FALSE(Numbered({0x09, 0x01, 0x85}));
  const std::vector<uint8_t> cutLong = {0xFE, 0x10, 0x01, 0x85, 0x81};
  EXPECT_FALSE(WalkReportDescriptor(cutLong.data(), cutLong.size(), collect));
  EXPECT_FALSE(WalkReportDescriptor(cutLong.data(), 2, collect));
  EXPECT_EQ(items.size(), 1u);
}

TEST(HidrawNamesTest, NodeNumbersAndHidIds) {
  EXPECT_EQ(HidrawNodeNumber("/dev/hidraw0"), 0u);
  EXPECT_EQ(HidrawNodeNumber("/dev/hidraw17"), 17u);
  EXPECT_EQ(HidrawNodeNumber("/dev/hidraw"), std::nullopt);
  EXPECT_EQ(HidrawNodeNumber("/dev/hidraw1a"), std::nullopt);
  EXPECT_EQ(HidrawNodeNumber("/dev/usb/hiddev0"), std::nullopt);
  EXPECT_EQ(HidrawNodeNumber("/dev/hidraw99999999999"), std::nullopt);

  uint16_t vendor = 0, product = 0;
  EXPECT_TRUE(ParseHidId("0003:00005A3C:00007E21", vendor, product));
  EXPECT_EQ(vendor, 0x5A3C);
  EXPECT_EQ(product, 0x7E21);
  EXPECT_FALSE(ParseHidId("0003:00015A3C:00007E21", vendor, product));
  EXPECT_FALSE(ParseHidId("0003:00005A3C", vendor, product));
  EXPECT_FALSE(ParseHidId("0003:00005A3C:00007E21x", vendor, product));
  EXPECT_FALSE(ParseHidId(nullptr, vendor, product));
}

TEST(HidrawPermissionTest, OnlyARefusedSupportedDeviceWithNoOtherToUseCounts) {
  const std::vector<HidDeviceId> wanted = {{0x5A3C, 0x7E21}, {0x5A3C, 0x7E23}};
  const std::vector<HidrawNode> nodes = {{"/dev/hidraw0", 0x046D, 0xC077, true},
                                         {"/dev/hidraw1", 0x5A3C, 0x7E21, true},
                                         {"/dev/hidraw2", 0x5A3C, 0x7E23, true},
                                         {"/dev/hidraw3", 0, 0, false}};
  std::map<std::string, int> errors;
  std::vector<std::string> tried;
  const auto open = [&](const std::string& node) {
    tried.push_back(node);
    return errors[node];
  };

  errors = {{"/dev/hidraw0", EACCES}, {"/dev/hidraw1", EACCES}, {"/dev/hidraw2", EPERM}};
  EXPECT_TRUE(HidrawPermissionDenied(nodes, wanted, open));
  // Devices that are not ours, or whose IDs udev does not know, are not tried.
  EXPECT_EQ(tried, (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2"}));

  errors = {{"/dev/hidraw1", EACCES}, {"/dev/hidraw2", 0}};
  EXPECT_FALSE(HidrawPermissionDenied(nodes, wanted, open));
  errors = {{"/dev/hidraw1", EBUSY}, {"/dev/hidraw2", ENOENT}};
  EXPECT_FALSE(HidrawPermissionDenied(nodes, wanted, open));
  errors = {{"/dev/hidraw0", EACCES}};
  EXPECT_FALSE(HidrawPermissionDenied(nodes, {{0x5A3C, 0x7E22}}, open));
}

TEST(HidrawPermissionTest, TheHintNamesTheRulesFileToInstallAndHowToLoadIt) {
  for (uint16_t language : {1033, 2052}) {
    const std::string hint = AccessDeniedHint(language, "/opt/t/lib/udev/rules.d/70-tarvik-update.rules");
    EXPECT_NE(hint.find("sudo install -m 644 /opt/t/lib/udev/rules.d/70-tarvik-update.rules "
                        "/etc/udev/rules.d/\n"),
              std::string::npos)
        << hint;
    EXPECT_NE(hint.find("sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=hidraw\n"),
              std::string::npos);
    EXPECT_NE(hint.find("plugdev"), std::string::npos);
    EXPECT_NE(hint.back(), '\n');  // the CLI ends the line itself
  }
  // Chinese only for the language of the Chinese texts.
  EXPECT_NE(AccessDeniedHint(2052, "x").find("权限被拒绝"), std::string::npos);
  EXPECT_EQ(AccessDeniedHint(1028, "x"), AccessDeniedHint(1033, "x"));
  EXPECT_NE(AccessDeniedCaption(2052), AccessDeniedCaption(1033));
}

TEST(HidrawPermissionTest, RulesFileComesFromTheProgramsTreeThenTheSystemThenTheSources) {
  std::vector<std::string> present;
  const auto exists = [&](const std::string& path) {
    return std::find(present.begin(), present.end(), path) != present.end();
  };
  present = {"/usr/lib/udev/rules.d/70-tarvik-update.rules", "/opt/t/lib/udev/rules.d/70-tarvik-update.rules"};
  EXPECT_EQ(FindUdevRulesFile("/opt/t/bin/tarvik-update", exists), present[1]);
  EXPECT_EQ(FindUdevRulesFile("/usr/local/bin/tarvik-update", exists), present[0]);
  present = {"/lib/udev/rules.d/70-tarvik-update.rules"};
  EXPECT_EQ(FindUdevRulesFile("", exists), present[0]);
  present.clear();
  EXPECT_EQ(FindUdevRulesFile("/opt/t/bin/tarvik-update", exists), "packaging/linux/70-tarvik-update.rules");
  // This build's own: beside the installed program, or the source tree's.
  EXPECT_TRUE(std::filesystem::is_regular_file(FindUdevRulesFile()));
}

class NoticeLog final : public IDeviceNotifyTarget {
 public:
  void PostDeviceChange(DeviceChange eventType) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(eventType);
    m_changed.notify_all();
  }
  // The events once there are `count` of them (or after two seconds).
  std::vector<DeviceChange> WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait_for(lock, std::chrono::seconds(2), [&] { return m_events.size() >= count; });
    return m_events;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<DeviceChange> m_events;
};

uint64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - since)
                                   .count());
}

std::vector<uint8_t> Pattern(uint8_t first, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

class HidrawBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!rig.InMockEnvironment()) GTEST_SKIP() << "needs umockdev-wrapper";
  }

  test::MockHidrawDevice& PlugNumbered(unsigned number) {
    return rig.Plug({number, 0x5A3C, 0x7E21, kNumberedDescriptor});
  }
  test::MockHidrawDevice& PlugUnnumbered(unsigned number) {
    return rig.Plug({number, 0x5A3C, 0x7E22, kUnnumberedDescriptor});
  }
  test::MockHidrawDevice& PlugMouse(unsigned number) {
    return rig.Plug({number, 0x046D, 0xC077, kUnnumberedDescriptor});
  }

  test::UmockdevHidrawRig rig;
  SteadyClock clock;
  HidrawBus bus{clock};  // after the rig: its handles close before the devices go
};

TEST_F(HidrawBusTest, EnumeratesHidrawNodesByNumberWithTheirIds) {
  PlugMouse(10);
  PlugNumbered(2);
  PlugMouse(1);
  EXPECT_EQ(bus.EnumerateInterfaces(),
            (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2", "/dev/hidraw10"}));
  const std::vector<HidrawNode> nodes = ListHidrawNodes();
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_TRUE(nodes[1].idsKnown);
  EXPECT_EQ(nodes[1].vendorId, 0x5A3C);
  EXPECT_EQ(nodes[1].productId, 0x7E21);
  // Accessible here: nothing to complain about.
  EXPECT_FALSE(HidrawPermissionDenied({{0x5A3C, 0x7E21}}));
}

TEST_F(HidrawBusTest, DevicesComeWithIdsLocationAndSerialFromUdevAlone) {
  test::MockHidrawDevice& mouse = rig.Plug({3, 0x046D, 0xC077, kUnnumberedDescriptor, 0600, "M-77"});
  test::MockHidrawDevice& controller = rig.Plug(
      {1, 0x5A3C, 0x7E23, kNumberedDescriptor, 0600, "", "pci-0000:00:14.0-usb-0:1:1.0"});
  const std::vector<HidDeviceInfo> devices = bus.EnumerateDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].path, controller.devnode);
  EXPECT_TRUE(devices[0].idsKnown);
  EXPECT_EQ(devices[0].productId, 0x7E23);
  EXPECT_EQ(devices[0].location, "pci-0000:00:14.0-usb-0:1:1.0");
  EXPECT_EQ(devices[0].serial, "");
  EXPECT_EQ(devices[1].path, mouse.devnode);
  EXPECT_EQ(devices[1].vendorId, 0x046D);
  EXPECT_EQ(devices[1].location, "usb-1-3");  // no ID_PATH: the USB device's bus and port
  EXPECT_EQ(devices[1].serial, "M-77");
  EXPECT_EQ(bus.EnumerateInterfaces(), (std::vector<std::string>{controller.devnode, mouse.devnode}));
  // Settles the count: an open of the mouse answered after every earlier one.
  const HidHandle probe = bus.Open(mouse.devnode, HidOpenMode::kProbeReadWrite);
  ASSERT_NE(probe, kInvalidHidHandle);
  bus.Close(probe);
  EXPECT_EQ(mouse.Opens(), 1);
  EXPECT_EQ(controller.Opens(), 0);
}

// Discovery, the engine's and the command line's, opens the supported
// controllers only: other vendors' devices (which may be keyboards and mice in
// use) are never opened, and neither are those of the table's later rows
// while an earlier row's controller is there.
TEST_F(HidrawBusTest, SearchesOpenNoNodeThatIsNotASupportedController) {
  test::MockHidrawDevice& mouse = PlugMouse(1);
  test::MockHidrawDevice& boot = rig.Plug({2, 0x5A3C, 0x7E23, kNumberedDescriptor});
  test::MockHidrawDevice& other = rig.Plug({3, 0x5A3D, 0x7E21, kNumberedDescriptor});
  test::MockHidrawDevice& packet = PlugNumbered(4);
  test::FakeSystem system{clock};
  CDiag diag{system};
  CHid hid{bus, diag};
  ASSERT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.DevicePath(), packet.devnode);
  EXPECT_EQ(hid.Mode(), ReportMode::kPacketNumbered);
  const std::vector<ControllerEntry> controllers = EnumerateControllers(bus);
  ASSERT_EQ(controllers.size(), 2u);
  EXPECT_EQ(controllers[0].path, boot.devnode);
  EXPECT_EQ(controllers[0].location, "usb-1-2");
  EXPECT_EQ(controllers[1].reportMode, 1);

  for (test::MockHidrawDevice* device : {&mouse, &boot, &other, &packet}) {
    const HidHandle settle = bus.Open(device->devnode, HidOpenMode::kProbeReadWrite);
    ASSERT_NE(settle, kInvalidHidHandle);
    bus.Close(settle);
  }
  EXPECT_EQ(mouse.Opens(), 1);
  EXPECT_EQ(other.Opens(), 1);
  EXPECT_EQ(boot.Opens(), 2);    // listed; the search stopped at the first row's
  EXPECT_EQ(packet.Opens(), 3);  // searched and listed
}

TEST_F(HidrawBusTest, AttributesComeFromTheNodeAndClosedHandlesFindNothing) {
  test::MockHidrawDevice& device = PlugNumbered(3);
  const HidHandle probe = bus.Open(device.devnode, HidOpenMode::kProbeReadWrite);
  ASSERT_NE(probe, kInvalidHidHandle);
  HidAttributes attributes;
  attributes.versionNumber = 7;
  ASSERT_TRUE(bus.GetAttributes(probe, attributes));
  EXPECT_EQ(attributes.vendorId, 0x5A3C);
  EXPECT_EQ(attributes.productId, 0x7E21);
  EXPECT_EQ(attributes.versionNumber, 0);

  bus.Close(probe);
  EXPECT_FALSE(bus.GetAttributes(probe, attributes));
  EXPECT_EQ(errno, EBADF);
  uint8_t report[65] = {0x81};
  EXPECT_FALSE(bus.WriteReport(probe, report, sizeof report));
  EXPECT_EQ(bus.ReadReport(probe, report, sizeof report, 10).status, HidRead::kGone);
  // The next handle is a new number, not the closed one again.
  const HidHandle next = bus.Open(device.devnode, HidOpenMode::kProbeReadWrite);
  EXPECT_NE(next, probe);
  bus.Close(next);

  EXPECT_EQ(bus.Open("/dev/hidraw77", HidOpenMode::kProbeReadWrite), kInvalidHidHandle);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(HidrawBusTest, ReadsOfANumberedDeviceKeepTheirReportId) {
  test::MockHidrawDevice& device = PlugNumbered(1);
  const HidHandle read = bus.Open(device.devnode, HidOpenMode::kReadOverlapped);
  ASSERT_NE(read, kInvalidHidHandle);
  std::vector<uint8_t> sent = Pattern(0x10, 64);
  sent[0] = 0x81;
  ASSERT_TRUE(device.SendInput(sent));
  uint8_t buffer[128] = {};
  const HidReadResult result = bus.ReadReport(read, buffer, 64, 1000);
  EXPECT_EQ(result.status, HidRead::kReport);
  ASSERT_EQ(result.bytes, 64u);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 64), sent);
  bus.Close(read);
}

TEST_F(HidrawBusTest, ReadsOfAnUnnumberedDeviceGetReportIdZeroInFrontOneReportEach) {
  test::MockHidrawDevice& device = PlugUnnumbered(1);
  const HidHandle read = bus.Open(device.devnode, HidOpenMode::kReadOverlapped);
  ASSERT_NE(read, kInvalidHidHandle);
  const std::vector<uint8_t> first = Pattern(0x85, 64);
  const std::vector<uint8_t> second = Pattern(0x20, 64);
  ASSERT_TRUE(device.SendInput(first));
  ASSERT_TRUE(device.SendInput(second));
  for (const std::vector<uint8_t>* sent : {&first, &second}) {
    uint8_t buffer[128] = {0xEE};
    const HidReadResult result = bus.ReadReport(read, buffer, 65, 1000);
    EXPECT_EQ(result.status, HidRead::kReport);
    ASSERT_EQ(result.bytes, 65u);
    EXPECT_EQ(buffer[0], 0x00);
    EXPECT_EQ(std::vector<uint8_t>(buffer + 1, buffer + 65), *sent);
  }
  bus.Close(read);
}

TEST_F(HidrawBusTest, WritesArriveAsFramedOneReportPerWrite) {
  test::MockHidrawDevice& device = PlugUnnumbered(1);
  const HidHandle write = bus.Open(device.devnode, HidOpenMode::kWriteSync);
  const HidHandle read = bus.Open(device.devnode, HidOpenMode::kReadOverlapped);
  ASSERT_NE(write, kInvalidHidHandle);
  ASSERT_NE(read, kInvalidHidHandle);
  std::vector<uint8_t> first = Pattern(0x00, 65);
  std::vector<uint8_t> second = Pattern(0x40, 65);
  second[0] = 0x00;
  ASSERT_TRUE(bus.WriteReport(write, first.data(), first.size()));
  ASSERT_TRUE(bus.WriteReport(write, second.data(), second.size()));
  EXPECT_EQ(device.Written(), (std::vector<std::vector<uint8_t>>{first, second}));

  // Each handle does only what it was opened for.
  EXPECT_FALSE(bus.WriteReport(read, first.data(), first.size()));
  EXPECT_EQ(errno, EBADF);
  uint8_t buffer[65];
  EXPECT_EQ(bus.ReadReport(write, buffer, sizeof buffer, 10).status, HidRead::kGone);
  EXPECT_EQ(device.Written().size(), 2u);

  device.ShortenWrites();
  EXPECT_FALSE(bus.WriteReport(write, first.data(), first.size()));
  EXPECT_EQ(errno, EIO);
  bus.Close(read);
  bus.Close(write);
}

TEST_F(HidrawBusTest, ReadWithoutReportTimesOutAfterItsTimeout) {
  test::MockHidrawDevice& device = PlugNumbered(1);
  const HidHandle read = bus.Open(device.devnode, HidOpenMode::kReadOverlapped);
  ASSERT_NE(read, kInvalidHidHandle);
  uint8_t buffer[64];
  const auto start = std::chrono::steady_clock::now();
  const HidReadResult result = bus.ReadReport(read, buffer, sizeof buffer, 150);
  const uint64_t elapsed = ElapsedMs(start);
  EXPECT_EQ(result.status, HidRead::kTimedOut);
  EXPECT_EQ(result.bytes, 0u);
  EXPECT_GE(elapsed, 150u);
  EXPECT_LT(elapsed, 1000u);
  bus.Close(read);
}

TEST_F(HidrawBusTest, UnplugFailsAWaitingReadAtOnceAndLaterWrites) {
  test::MockHidrawDevice& device = PlugNumbered(1);
  const HidHandle write = bus.Open(device.devnode, HidOpenMode::kWriteSync);
  const HidHandle read = bus.Open(device.devnode, HidOpenMode::kReadOverlapped);
  ASSERT_NE(read, kInvalidHidHandle);
  const auto start = std::chrono::steady_clock::now();
  auto pending = std::async(std::launch::async, [&] {
    uint8_t buffer[64];
    return bus.ReadReport(read, buffer, sizeof buffer, 5000);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  device.Unplug();
  const HidReadResult result = pending.get();
  EXPECT_EQ(result.status, HidRead::kGone);
  EXPECT_LT(ElapsedMs(start), 2000u);

  const std::vector<uint8_t> report(64, 0x81);
  EXPECT_FALSE(bus.WriteReport(write, report.data(), report.size()));
  EXPECT_EQ(errno, ENODEV);
  EXPECT_TRUE(bus.EnumerateInterfaces().empty());
  bus.Close(read);
  bus.Close(write);
}

TEST_F(HidrawBusTest, CloseCancelsAWaitingRead) {
  test::MockHidrawDevice& device = PlugNumbered(1);
  const HidHandle read = bus.Open(device.devnode, HidOpenMode::kReadOverlapped);
  ASSERT_NE(read, kInvalidHidHandle);
  const auto start = std::chrono::steady_clock::now();
  auto pending = std::async(std::launch::async, [&] {
    uint8_t buffer[64];
    return bus.ReadReport(read, buffer, sizeof buffer, 5000);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  bus.Close(read);
  EXPECT_EQ(pending.get().status, HidRead::kGone);
  EXPECT_LT(ElapsedMs(start), 2000u);
}

TEST_F(HidrawBusTest, HotplugReachesRegisteredTargetsOnly) {
  NoticeLog stays;
  NoticeLog leaves;
  const NotifyHandle staying = bus.RegisterNotify(stays);
  const NotifyHandle leaving = bus.RegisterNotify(leaves);
  ASSERT_NE(staying, kNoNotifyHandle);
  ASSERT_NE(leaving, kNoNotifyHandle);
  ASSERT_TRUE(bus.IsWatching());

  test::MockHidrawDevice& first = PlugNumbered(1);
  EXPECT_EQ(leaves.WaitFor(1), (std::vector<DeviceChange>{DeviceChange::kArrival}));
  first.Unplug();
  EXPECT_EQ(leaves.WaitFor(2),
            (std::vector<DeviceChange>{DeviceChange::kArrival, DeviceChange::kRemoval}));

  bus.UnregisterNotify(leaving);
  EXPECT_TRUE(bus.IsWatching());
  PlugUnnumbered(2);
  EXPECT_EQ(stays.WaitFor(3), (std::vector<DeviceChange>{DeviceChange::kArrival, DeviceChange::kRemoval,
                                                     DeviceChange::kArrival}));
  EXPECT_EQ(leaves.WaitFor(2).size(), 2u);

  bus.UnregisterNotify(staying);
  EXPECT_FALSE(bus.IsWatching());
  // A new registration starts watching again; the bus stops it when it goes.
  ASSERT_NE(bus.RegisterNotify(stays), kNoNotifyHandle);
  EXPECT_TRUE(bus.IsWatching());
}

// The engine's device object on this bus: discovery among other devices,
// reports framed by the engine arriving as they are, input reports reaching
// the engine without their first byte, for both report formats.
struct EngineCase {
  uint16_t productId;
  const std::vector<uint8_t>* descriptor;
  std::vector<uint8_t> input;  // as the device sends it
  uint8_t firstByte;
  size_t outputSize;
};

class HidrawEngineTest : public HidrawBusTest, public ::testing::WithParamInterface<EngineCase> {};

TEST_P(HidrawEngineTest, DeviceObjectFindsTheControllerAndExchangesReports) {
  const EngineCase& c = GetParam();
  PlugMouse(1);
  test::MockHidrawDevice& controller = rig.Plug({4, 0x5A3C, c.productId, *c.descriptor});
  test::FakeSystem system{clock};
  CDiag diag{system};
  CHid hid{bus, diag};
  ASSERT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.DevicePath(), "/dev/hidraw4");
  ASSERT_TRUE(hid.OpenHid());

  const uint8_t payload[3] = {0xA1, 0xB2, 0xC3};
  ASSERT_EQ(hid.WriteHid(payload, sizeof payload), 1);
  const std::vector<std::vector<uint8_t>> written = controller.Written();
  ASSERT_EQ(written.size(), 1u);
  ASSERT_EQ(written[0].size(), c.outputSize);
  EXPECT_EQ(written[0][0], c.firstByte);
  EXPECT_EQ(std::vector<uint8_t>(written[0].begin() + 1, written[0].begin() + 4),
            std::vector<uint8_t>(payload, payload + 3));

  ASSERT_TRUE(controller.SendInput(c.input));
  hid.SetReadTimeout(1000);
  uint8_t received[4] = {};
  EXPECT_EQ(hid.ReadHid(received, sizeof received), kWaitReceived);
  EXPECT_EQ(std::vector<uint8_t>(received, received + 4),
            (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
}

std::vector<uint8_t> Input(std::vector<uint8_t> start, size_t size) {
  start.resize(size, 0x00);
  return start;
}

INSTANTIATE_TEST_SUITE_P(
    ReportFormats, HidrawEngineTest,
    ::testing::Values(EngineCase{0x7E21, &kNumberedDescriptor,
                                 Input({0x81, 0x11, 0x22, 0x33, 0x44}, 64), 0x81, 64},
                      EngineCase{0x7E22, &kUnnumberedDescriptor,
                                 Input({0x11, 0x22, 0x33, 0x44}, 64), 0x00, 65}),
    [](const ::testing::TestParamInfo<EngineCase>& format) {
      return format.param.firstByte == 0x81 ? std::string("Numbered") : std::string("Unnumbered");
    });

}  // namespace
}  // namespace tarvik
