// The real clock's deadline waits: the boot protocol's polls rely on them
// never ending before their deadline, and on a passed deadline not waiting.
#include <gtest/gtest.h>

#include "platform/std/steady_clock.h"
#include "platform/std/virtual_clock.h"
#include "tests/support/deadline_checks.h"

namespace tarvik {
namespace {

TEST(SteadyClockTest, DeadlineWaitsNeverEndEarlyAndPassedOnesDoNotWait) {
  SteadyClock clock;
  test::ExpectDeadlineWaitsOnTime(clock, {50u, 300u, 5000u});
}

TEST(SteadyClockTest, VirtualDeadlinesMoveTheClockByWholeMilliseconds) {
  VirtualClock clock(100);
  clock.SleepUntilUs(clock.NowUs() + 5000);
  EXPECT_EQ(clock.NowMs(), 105u);
  clock.SleepUntilUs(clock.NowUs());  // passed: no time goes by
  EXPECT_EQ(clock.NowMs(), 105u);
}

TEST(SteadyClockTest, OnlyAClockThatWaitsInNoTimeSkipsIdleTimeAndNeverBack) {
  SteadyClock real;
  const uint64_t now = real.NowMs();
  EXPECT_TRUE(real.RunsByItself());
  EXPECT_FALSE(real.AdvanceIdleTo(now + 60000));
  EXPECT_LT(real.NowMs(), now + 60000);

  VirtualClock virtualClock(100);
  EXPECT_FALSE(virtualClock.RunsByItself());
  EXPECT_TRUE(virtualClock.AdvanceIdleTo(60000));
  EXPECT_EQ(virtualClock.NowMs(), 60000u);
  EXPECT_TRUE(virtualClock.AdvanceIdleTo(50));
  EXPECT_EQ(virtualClock.NowMs(), 60000u);
}

}  // namespace
}  // namespace tarvik
