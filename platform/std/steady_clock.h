// The real clock: std::chrono::steady_clock and real sleeps.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace tarvik {

class SteadyClock final : public IClock {
 public:
  uint64_t NowMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  uint64_t NowUs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  // The kernel wakes a sleeper late, by tens of microseconds and more on a busy
  // machine; over a thousand 5 ms polls that adds up. The sleep aims as far
  // before the deadline as wakes are late three times in four (a running
  // estimate), and what is left when it wakes early is yielded away: on time
  // nearly always, without keeping a core busy through each wait.
  void SleepUntilUs(uint64_t deadlineUs) override {
    const uint64_t early = m_lateUs.load(std::memory_order_relaxed);
    if (deadlineUs > NowUs() + early) {
      const uint64_t target = deadlineUs - early;
      std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::microseconds(target)));
      const uint64_t woke = NowUs();
      const uint64_t late = woke > target ? woke - target : 0;
      // Up 3 us after a later wake, down 1 us after an earlier one: the
      // estimate settles where one wake in four is later still.
      const uint64_t estimate = m_lateUs.load(std::memory_order_relaxed);
      const uint64_t next = late > estimate ? std::min(estimate + 3, kMaxLateUs) : (estimate > 0 ? estimate - 1 : 0);
      m_lateUs.store(next, std::memory_order_relaxed);
    }
    while (NowUs() < deadlineUs) std::this_thread::yield();
  }
  static constexpr uint64_t kMaxLateUs = 2000;

 private:
  std::atomic<uint64_t> m_lateUs{50};  // how late recent wakes were; shared by every waiting thread
};

}  // namespace tarvik
