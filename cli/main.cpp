// tarvik-update-cli: the updater's window logic without a display, for
// automation, support transcripts and machines without a controller.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/replay_run.h"

namespace {

// A usage error as the rest of the output: one line, and with --json one document.
int UsageError(bool json, const std::string& command, const std::string& message) {
  if (json) {
    nlohmann::ordered_json document = {{"command", command.empty() ? nullptr : nlohmann::ordered_json(command)},
                                       {"result", "error"},
                                       {"reason", message},
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
  CLI::App app{"Tarvik Update: firmware updater for Tarvik game controllers, without a window."};
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the command too
  // "/x" is a path on every platform (CLI11 reads it as an option on Windows otherwise).
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", std::string("tarvik-update-cli ") + TARVIK_VERSION);
  app.footer(std::string(kExitStatusHelp) + "\n\n" + kSimKeysHelp);
  GlobalOptions options;
  app.add_option("--simulate", options.simulate,
                 "Use a simulated controller bus: boot, packet1, packet2 or none, or a comma-separated "
                 "list, one controller per entry in bus order (boot,boot,packet1)");
  app.add_option("--sim", options.simSettings,
                 "Simulated controller behaviour, KEY=VALUE for every controller, N:KEY=VALUE for the N-th");
  app.add_option("--device", options.device,
                 "The controller info and flash act on: an index from list, a path or a boot-mode UID");
  app.add_option("--transcript", options.transcriptPath,
                 "Record everything as JSON lines to FILE, or - for standard output");
  app.add_flag("--redact", options.redact,
               "With --transcript: record the controller's UID and the image's bytes only as digests, which "
               "--replay still checks");
  app.add_option("--replay", options.replayPath,
                 "Talk to the controllers a transcript recorded (--transcript FILE) instead of real ones, and "
                 "check every report sent against it");
  app.add_flag("--json", options.json, "Print one JSON document on standard output");
  app.add_flag("--verbose,-v", options.verbose, "Show the trace and the window's messages on standard error");
  app.add_flag("--quiet,-q", options.quiet, "Print nothing on success");
  const std::vector<std::unique_ptr<CliCommand>> commands = MakeCommands();
  for (const auto& c : commands) c->AddTo(app);

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
    return UsageError(wantsJson, command, std::string(e.what()) + " (see --help)");
  }
  if (options.verbose && options.quiet) return UsageError(options.json, command, "--verbose and --quiet exclude each other");
  for (const auto& c : commands) {
    if (!c->Chosen()) continue;
    if (const std::string problem = c->UsageProblem(app); !problem.empty()) {
      return UsageError(options.json, command, problem);
    }
    if (options.redact && options.transcriptPath.empty()) {
      return UsageError(options.json, command, "--redact says how the transcript is written: it goes with --transcript");
    }
    CliReplay replay;
    if (!options.replayPath.empty()) {
      if (!options.simulate.empty() || !options.simSettings.empty()) {
        return UsageError(options.json, command, "--replay plays recorded controllers back: it goes without --simulate and --sim");
      }
      std::string error;
      if (!replay.Load(options.replayPath, error)) return UsageError(options.json, command, error);
      options.replay = &replay;
    }
    const int status = c->Run(options);
    return options.replay ? replay.Conclude(options, status) : status;
  }
  return UsageError(options.json, command, "no command given");
}
