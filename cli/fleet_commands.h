// flash --all (every controller present, at once) and flash --watch (each
// controller as it arrives, until Ctrl-C or --count upgrades).
#pragma once

#include "cli/cli_options.h"
#include "cli/flash_one.h"

namespace tarvik {

int FlashAll(const GlobalOptions& global, const FlashOptions& options, const ImageCheck& image);
int FlashWatch(const GlobalOptions& global, const FlashOptions& options, const ImageCheck& image);

}  // namespace tarvik
