// Clock seam. Every wait of the engine (sleeps, read time-outs) is measured on
// this clock, so that a virtual clock lets tests of long time-outs run at once.
#pragma once

#include <cstdint>

namespace tarvik {

class IClock {
 public:
  virtual ~IClock() = default;
  // Monotonic time in milliseconds; the origin is arbitrary.
  virtual uint64_t NowMs() = 0;
  // Blocks the calling thread for `ms` milliseconds of this clock.
  virtual void SleepMs(uint32_t ms) = 0;
  // Monotonic time in microseconds, on the origin of NowMs.
  virtual uint64_t NowUs() { return NowMs() * 1000; }
  // Blocks until NowUs() reaches `deadlineUs`; returns at once when it has.
  // Waits measured from a deadline do not add up the lateness of each sleep.
  virtual void SleepUntilUs(uint64_t deadlineUs) {
    const uint64_t now = NowUs();
    if (deadlineUs > now) SleepMs(static_cast<uint32_t>((deadlineUs - now + 999) / 1000));
  }
};

}  // namespace tarvik
