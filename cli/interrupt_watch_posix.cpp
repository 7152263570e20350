#include <signal.h>

#include "cli/interrupt_watch.h"

namespace tarvik {

namespace {
constexpr int kWakeSignal = SIGUSR1;
}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> onFirst, std::function<bool()> running)
    : m_onFirst(std::move(onFirst)), m_running(std::move(running)) {
  // SIGINT is the user's; SIGUSR1 is how the destructor wakes the watch, so
  // that the program's end waits for nothing.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, kWakeSignal);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m_thread = std::thread([this, set] {
    while (!m_done.load()) {
      if (sigwaitinfo(&set, nullptr) == SIGINT) Notice();
    }
  });
}

InterruptWatch::~InterruptWatch() {
  m_done.store(true);
  if (m_thread.joinable()) {
    pthread_kill(m_thread.native_handle(), kWakeSignal);
    m_thread.join();
  }
}

}  // namespace tarvik
