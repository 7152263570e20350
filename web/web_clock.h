// The page's real clock. The page's thread and the engine's workers read one
// time: the document's time origin plus the time since it. A moment taken on
// the page's thread, such as a send's end, compares with the engine's clock.
// std::chrono::steady_clock does not: each worker's reading is offset by how
// long its start-up message took.
#pragma once

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/std/late_wake_estimate.h"

// Microseconds since the epoch, from performance.timeOrigin and performance.now().
extern "C" double tarvik_epoch_us();

namespace tarvik {

class WebClock final : public IClock {
 public:
  uint64_t NowMs() override { return NowUs() / 1000; }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  uint64_t NowUs() override { return static_cast<uint64_t>(tarvik_epoch_us()); }
  // Sleeps to before the deadline by how late recent wakes were, then yields the rest.
  void SleepUntilUs(uint64_t deadlineUs) override {
    m_late.Wait(deadlineUs, [this] { return NowUs(); }, [this](uint64_t targetUs) {
      const uint64_t now = NowUs();
      if (targetUs > now) std::this_thread::sleep_for(std::chrono::microseconds(targetUs - now));
    });
  }

 private:
  LateWakeEstimate m_late;
};

}  // namespace tarvik
