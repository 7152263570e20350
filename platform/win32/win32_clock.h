// The real clock on Windows: the performance counter, and Sleep.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace tarvik::win32 {

class Win32Clock final : public IClock {
 public:
  Win32Clock();
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;

 private:
  int64_t m_frequency = 0;  // counts per second; 0: the tick count is used instead
};

}  // namespace tarvik::win32
