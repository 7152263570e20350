// history: every flash attempt recorded in the journal, oldest first.
#include <cstdio>
#include <vector>

#include "cli/cli_output.h"
#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "cli/commands.h"
#include "cli/history.h"

namespace tarvik {

namespace {

class HistoryCommand final : public CliCommand {
 public:
  int Run(const GlobalOptions& options) override;

 protected:
  CLI::App* Define(CLI::App& line) override {
    return line.add_subcommand("history", Tr("List every flash recorded in the journal, newest last"));
  }
  std::vector<Unused> UnusedOptions() const override {
    return {{"--simulate", N_("history reads only the journal")},
            {"--sim", N_("history reads only the journal")},
            {"--transcript", N_("history talks to no controller")},
            {"--replay", N_("history talks to no controller")},
            {"--verbose", N_("history has no trace to show")}};
  }
};

int HistoryCommand::Run(const GlobalOptions& options) {
  json document = {{"command", "history"}};
  const std::string file = HistoryFileFor(false);
  if (file.empty()) {
    document["result"] = "error";
    return Conclude(options, document, kExitFailed,
                    StrFormat(Tr("there is no journal: neither a state directory nor %s"), kHistoryVariable),
                    kCodeHistoryUnreadable);
  }
  const HistoryRead read = ReadHistory(file);
  if (!read.problem.empty()) {
    document["result"] = "error";
    return Conclude(options, document, kExitFailed, read.problem, kCodeHistoryUnreadable);
  }
  // A damaged line is passed over, and kept: the journal is never rewritten.
  for (const size_t line : read.damagedLines) {
    std::fprintf(stderr, Tr("tarvik-update-cli: warning: line %zu of %s is damaged; skipped\n"), line, file.c_str());
  }
  json entries = json::array();
  for (const json& entry : read.entries) {
    if (!options.device.empty() && !HistoryEntryMatches(entry, options.device)) continue;
    entries.push_back(entry);
    if (!options.json) std::printf("%s\n", HistoryLine(entry).c_str());
  }
  if (!options.json && !options.quiet && entries.empty()) {
    std::printf(options.device.empty() ? Tr("No flash recorded in %s\n") : Tr("No flash recorded for that controller in %s\n"),
                file.c_str());
  }
  document["result"] = "ok";
  document["entries"] = entries;
  return Conclude(options, document, kExitOk, "");
}

}  // namespace

std::unique_ptr<CliCommand> MakeHistoryCommand() { return std::make_unique<HistoryCommand>(); }

}  // namespace tarvik
