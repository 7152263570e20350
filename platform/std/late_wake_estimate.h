// How late a real clock's sleeps wake, kept from recent wakes, for its
// deadline waits. The kernel wakes a sleeper late, by tens of microseconds and
// more on a busy machine; over a thousand 5 ms polls that adds up. A deadline
// wait sleeps to as far before the deadline as wakes are late three times in
// four, and what is left when it wakes early is yielded away: on time nearly
// always, without keeping a core busy through each wait.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

namespace tarvik {

class LateWakeEstimate {
 public:
  static constexpr uint64_t kMaxLateUs = 2000;

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
  // Up 3 us after a later wake, down 1 us after an earlier one: the estimate
  // settles where one wake in four is later still.
  void Woke(uint64_t lateUs) {
    const uint64_t estimate = m_lateUs.load(std::memory_order_relaxed);
    const uint64_t next =
        lateUs > estimate ? std::min(estimate + 3, kMaxLateUs) : (estimate > 0 ? estimate - 1 : 0);
    m_lateUs.store(next, std::memory_order_relaxed);
  }

  std::atomic<uint64_t> m_lateUs{50};  // shared by every thread waiting on the clock
};

}  // namespace tarvik
