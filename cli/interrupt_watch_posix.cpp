#include <signal.h>

#include "cli/interrupt_watch.h"

namespace tarvik {

InterruptWatch::InterruptWatch(std::function<void()> onFirst, std::function<bool()> running)
    : m_onFirst(std::move(onFirst)), m_running(std::move(running)) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m_thread = std::thread([this, set] {
    while (!m_done.load()) {
      const timespec wait = {0, 100 * 1000 * 1000};
      if (sigtimedwait(&set, nullptr, &wait) == SIGINT) Notice();
    }
  });
}

InterruptWatch::~InterruptWatch() {
  m_done.store(true);
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace tarvik
