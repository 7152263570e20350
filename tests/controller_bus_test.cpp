// The one-controller view of a bus that each controller's window works on.
#include "cli/controller_bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/held_enumeration_bus.h"
#include "platform/std/virtual_clock.h"
#include "session/update_session.h"
#include "sim/sim_setup.h"
#include "tests/support/fake_system.h"
#include "tests/support/image_builder.h"

namespace tarvik {
namespace {

class RecordingTarget final : public IDeviceNotifyTarget {
 public:
  void PostDeviceChange(DeviceChange eventType) override { events.push_back(eventType); }
  std::vector<DeviceChange> events;
};

class ControllerBusTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  SimHidBus bus{clock};
  std::vector<SimPopulation> controllers;
  void Populate(const std::string& modes, std::vector<std::string> settings = {}) {
    std::string error;
    settings.push_back("extra=2");
    controllers = PopulateSimBus(bus, *ParseSimLayout(modes, settings, error));
  }
};

TEST_F(ControllerBusTest, EnumerationFindsTheSupportedControllersInBusOrder) {
  Populate("packet2,boot,packet1");
  const std::vector<ControllerEntry> found = EnumerateControllers(bus);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].reportMode, 2);
  EXPECT_EQ(found[1].reportMode, 3);
  EXPECT_EQ(found[2].reportMode, 1);
  EXPECT_EQ(found[1].productId, 0x7E23);
  EXPECT_EQ(found[1].path, bus.PathOf(controllers[1].controller));
  bus.SetOpenable(controllers[0].controller, false);  // held by someone else
  EXPECT_EQ(EnumerateControllers(bus).size(), 2u);
}

TEST_F(ControllerBusTest, EntriesCarryLocationAndSerialAndTheViewListsItsOwnOnly) {
  Populate("boot");
  SimDeviceSetup listed = ControllerSetup(1);
  listed.serial = "TV-0042";
  listed.location = "port-7";
  const int withSerial = bus.Plug(listed, false);
  SimDeviceSetup unlisted = ControllerSetup(2);
  unlisted.idsListed = false;  // its IDs are read by opening it
  const int probed = bus.Plug(unlisted, false);
  const std::vector<ControllerEntry> found = EnumerateControllers(bus);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].location, "sim-" + std::to_string(controllers[0].controller));
  EXPECT_EQ(found[0].serial, "");
  EXPECT_EQ(found[1].location, "port-7");
  EXPECT_EQ(found[1].serial, "TV-0042");
  EXPECT_EQ(found[2].reportMode, 2);
  EXPECT_EQ(found[2].path, bus.PathOf(probed));
  for (int extra = 1; extra < controllers[0].controller; ++extra) EXPECT_EQ(bus.OpenCount(extra), 0);

  SingleDeviceBus view(bus, bus.PathOf(withSerial));
  const std::vector<HidDeviceInfo> seen = view.EnumerateDevices();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].serial, "TV-0042");
  bus.Unplug(withSerial, false);
  EXPECT_TRUE(view.EnumerateDevices().empty());
}

TEST_F(ControllerBusTest, TheViewShowsAndOpensItsOwnPathOnly) {
  Populate("boot,boot");
  const std::string mine = bus.PathOf(controllers[1].controller);
  SingleDeviceBus view(bus, mine);
  EXPECT_EQ(view.EnumerateInterfaces(), std::vector<std::string>{mine});
  EXPECT_EQ(view.Open(bus.PathOf(controllers[0].controller), HidOpenMode::kProbeReadWrite), kInvalidHidHandle);
  const HidHandle handle = view.Open(mine, HidOpenMode::kProbeReadWrite);
  ASSERT_NE(handle, kInvalidHidHandle);
  view.Close(handle);
  bus.Unplug(controllers[1].controller, false);
  EXPECT_TRUE(view.EnumerateInterfaces().empty());
}

TEST_F(ControllerBusTest, OnlyItsOwnArrivalAndRemovalReachTheWindow) {
  Populate("boot,boot,boot", {"3:arrive.after=100"});
  SingleDeviceBus first(bus, bus.PathOf(controllers[0].controller));
  SingleDeviceBus third(bus, bus.PathOf(controllers[2].controller));
  RecordingTarget firstWindow, thirdWindow;
  first.RegisterNotify(firstWindow);
  const NotifyHandle thirdHandle = third.RegisterNotify(thirdWindow);
  bus.Unplug(controllers[1].controller);  // another controller leaves
  EXPECT_TRUE(firstWindow.events.empty());
  EXPECT_TRUE(thirdWindow.events.empty());
  clock.SleepMs(100);
  bus.EnumerateInterfaces();  // the third arrives
  EXPECT_TRUE(firstWindow.events.empty());
  EXPECT_EQ(thirdWindow.events, std::vector<DeviceChange>{DeviceChange::kArrival});
  bus.Unplug(controllers[0].controller);
  EXPECT_EQ(firstWindow.events, std::vector<DeviceChange>{DeviceChange::kRemoval});
  third.UnregisterNotify(thirdHandle);
  bus.Unplug(controllers[2].controller);
  EXPECT_EQ(thirdWindow.events.size(), 1u);
}

// A controller that leaves and comes back under another path at the same
// place: a view by location follows it, a view by path alone does not, and
// neither takes a controller plugged in elsewhere.
TEST_F(ControllerBusTest, AViewByLocationFollowsItsControllerToItsNewPath) {
  Populate("packet2,boot");
  const int leaving = controllers[0].controller;
  const std::string oldPath = bus.PathOf(leaving);
  const std::string location = bus.LocationOf(leaving);
  SingleDeviceBus byLocation(bus, oldPath, location);
  SingleDeviceBus byPath(bus, oldPath);
  bus.Unplug(leaving, false);
  EXPECT_FALSE(byLocation.IsPresent());
  SimDeviceSetup back = ControllerSetup(1);
  back.location = location;
  const std::string newPath = bus.PathOf(bus.Plug(back, false));
  ASSERT_NE(newPath, oldPath);
  EXPECT_EQ(byLocation.EnumerateInterfaces(), std::vector<std::string>{newPath});
  EXPECT_EQ(byLocation.Path(), newPath);
  const HidHandle handle = byLocation.Open(newPath, HidOpenMode::kProbeReadWrite);
  EXPECT_NE(handle, kInvalidHidHandle);
  byLocation.Close(handle);
  EXPECT_EQ(byLocation.Open(bus.PathOf(controllers[1].controller), HidOpenMode::kProbeReadWrite), kInvalidHidHandle);
  EXPECT_TRUE(byPath.EnumerateInterfaces().empty());
}

// Counts the enumerations that reach the bus, and those before the first output report.
class CountingBus final : public ForwardingHidBus {
 public:
  using ForwardingHidBus::ForwardingHidBus;
  int enumerations = 0;
  int beforeFirstReport = -1;  // -1: no report went out

  std::vector<std::string> EnumerateInterfaces() override {
    ++enumerations;
    return ForwardingHidBus::EnumerateInterfaces();
  }
  std::vector<HidDeviceInfo> EnumerateDevices() override {
    ++enumerations;
    return ForwardingHidBus::EnumerateDevices();
  }
  bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) override {
    if (beforeFirstReport < 0) beforeFirstReport = enumerations;
    return ForwardingHidBus::WriteReportTimed(handle, report, size, takenUs);
  }
};

// A flash of one controller, step by step as the command takes them: the
// controllers on the bus, the view of the one chosen, the mode-2 check of its
// probe, the probe, the update. It looks at the bus once before the first
// report, and again as it needs to after it.
TEST_F(ControllerBusTest, AFlashEnumeratesOnceBeforeItsFirstReport) {
  for (const char* mode : {"boot", "packet1", "packet2"}) {
    SCOPED_TRACE(mode);
    VirtualClock ownClock;
    SimHidBus sim(ownClock);
    std::string error;
    PopulateSimBus(sim, *ParseSimLayout(mode, {"extra=2"}, error));
    CountingBus counting(sim);
    HeldEnumerationBus held(counting);
    held.Hold();
    const std::vector<ControllerEntry> found = EnumerateControllers(held);
    ASSERT_EQ(found.size(), 1u);
    SingleDeviceBus view(held, found[0].path, found[0].location);
    EnumerateControllers(view);
    test::FakeSystem system(ownClock);
    UpdateSession session(view, system);
    const ControllerProbe probe = session.Probe();
    EXPECT_EQ(counting.beforeFirstReport, 1);
    EXPECT_GT(counting.enumerations, 1);  // after the first report the bus is asked again
    if (std::string(mode) == "packet2") continue;  // it left for report mode 1
    ASSERT_TRUE(probe.queried);
    const FirmwareImage image =
        FirmwareImage::FromBytes(test::Record(131, 0x08004000, test::Payload(100)), "fw.dat");
    EXPECT_EQ(session.Update({.image = image}).result, OutcomeResult::kUpgraded);
  }
}

}  // namespace
}  // namespace tarvik
