// The real clock: std::chrono::steady_clock and real sleeps.
#pragma once

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/std/late_wake_estimate.h"

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
  // Sleeps to before the deadline by how late recent wakes were, then yields the rest.
  void SleepUntilUs(uint64_t deadlineUs) override {
    m_late.Wait(deadlineUs, [this] { return NowUs(); }, [](uint64_t targetUs) {
      std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::microseconds(targetUs)));
    });
  }

 private:
  LateWakeEstimate m_late;
};

}  // namespace tarvik
