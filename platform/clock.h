// Clock seam. Every wait of the engine (sleeps, read time-outs) is measured on
// this clock, so that a virtual clock lets tests of long time-outs run at once.
// Waits that only the passing of time ends (an idle window's next timer tick,
// a read of a report not yet due) ask the clock too, rather than which clock it is.
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
  // For a caller with nothing to do until NowMs() reaches `ms` but wait: a
  // clock whose time passes only in waits moves on to `ms` at once (never
  // back) and returns true; a clock that runs by itself returns false, and the
  // caller waits in real time as it would.
  virtual bool AdvanceIdleTo(uint64_t /*ms*/) { return false; }
  // Whether time passes while nobody waits on this clock. When it does not,
  // nothing falls due between calls (whoever watches for a due time may look
  // at its next call), and a thread that polls other threads must give them
  // real time of its own, since its waits on this clock take none.
  virtual bool RunsByItself() const { return true; }
};

}  // namespace tarvik
