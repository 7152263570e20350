// --replay FILE: the command runs against the controllers of a transcript,
// played back on a virtual clock; the run's status is whether the engine sent
// what the recording holds.
#pragma once

#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "platform/std/virtual_clock.h"
#include "transcript/replay_bus.h"

namespace tarvik {

class CliReplay {
 public:
  // Reads the transcript at `path`; false with `error` set when it cannot be read.
  bool Load(const std::string& path, std::string& error);
  IClock& Clock() { return m_clock; }
  IHidBus& Bus() { return *m_bus; }
  // The exit status of a command that ended with `status`: usage errors and
  // interruptions keep theirs; otherwise 0 when the run matched the recording
  // to its end, kExitDiverged with the difference on standard error when not.
  int Conclude(const GlobalOptions& options, int status);
  // Says on standard error where the run left the recording, if it did. Once.
  void TellDivergence();

 private:
  bool m_told = false;
  VirtualClock m_clock;
  std::unique_ptr<ReplayBus> m_bus;
};

}  // namespace tarvik
