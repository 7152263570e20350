#include "cli/interrupt_watch.h"

#include <cstdio>
#include <mutex>

#include "cli/cli_options.h"
#include "texts/interface_texts.h"
#include "cli/console.h"

namespace tarvik {

namespace {
std::mutex g_flushLock;
std::function<void()> g_flushOnInterrupt;
}  // namespace

void InterruptWatch::FlushOnInterrupt(std::function<void()> flush) {
  std::lock_guard<std::mutex> lock(g_flushLock);
  g_flushOnInterrupt = std::move(flush);
}

void InterruptWatch::Notice() {
  {
    // Held while it runs: the transcript is not closed under it.
    std::lock_guard<std::mutex> lock(g_flushLock);
    if (g_flushOnInterrupt) g_flushOnInterrupt();
  }
  if (m_interrupted.exchange(true)) {
    QuitAtOnce(Tr("\ntarvik-update-cli: interrupted again: quitting at once\n"), kExitInterrupted);
  }
  if (m_running && !m_running()) {
    std::fprintf(stderr, "%s", Tr("\ntarvik-update-cli: no update was running: stopping\n"));
  } else {
    std::fprintf(stderr, "%s", Tr("\ntarvik-update-cli: stopping at the next step (Ctrl-C again quits at once)\n"));
  }
  if (m_onFirst) m_onFirst();
}

}  // namespace tarvik
