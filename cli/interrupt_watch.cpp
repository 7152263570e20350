#include "cli/interrupt_watch.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "cli/cli_options.h"

namespace tarvik {

InterruptWatch::InterruptWatch(std::function<void()> onFirst) : m_onFirst(std::move(onFirst)) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m_thread = std::thread([this, set] {
    while (!m_done.load()) {
      const timespec wait = {0, 100 * 1000 * 1000};
      if (sigtimedwait(&set, nullptr, &wait) != SIGINT) continue;
      if (m_interrupted.exchange(true)) {
        static const char kQuit[] = "\ntarvik-update-cli: interrupted again: quitting at once\n";
        [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, kQuit, sizeof kQuit - 1);
        ::_exit(kExitInterrupted);
      }
      std::fprintf(stderr, "\ntarvik-update-cli: stopping at the next step (Ctrl-C again quits at once)\n");
      if (m_onFirst) m_onFirst();
    }
  });
}

InterruptWatch::~InterruptWatch() {
  m_done.store(true);
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace tarvik
