#include "cli/interrupt_watch.h"

#include <cstdio>

#include "cli/cli_options.h"
#include "cli/cli_text.h"
#include "cli/console.h"

namespace tarvik {

namespace {
std::atomic<std::FILE*> g_flushOnInterrupt{nullptr};
}  // namespace

void InterruptWatch::FlushOnInterrupt(std::FILE* file) { g_flushOnInterrupt.store(file); }

void InterruptWatch::Notice() {
  if (std::FILE* file = g_flushOnInterrupt.load()) std::fflush(file);
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
