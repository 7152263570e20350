#include "cli/replay_run.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "cli/history.h"

namespace tarvik {

bool CliReplay::Load(const std::string& path, std::string& error) {
  std::ifstream in(PathOfUtf8(path), std::ios::binary);
  if (!in) {
    error = StrFormat(Tr("cannot read the transcript %s"), path.c_str());
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::optional<ReplayRecording> recording = ReplayRecording::Parse(text.str(), error);
  if (!recording) {
    error = path + ": " + error;
    return false;
  }
  m_bus = std::make_unique<ReplayBus>(std::move(*recording), m_clock);
  return true;
}

int CliReplay::Conclude(const GlobalOptions& options, int status) {
  if (status == kExitUsage || status == kExitInterrupted) return status;
  if (m_bus->Verdict()) {
    TellDivergence();
    return kExitDiverged;
  }
  if (!options.quiet) {
    const size_t matched = m_bus->ReportsMatched();
    std::fprintf(stderr, "tarvik-update-cli: %s\n",
                 StrFormat(TrN("the replay matched the recording to its end (%zu output report)",
                               "the replay matched the recording to its end (%zu output reports)", matched),
                           matched)
                     .c_str());
  }
  return kExitOk;
}

void CliReplay::TellDivergence() {
  if (m_told || !m_bus) return;
  if (const std::optional<ReplayDivergence> divergence = m_bus->Verdict()) {
    std::fprintf(stderr, "tarvik-update-cli: %s\n", divergence->Describe().c_str());
    m_told = true;
  }
}

}  // namespace tarvik
