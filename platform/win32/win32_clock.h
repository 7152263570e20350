// The real clock on Windows: the performance counter, Sleep, and for deadline
// waits a high-resolution waitable timer where the system has one.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/std/late_wake_estimate.h"

namespace tarvik::win32 {

class Win32Clock final : public IClock {
 public:
  Win32Clock();
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;
  uint64_t NowUs() override;
  // With a high-resolution waitable timer (Windows 10 1803 and later): sleeps
  // to before the deadline by how late recent wakes were, then yields the
  // rest. Without one, Sleep's whole milliseconds, up to the deadline.
  void SleepUntilUs(uint64_t deadlineUs) override;

 private:
  // Counts of the performance counter in `unitsPerSecond` units.
  uint64_t Now(uint64_t unitsPerSecond);

  int64_t m_frequency = 0;  // counts per second; 0: the tick count is used instead
  bool m_highResolutionTimer = false;
  LateWakeEstimate m_late;
};

}  // namespace tarvik::win32
