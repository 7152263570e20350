// The real clock: std::chrono::steady_clock and real sleeps.
#pragma once

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
  // machine; over a thousand 5 ms polls that adds up. The sleep ends a little
  // early and the rest is yielded away.
  void SleepUntilUs(uint64_t deadlineUs) override {
    const uint64_t now = NowUs();
    if (deadlineUs > now + kYieldUs) {
      std::this_thread::sleep_until(
          std::chrono::steady_clock::time_point(std::chrono::microseconds(deadlineUs - kYieldUs)));
    }
    while (NowUs() < deadlineUs) std::this_thread::yield();
  }
  static constexpr uint64_t kYieldUs = 200;
};

}  // namespace tarvik
