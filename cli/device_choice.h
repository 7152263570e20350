// Which controller a command works on: --device's index, path or UID, and
// what a controller's session finds when it probes it.
#pragma once

#include <string>

#include "cli/cli_platform.h"
#include "session/update_session.h"

namespace tarvik {

// The controller of `target`, probed on a session of its own as the
// window's start-up would: found, report mode, versions, information blocks.
ControllerReport ProbeController(CliPlatform& platform, const ControllerTarget& target);

// The controller --device names: an index from list, a path, or a boot-mode
// UID (24 hex digits; spaces, colons and dashes ignored). False with `reason`
// when none matches.
bool ResolveDevice(CliPlatform& platform, const std::string& selector, ControllerEntry& chosen, std::string& reason);
// The target of --device SELECTOR; false (transcript finished) when no
// controller answers to it.
bool TargetOfDevice(CliPlatform& platform, const std::string& selector, ControllerTarget& target,
                    std::string& error);

}  // namespace tarvik
