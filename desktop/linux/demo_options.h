// The demo's simulated controller, from its --simulate and --sim options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/sim_setup.h"

namespace tarvik {

// The simulated bus for `modes` (boot, packet1, packet2, none, or a
// comma-separated list of the first three: one controller each, in bus order;
// the window takes the first it finds) with the
// behaviour `settings` (KEY=VALUE, as tarvik-update-cli takes them). Unlike
// the CLI's, the demo's report-mode-2 controller answers the mode-2 signal by
// coming back in report mode 1, as a real one does (switch=ignore plays one
// that does not). Nothing, with `error` set, for a mistake.
std::optional<SimLayout> DemoSimLayout(const std::string& modes, const std::vector<std::string>& settings,
                                       std::string& error);
// The first controller of DemoSimLayout.
std::optional<SimOptions> DemoSimOptions(const std::string& mode, const std::vector<std::string>& settings,
                                         std::string& error);

}  // namespace tarvik
