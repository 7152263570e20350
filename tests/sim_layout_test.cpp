// Several simulated controllers on one bus: the lists --simulate takes, the
// per-controller keys, and controllers that join the bus later.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <set>
#include <sstream>

#include "cli/cli_options.h"
#include "platform/std/steady_clock.h"
#include "platform/std/virtual_clock.h"
#include "session/update_session.h"
#include "sim/sim_setup.h"
#include "tests/support/fake_system.h"
#include "tests/support/image_builder.h"

namespace tarvik {
namespace {

class CountingTarget final : public IDeviceNotifyTarget {
 public:
  void PostDeviceChange(DeviceChange eventType) override {
    if (eventType == DeviceChange::kArrival) arrivals.fetch_add(1);
  }
  std::atomic<int> arrivals{0};
};

// The keys --help (and so the manual page) lists are the keys the simulator takes.
TEST(SimLayoutTest, EveryKeyTheHelpListsIsTaken) {
  std::istringstream help(kSimKeysHelp);
  std::string line;
  std::getline(help, line);  // the heading
  int keys = 0;
  while (std::getline(help, line)) {
    std::istringstream words(line);
    std::string setting;
    words >> setting;
    // A value of the form the help shows: a placeholder becomes a number, a choice its first option.
    std::string key = setting.substr(0, setting.find('='));
    std::string value = setting.substr(setting.find('=') + 1);
    value = value.substr(0, value.find('|'));
    if (value == "K:M") value = "1:1";
    if (value == "N" || value == "MS" || value == "X" || value == "K") value = "1";
    SimOptions options;
    std::string error;
    EXPECT_TRUE(ApplySimSetting(key + "=" + value, options, error)) << line << ": " << error;
    ++keys;
  }
  EXPECT_GE(keys, 25);
}

TEST(SimLayoutTest, ListsGiveOneControllerPerEntryAndNumberedKeysSetOneOnly) {
  std::string error;
  const std::optional<SimLayout> layout = ParseSimLayout(
      "boot,packet1,packet2", {"clock=virtual", "latency.ms=3", "2:fail.at=4", "3:unplug.after=6", "1:write.fail=2:1"},
      error);
  ASSERT_TRUE(layout) << error;
  ASSERT_EQ(layout->controllers.size(), 3u);
  EXPECT_EQ(layout->controllers[0].mode, SimMode::kBoot);
  EXPECT_EQ(layout->controllers[1].mode, SimMode::kPacket1);
  EXPECT_EQ(layout->controllers[2].mode, SimMode::kPacket2);
  EXPECT_TRUE(layout->VirtualClock());
  for (const SimOptions& c : layout->controllers) EXPECT_EQ(c.packet.latencyMs, 3u);
  EXPECT_EQ(layout->controllers[1].packet.failAt, std::optional<uint32_t>(4));
  EXPECT_FALSE(layout->controllers[2].packet.failAt);
  EXPECT_EQ(layout->controllers[2].unplugAfter, 6u);
  EXPECT_EQ(layout->controllers[0].unplugAfter, 0u);
  EXPECT_EQ(layout->controllers[1].unplugAfter, 0u);
}

TEST(SimLayoutTest, MistakesInListsAndNumbersAreRefused) {
  std::string error;
  EXPECT_FALSE(ParseSimLayout("boot,,packet1", {}, error));
  EXPECT_FALSE(ParseSimLayout("boot,none", {}, error));
  EXPECT_FALSE(ParseSimLayout("boot,boot", {"3:unplug.after=1"}, error));
  EXPECT_NE(error.find("no controller 3"), std::string::npos) << error;
  EXPECT_FALSE(ParseSimLayout("boot,boot", {"0:unplug.after=1"}, error));
  EXPECT_FALSE(ParseSimLayout("boot,boot", {"x:unplug.after=1"}, error));
  EXPECT_FALSE(ParseSimLayout("boot,boot", {"2:clock=virtual"}, error));
  EXPECT_FALSE(ParseSimLayout("boot", {"1:arrive.after=soon"}, error));
  EXPECT_FALSE(ParseSimLayout("boot", {"stream=lots"}, error));
  const std::optional<SimLayout> none = ParseSimLayout("none", {"extra=2"}, error);
  ASSERT_TRUE(none);
  ASSERT_EQ(none->controllers.size(), 1u);
  EXPECT_EQ(none->controllers[0].mode, SimMode::kNone);
  VirtualClock clock;
  SimHidBus bus(clock);
  EXPECT_TRUE(PopulateSimBus(bus, *none).empty());
  EXPECT_EQ(bus.EnumerateInterfaces().size(), 2u);
}

TEST(SimLayoutTest, ControllersTakeTheBusInListOrderAfterTheOtherDevices) {
  VirtualClock clock;
  SimHidBus bus(clock);
  std::string error;
  const std::optional<SimLayout> layout = ParseSimLayout("packet2,boot,packet1", {"extra=2"}, error);
  ASSERT_TRUE(layout);
  const std::vector<SimPopulation> controllers = PopulateSimBus(bus, *layout);
  ASSERT_EQ(controllers.size(), 3u);
  EXPECT_TRUE(controllers[0].packet && controllers[2].packet && controllers[1].boot);
  const std::vector<std::string> paths = bus.EnumerateInterfaces();
  ASSERT_EQ(paths.size(), 5u);
  EXPECT_EQ(paths[2], bus.PathOf(controllers[0].controller));
  EXPECT_NE(paths[2].find("pid_7e22"), std::string::npos);
  EXPECT_NE(paths[3].find("pid_7e23"), std::string::npos);
  EXPECT_NE(paths[4].find("pid_7e21"), std::string::npos);
  // Two controllers of one product still have paths of their own.
  const std::optional<SimLayout> twins = ParseSimLayout("boot,boot", {}, error);
  SimHidBus other(clock);
  const std::vector<SimPopulation> two = PopulateSimBus(other, *twins);
  EXPECT_NE(other.PathOf(two[0].controller), other.PathOf(two[1].controller));
}

TEST(SimLayoutTest, ALateControllerJoinsWhenItsTimeHasComeOnAVirtualClock) {
  VirtualClock clock;
  SimHidBus bus(clock);
  CountingTarget target;
  bus.RegisterNotify(target);
  std::string error;
  const std::optional<SimLayout> layout = ParseSimLayout("boot,boot", {"2:arrive.after=1500"}, error);
  ASSERT_TRUE(layout);
  const std::vector<SimPopulation> controllers = PopulateSimBus(bus, *layout);
  EXPECT_EQ(bus.EnumerateInterfaces().size(), 1u);
  EXPECT_EQ(bus.Open(bus.PathOf(controllers[1].controller), HidOpenMode::kProbeReadWrite), kInvalidHidHandle);
  clock.SleepMs(1499);
  EXPECT_EQ(bus.EnumerateInterfaces().size(), 1u);
  EXPECT_EQ(target.arrivals.load(), 0);
  clock.SleepMs(1);
  const std::vector<std::string> paths = bus.EnumerateInterfaces();
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[1], bus.PathOf(controllers[1].controller));
  EXPECT_EQ(target.arrivals.load(), 1);
  EXPECT_EQ(bus.EnumerateInterfaces().size(), 2u);
  EXPECT_EQ(target.arrivals.load(), 1);
}

TEST(SimLayoutTest, ALateControllerArrivesOnARealClockWithoutAnyBusCall) {
  SteadyClock clock;
  SimHidBus bus(clock);
  CountingTarget target;
  bus.RegisterNotify(target);
  SimOptions options;
  options.arriveAfterMs = 30;
  const SimPopulation late = PopulateSimBus(bus, options);
  for (int i = 0; i < 200 && target.arrivals.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(target.arrivals.load(), 1);
  EXPECT_TRUE(bus.IsPresent(late.controller));
}

TEST(SimLayoutTest, AControllerUnpluggedBeforeItArrivesNeverArrives) {
  VirtualClock clock;
  SimHidBus bus(clock);
  SimOptions options;
  options.arriveAfterMs = 10;
  const SimPopulation late = PopulateSimBus(bus, options);
  bus.Unplug(late.controller);
  clock.SleepMs(20);
  EXPECT_TRUE(bus.EnumerateInterfaces().empty());
}

// A stream: once the host is done with a controller, the next comes to its
// place, a device of its own, until the stream has brought them all.
TEST(SimLayoutTest, AStreamBringsTheNextControllerOnceTheHostIsDoneWithOne) {
  struct Case {
    const char* mode;
    bool update;      // updated; else only asked its version, as a skipped one is
    uint64_t awayMs;  // from the session's end to the next one's arrival
  };
  const Case cases[] = {
      {"boot", true, SimBootController::kResetAwayMs + 200},  // back from its reset first
      {"boot", false, 200},
      {"packet1", true, SimPacketController::kRestartAwayMs + 200},  // back with its new firmware first
      {"packet2", true, SimPacketController::kRestartAwayMs + 200},  // in report mode 1 after the signal
  };
  const test::Bytes payload = test::Payload(700, 3);
  const FirmwareImage image = FirmwareImage::FromBytes(test::Record(131, 0x08004000, payload), "fw.dat");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + (c.update ? " updated" : " asked only"));
    VirtualClock clock;
    test::TempDir dir;
    test::FakeSystem system(clock);
    system.currentDirectory = dir.Path().string();
    SimHidBus bus(clock);
    SimOptions base;
    base.packet.onMode2Signal = SimSwitch::kReplug;
    std::string error;
    std::vector<SimPopulation> left;
    const std::vector<SimPopulation> first = PopulateSimBus(
        bus, *ParseSimLayout(c.mode, {"stream=3"}, error, base),
        [&](size_t, const SimPopulation& gone, const SimPopulation*) { left.push_back(gone); });
    std::set<std::string> serials;
    uint64_t ended = 0;
    for (int k = 0; k < 3; ++k) {
      for (int ms = 0; ms < 2000 && bus.EnumerateDevices().empty(); ++ms) clock.SleepMs(1);
      ASSERT_EQ(bus.EnumerateDevices().size(), 1u) << k;
      if (k > 0) {
        EXPECT_NEAR(static_cast<double>(clock.NowMs() - ended), static_cast<double>(c.awayMs), 20) << k;
      }
      {
        UpdateSession session(bus, system);
        const ControllerProbe probe = session.Probe();
        ASSERT_TRUE(probe.queried) << probe.reason;
        serials.insert(probe.serial);
        // Time alone does not take it away while the host holds it.
        clock.SleepMs(3000);
        EXPECT_EQ(bus.EnumerateDevices().size(), 1u);
        if (c.update) {
          EXPECT_EQ(session.Update({.image = image}).result, OutcomeResult::kUpgraded);
        }
      }
      ended = clock.NowMs();
    }
    // All three came: the place stays empty, and the bus knows them no more.
    clock.SleepMs(5000);
    EXPECT_TRUE(bus.EnumerateDevices().empty());
    EXPECT_EQ(bus.LocationOf(first[0].controller), "");
    EXPECT_EQ(serials.size(), 3u);
    // What each held when it left.
    ASSERT_EQ(left.size(), 3u);
    for (const SimPopulation& gone : left) {
      EXPECT_EQ(gone.boot ? gone.boot->Stamps().size() : 0u, gone.boot && c.update ? 1u : 0u);
      EXPECT_EQ(gone.packet ? gone.packet->Firmware() : payload, payload);
    }
  }
}

}  // namespace
}  // namespace tarvik
