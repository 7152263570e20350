#include "platform/win32/win32_clock.h"

#include "platform/win32/win32_api.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tarvik::win32 {
namespace {

HANDLE CreateHighResolutionTimer() {
  return CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                TIMER_MODIFY_STATE | SYNCHRONIZE);
}

}  // namespace

Win32Clock::Win32Clock() {
  LARGE_INTEGER frequency;
  if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0)
    m_frequency = frequency.QuadPart;
  // Systems before Windows 10 1803 refuse the flag.
  if (HANDLE timer = CreateHighResolutionTimer()) {
    m_highResolutionTimer = true;
    CloseHandle(timer);
  }
}

uint64_t Win32Clock::Now(uint64_t unitsPerSecond) {
  LARGE_INTEGER counter;
  if (m_frequency == 0 || !QueryPerformanceCounter(&counter)) return GetTickCount64() * (unitsPerSecond / 1000);
  // Whole seconds and the remainder apart: counts * 1000000 would overflow
  // after some days of uptime at a 10 MHz counter.
  const uint64_t counts = static_cast<uint64_t>(counter.QuadPart);
  const uint64_t frequency = static_cast<uint64_t>(m_frequency);
  return counts / frequency * unitsPerSecond + counts % frequency * unitsPerSecond / frequency;
}

uint64_t Win32Clock::NowMs() { return Now(1000); }

uint64_t Win32Clock::NowUs() { return Now(1000000); }

void Win32Clock::SleepMs(uint32_t ms) { Sleep(ms); }

void Win32Clock::SleepUntilUs(uint64_t deadlineUs) {
  // One timer per wait: several workers may wait on the clock at once.
  HANDLE timer = m_highResolutionTimer ? CreateHighResolutionTimer() : nullptr;
  if (!timer) {
    IClock::SleepUntilUs(deadlineUs);
    return;
  }
  m_late.Wait(deadlineUs, [this] { return NowUs(); }, [&](uint64_t targetUs) {
    const uint64_t now = NowUs();
    if (targetUs <= now) return;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>((targetUs - now) * 10);  // relative, in 100 ns units
    if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(timer, INFINITE);
    } else {
      Sleep(static_cast<DWORD>((targetUs - now) / 1000));
    }
  });
  CloseHandle(timer);
}

}  // namespace tarvik::win32
