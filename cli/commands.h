// The commands of tarvik-update-cli. Each returns the process's exit status.
#pragma once

#include "cli/cli_options.h"

namespace tarvik {

int RunCommand(const CliOptions& options);
int FlashCommand(const CliOptions& options);
int InfoCommand(const CliOptions& options);
int ImageCommand(const CliOptions& options);
int ListCommand(const CliOptions& options);

}  // namespace tarvik
