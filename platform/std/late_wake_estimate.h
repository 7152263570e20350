// How late a real clock's sleeps wake, kept from recent wakes, for its
// deadline waits. The kernel wakes a sleeper late, by tens of microseconds and
// more on a busy machine; over a thousand 5 ms polls that adds up. A deadline
// wait sleeps to as far before the deadline as wakes are usually late (half of
// them later still), and what is left when it wakes early is yielded away: the
// waits end on time or a few tens of microseconds late, at a fraction of the
// CPU that ending on time nearly always costs. On a loaded machine, where
// wakes are late by milliseconds, spinning buys little: the estimate stops at
// kMaxLateUs.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

namespace tarvik {

class LateWakeEstimate {
 public:
  static constexpr uint64_t kMaxLateUs = 500;

  // Waits until `nowUs()` reaches `deadlineUs`: `sleepUntilUs(target)` sleeps
  // to an earlier time on the same clock (and may wake at any time around it),
  // then the rest is yielded away. A passed deadline does not wait.
  template <typename Now, typename SleepUntil>
  void Wait(uint64_t deadlineUs, Now&& nowUs, SleepUntil&& sleepUntilUs) {
    const uint64_t early = m_lateUs.load(std::memory_order_relaxed);
    if (deadlineUs > nowUs() + early) {
      const uint64_t target = deadlineUs - early;
      sleepUntilUs(target);
      const uint64_t woke = nowUs();
      Woke(woke > target ? woke - target : 0);
    }
    while (nowUs() < deadlineUs) std::this_thread::yield();
  }

  uint64_t LateUs() const { return m_lateUs.load(std::memory_order_relaxed); }

 private:
  // Up 2 us after a later wake, down 2 us after an earlier one: the estimate
  // settles where half the wakes are later still.
  void Woke(uint64_t lateUs) {
    const uint64_t estimate = m_lateUs.load(std::memory_order_relaxed);
    const uint64_t next =
        lateUs > estimate ? std::min(estimate + kStepUs, kMaxLateUs) : (estimate > kStepUs ? estimate - kStepUs : 0);
    m_lateUs.store(next, std::memory_order_relaxed);
  }

  static constexpr uint64_t kStepUs = 2;

  std::atomic<uint64_t> m_lateUs{50};  // shared by every thread waiting on the clock
};

}  // namespace tarvik
