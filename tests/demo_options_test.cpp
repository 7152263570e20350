// The demo's simulated controller as its options make it.
#include "desktop/linux/demo_options.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarvik
