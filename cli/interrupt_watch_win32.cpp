#include "cli/interrupt_watch.h"

#include "platform/win32/win32_api.h"

namespace tarvik {

namespace {

// The console calls its handlers on a thread of its own; one watch at a time.
std::atomic<InterruptWatch*> g_watch{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing, log-off: as usual
  InterruptWatch* watch = g_watch.load();
  if (!watch) return FALSE;
  watch->Notice();
  return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> onFirst, std::function<bool()> running)
    : m_onFirst(std::move(onFirst)), m_running(std::move(running)) {
  g_watch.store(this);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_watch.store(nullptr);
}

}  // namespace tarvik
