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
};

}  // namespace tarvik
