// What the boot protocol's polls rely on in a real clock's deadline waits:
// they never end before their deadline, and a passed deadline does not wait.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "platform/clock.h"

namespace tarvik::test {

inline void ExpectDeadlineWaitsOnTime(IClock& clock, std::initializer_list<uint64_t> waitsUs) {
  for (uint64_t waitUs : waitsUs) {
    const uint64_t deadline = clock.NowUs() + waitUs;
    clock.SleepUntilUs(deadline);
    EXPECT_GE(clock.NowUs(), deadline) << waitUs;
  }
  const uint64_t before = clock.NowUs();
  clock.SleepUntilUs(before - 1000);
  EXPECT_LT(clock.NowUs() - before, 1000u);
  // Milliseconds and microseconds share their origin.
  EXPECT_LE(clock.NowMs(), clock.NowUs() / 1000 + 1);
  EXPECT_GE(clock.NowMs() + 1, clock.NowUs() / 1000);
}

}  // namespace tarvik::test
