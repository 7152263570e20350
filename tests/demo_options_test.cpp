// The demo's simulated controller as its options make it.
#include "desktop/linux/demo_options.h"

#include <gtest/gtest.h>

#include "tests/support/image_builder.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

TEST(DemoOptionsTest, ReportModeTwoComesBackInModeOneUnlessToldToIgnoreTheSignal) {
  std::string error;
  const std::optional<SimOptions> plain = DemoSimOptions("packet2", {}, error);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->mode, SimMode::kPacket2);
  EXPECT_EQ(plain->packet.onMode2Signal, SimSwitch::kReplug);

  // Settings come after the demo's own choice, whatever their order.
  const std::optional<SimOptions> ignoring = DemoSimOptions("packet2", {"switch=ignore", "clock=virtual"}, error);
  ASSERT_TRUE(ignoring);
  EXPECT_EQ(ignoring->packet.onMode2Signal, SimSwitch::kIgnore);
  EXPECT_TRUE(ignoring->virtualClock);

  EXPECT_FALSE(DemoSimOptions("packet3", {}, error));
  EXPECT_NE(error.find("--simulate"), std::string::npos);
  error.clear();
  EXPECT_FALSE(DemoSimOptions("boot", {"switch=sideways"}, error));
  EXPECT_FALSE(error.empty());
}

// The recovery the failure box tells, done in the demo: the controller is
// pulled in the middle of its update and plugged in again, and the same image
// written again ends "Firmware upgraded!".
TEST(DemoRecoveryTest, APulledControllerPluggedInAgainIsUpdatedWithTheSameImage) {
  std::string error;
  const std::optional<SimLayout> layout = DemoSimLayout("boot", {"unplug.after=60", "unplug.back=500"}, error);
  ASSERT_TRUE(layout) << error;
  test::WindowRig rig;
  const std::vector<SimPopulation> controllers = PopulateSimBus(rig.bus, *layout);
  const test::Bytes main = test::Payload(4000, 1);
  const test::Bytes at = test::Payload(1000, 2);
  rig.user.image = test::WriteFile(rig.Dir() / "fw.dat", test::Concat({test::Record(131, 0x08004000, main),
                                                                       test::Record(131, 0x2000, at, 0)}));
  rig.RunWindow([&](CUpdateDlg& dlg) {
    ASSERT_TRUE(rig.PressUpdate(dlg));
    ASSERT_EQ(rig.user.MessageTexts().size(), 2u);  // the question, then the failure
    EXPECT_NE(rig.user.MessageTexts().back(), "\n Firmware upgraded! \n");
    rig.WaitAtWindow(500);
    EXPECT_TRUE(rig.host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(rig.host.WindowText(), "Tarvik Update v2.00 (Fw v1.20 r5)");
    rig.user.events.clear();
    ASSERT_TRUE(rig.PressUpdate(dlg));
    EXPECT_EQ(rig.user.MessageTexts().back(), "\n Firmware upgraded! \n");
    rig.WaitAtWindow(SimBootController::kResetAwayMs);
    EXPECT_EQ(rig.host.WindowText(), "Tarvik Update v2.00 (Fw v1.31 r5)");
  });
  EXPECT_EQ(controllers.at(0).boot->WrittenRegions(),
            (std::vector<SimBootController::FlashRegion>{{"main", 0x08004000, main}, {"at", 0x2000, at}}));
}

}  // namespace
}  // namespace tarvik
