// The real clock's deadline waits: the boot protocol's polls rely on them
// never ending before their deadline, and on a passed deadline not waiting.
#include <gtest/gtest.h>

#include <vector>

#include "platform/std/late_wake_estimate.h"
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

// The estimate of late wakes, on a scripted clock whose sleeps wake late by
// a repeating pattern: where it settles, and that no wait ends early.
TEST(SteadyClockTest, TheLateWakeEstimateSettlesAtTheUsualLatenessAndStopsAtItsCap) {
  struct Case {
    std::vector<uint64_t> lateUs;  // how late each sleep wakes, in turn
    uint64_t low, high;            // where the estimate ends
  };
  const std::vector<Case> cases = {
      {{60}, 58, 62},
      {{40, 50, 60, 70, 80}, 50, 70},                // the usual lateness: half later, half earlier
      {{30, 30, 30, 2000}, 28, 34},                  // a rare long delay does not move it far
      {{5000}, LateWakeEstimate::kMaxLateUs, LateWakeEstimate::kMaxLateUs},  // a loaded machine
      {{0}, 0, 2},
  };
  for (const Case& c : cases) {
    LateWakeEstimate estimate;
    uint64_t now = 0;
    size_t turn = 0;
    for (int wait = 0; wait < 2000; ++wait) {
      const uint64_t deadline = now + 5000;
      estimate.Wait(deadline, [&] { return now++; },  // every look at the clock takes a microsecond
                    [&](uint64_t target) { now = target + c.lateUs[turn++ % c.lateUs.size()]; });
      ASSERT_GE(now, deadline);
    }
    EXPECT_GE(estimate.LateUs(), c.low) << c.lateUs.front();
    EXPECT_LE(estimate.LateUs(), c.high) << c.lateUs.front();
  }
}

}  // namespace
}  // namespace tarvik
