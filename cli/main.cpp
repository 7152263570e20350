// tarvik-update-cli: the updater's window logic without a display, for
// automation, support transcripts and machines without a controller.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/native_platform.h"
#include "cli/replay_run.h"

namespace {

// CLI11's own sentences for the mistakes a command line makes most, in the
// interface language. Each is told by the words CLI11 puts around its pieces.
// Others stay as CLI11 words them.
std::string ParserMessage(const std::string& english) {
  using tarvik::StrFormat;
  using tarvik::Tr;
  const auto startsWith = [&english](std::string_view start) { return english.rfind(start, 0) == 0; };
  const auto endsWith = [&english](std::string_view end) {
    return english.size() >= end.size() && english.compare(english.size() - end.size(), end.size(), end) == 0;
  };
  if (english == "A subcommand is required") return Tr("A subcommand is required");
  for (const char* format : {N_("The following argument was not expected: %s"),
                             N_("The following arguments were not expected: %s"), N_("Could not convert: %s = %s")}) {
    const std::string_view start = std::string_view(format).substr(0, std::string_view(format).find('%'));
    if (!startsWith(start)) continue;
    const std::string rest = english.substr(start.size());
    if (std::string_view(format).find("%s = %s") == std::string_view::npos) {
      return StrFormat(Tr(format), rest.c_str());
    }
    const size_t equals = rest.find(" = ");
    if (equals == std::string::npos) break;
    return StrFormat(Tr(format), rest.substr(0, equals).c_str(), rest.substr(equals + 3).c_str());
  }
  if (endsWith(" is required")) {
    return StrFormat(Tr("%s is required"), english.substr(0, english.size() - 12).c_str());
  }
  // "PATH: 1 required TEXT missing".
  if (const size_t colon = english.find(": "); colon != std::string::npos && endsWith(" missing")) {
    int count = 0;
    char kind[64] = {};
    if (std::sscanf(english.c_str() + colon + 2, "%d required %63s missing", &count, kind) == 2) {
      return StrFormat(Tr("%s: %d required %s missing"), english.substr(0, colon).c_str(), count, kind);
    }
  }
  return english;
}

// The edit distance of two words: how far a mistyped command is from a real one.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The first word of the line that is neither an option nor an option's
// value: where the command should stand. Empty when there is none.
std::string CommandWord(int argc, char** argv, const CLI::App& app) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] != '-') return word;
    if (word.find('=') != std::string::npos) continue;
    const CLI::Option* option = app.get_option_no_throw(word);
    if (option != nullptr && option->get_items_expected_min() != 0) ++i;  // its value follows
  }
  return {};
}

// A usage error as the rest of the output: one line, and with --json one document.
int UsageError(bool json, const std::string& command, const std::string& message) {
  if (json) {
    nlohmann::ordered_json document = {{"command", command.empty() ? nullptr : nlohmann::ordered_json(command)},
                                       {"result", "error"},
                                       {"reason", message},
                                       {"code", tarvik::kCodeUsage},
                                       {"exitStatus", tarvik::kExitUsage}};
    std::puts(document.dump(2).c_str());
  }
  std::fprintf(stderr, "tarvik-update-cli: %s\n", message.c_str());
  return tarvik::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvik;
  PrepareConsole();
  // One language for the run: the window's texts and the program's own go by
  // the same interface language.
  {
    const std::unique_ptr<IClock> clock = MakeNativeClock();
    ChooseTextLanguage(MakeNativeSystem(*clock, false)->InterfaceLanguage());
  }
  CLI::App app{Tr("Tarvik Update: firmware updater for Tarvik game controllers, without a window.")};
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the command too
  // "/x" is a path on every platform (CLI11 reads it as an option on Windows otherwise).
  app.allow_windows_style_options(false);
  // Before the commands are added: they take the help flag's text from here.
  // CLI11's own headings and marks in the help pages, in the run's language.
  // The commands share the program's formatter, and take their options' group from here.
  for (const char* label : {N_("Usage"), N_("Positionals"), N_("Subcommands"), N_("REQUIRED"), N_("Needs"),
                            N_("Excludes"), N_("OPTIONS"), N_("SUBCOMMAND")}) {
    app.get_formatter()->label(label, Tr(label));
  }
  app.option_defaults()->group(Tr("Options"));
  app.set_help_flag("-h,--help", Tr("Print this help message and exit"));
  app.set_version_flag("--version", std::string("tarvik-update-cli ") + TARVIK_VERSION,
                       Tr("Display program version information and exit"));
  GlobalOptions options;
  app.add_option("--simulate", options.simulate,
                 Tr("Use a simulated controller bus: boot, packet1, packet2 or none, or a comma-separated "
                    "list, one controller per entry in bus order (boot,boot,packet1)"))
      ->type_name("MODE[,MODE...]");
  app.add_option("--sim", options.simSettings,
                 Tr("Simulated controller behaviour, KEY=VALUE for every controller, N:KEY=VALUE for the N-th "
                    "(keys: --help-sim)"))
      ->type_name("[N:]KEY=VALUE")
      // One setting a use: a word after it is the command's, the image's path among them.
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--help-sim")->description(Tr("Print the keys of --sim and exit"));
  app.add_option("--device", options.device,
                 Tr("The controller info and flash act on: an index from list, a path, a place or a boot-mode UID"))
      ->type_name("SELECTOR");
  app.add_option("--transcript", options.transcriptPath,
                 Tr("Record everything as JSON lines to FILE, or - for standard output"))
      ->type_name("FILE");
  app.add_flag("--redact", options.redact,
               Tr("With --transcript: record the controller's UID and the image's bytes only as digests, which "
                  "--replay still checks"));
  app.add_option("--replay", options.replayPath,
                 Tr("Talk to the controllers a transcript recorded (--transcript FILE) instead of real ones, and "
                    "check every report sent against it"))
      ->type_name("FILE");
  app.add_flag("--json", options.json, Tr("Print one JSON document on standard output"));
  app.add_flag("--verbose,-v", options.verbose, Tr("Show the trace and the window's messages on standard error"));
  app.add_flag("--quiet,-q", options.quiet, Tr("Print nothing on success"));
  const std::vector<std::unique_ptr<CliCommand>> commands = MakeCommands();
  for (const auto& c : commands) c->AddTo(app);
  // A command's help flag is made before it takes the group: it joins its options.
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    if (CLI::Option* help = sub->get_help_ptr()) help->group(Tr("Options"));
  }
  // Set after the commands: they would take it over, and their pages show their own options only.
  app.footer(Tr(kExitStatusHelp));

  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help-sim") == 0) {
      std::printf("%s\n", Tr(kSimKeysHelp));
      return kExitOk;
    }
  }

  // --json is honoured even when the rest of the line cannot be parsed.
  bool wantsJson = false;
  std::string command;
  for (int i = 1; i < argc; ++i) {
    wantsJson = wantsJson || std::strcmp(argv[i], "--json") == 0;
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
      if (command.empty() && sub->get_name() == argv[i]) command = argv[i];
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // A word where the command goes that is none: name it and the nearest one.
    if (const std::string word = CommandWord(argc, argv, app); command.empty() && !word.empty()) {
      std::string nearest;
      for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
        if (nearest.empty() || Distance(word, sub->get_name()) < Distance(word, nearest)) nearest = sub->get_name();
      }
      return UsageError(wantsJson, command,
                        StrFormat(Tr("\"%s\" is not a command; the nearest is \"%s\" (see --help)"), word.c_str(),
                                  nearest.c_str()));
    }
    return UsageError(wantsJson, command, StrFormat(Tr("%s (see --help)"), ParserMessage(e.what()).c_str()));
  }
  if (options.verbose && options.quiet) return UsageError(options.json, command, Tr("--verbose and --quiet exclude each other"));
  for (const auto& c : commands) {
    if (!c->Chosen()) continue;
    if (const std::string problem = c->UsageProblem(app); !problem.empty()) {
      return UsageError(options.json, command, problem);
    }
    if (options.redact && options.transcriptPath.empty()) {
      return UsageError(options.json, command,
                        Tr("--redact says how the transcript is written: it goes with --transcript"));
    }
    CliReplay replay;
    if (!options.replayPath.empty()) {
      if (!options.simulate.empty() || !options.simSettings.empty()) {
        return UsageError(options.json, command,
                        Tr("--replay plays recorded controllers back: it goes without --simulate and --sim"));
      }
      std::string error;
      if (!replay.Load(options.replayPath, error)) return UsageError(options.json, command, error);
      options.replay = &replay;
    }
    const int status = c->Run(options);
    return options.replay ? replay.Conclude(options, status) : status;
  }
  return UsageError(options.json, command, Tr("no command given"));
}
