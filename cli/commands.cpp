#include "cli/commands.h"

#include "base/strformat.h"
#include "texts/interface_texts.h"

namespace tarvik {

std::string CliCommand::UsageProblem(const CLI::App& line) const {
  // An option the command would not use is a mistake to point out, not one to pass over.
  for (const Unused& unused : UnusedOptions()) {
    if (line.get_option(unused.option)->count() > 0) {
      return StrFormat(Tr("%s does not apply to %s: %s"), unused.option, m_command->get_name().c_str(), Tr(unused.why));
    }
  }
  return CheckOwnOptions();
}

std::vector<std::unique_ptr<CliCommand>> MakeCommands() {
  std::vector<std::unique_ptr<CliCommand>> commands;
  commands.push_back(MakeRunCommand());
  commands.push_back(MakeFlashCommand());
  commands.push_back(MakeInfoCommand());
  commands.push_back(MakeImageCommand());
  commands.push_back(MakeListCommand());
  commands.push_back(MakeHistoryCommand());
  return commands;
}

}  // namespace tarvik
