#include "platform/win32/win32_clock.h"

#include "platform/win32/win32_api.h"

namespace tarvik::win32 {

Win32Clock::Win32Clock() {
  LARGE_INTEGER frequency;
  if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0)
    m_frequency = frequency.QuadPart;
}

uint64_t Win32Clock::NowMs() {
  LARGE_INTEGER counter;
  if (m_frequency == 0 || !QueryPerformanceCounter(&counter)) return GetTickCount64();
  // Whole seconds and the remainder apart: counts * 1000 would overflow after
  // some weeks of uptime at a 10 MHz counter.
  const uint64_t counts = static_cast<uint64_t>(counter.QuadPart);
  const uint64_t frequency = static_cast<uint64_t>(m_frequency);
  return counts / frequency * 1000 + counts % frequency * 1000 / frequency;
}

void Win32Clock::SleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace tarvik::win32
