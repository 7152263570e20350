// A clock whose time passes only when someone waits on it: a sleep or a
// time-out returns at once with the clock moved on. Tests of long time-outs
// run in no real time, and transcripts carry reproducible times.
#pragma once

#include <atomic>

#include "platform/clock.h"

namespace tarvik {

class VirtualClock final : public IClock {
 public:
  explicit VirtualClock(uint64_t startMs = 0) : m_now(startMs) {}
  uint64_t NowMs() override { return m_now.load(); }
  void SleepMs(uint32_t ms) override { m_now.fetch_add(ms); }
  // Moves the clock to `ms` unless it is already later.
  void AdvanceTo(uint64_t ms) {
    uint64_t now = m_now.load();
    while (now < ms && !m_now.compare_exchange_weak(now, ms)) {
    }
  }
  bool AdvanceIdleTo(uint64_t ms) override {
    AdvanceTo(ms);
    return true;
  }
  bool RunsByItself() const override { return false; }

 private:
  std::atomic<uint64_t> m_now;
};

}  // namespace tarvik
