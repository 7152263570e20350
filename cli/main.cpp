// tarvik-update-cli: the updater's window logic without a display, for
// automation, support transcripts and machines without a controller.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/console.h"

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
  CliOptions options;
  app.add_option("--simulate", options.simulate,
                 "Use a simulated controller bus: boot, packet1, packet2 or none, or a comma-separated "
                 "list, one controller per entry in bus order (boot,boot,packet1)");
  app.add_option("--sim", options.simSettings,
                 "Simulated controller behaviour, KEY=VALUE for every controller, N:KEY=VALUE for the N-th");
  app.add_option("--device", options.device,
                 "The controller info and flash act on: an index from list, a path or a boot-mode UID");
  app.add_option("--transcript", options.transcriptPath,
                 "Record everything as JSON lines to FILE, or - for standard output");
  app.add_flag("--json", options.json, "Print one JSON document on standard output");
  app.add_flag("--verbose,-v", options.verbose, "Show the trace and the window's messages on standard error");
  app.add_flag("--quiet,-q", options.quiet, "Print nothing on success");

  CLI::App* run = app.add_subcommand("run", "Run the updater's window: start-up, then button presses");
  run->add_option("--image", options.image, "Image to pick in the file dialog (none: cancel it)");
  run->add_option("--confirm", options.confirm, "Answer to the version confirmation")
      ->check(CLI::IsMember({"yes", "no"}));
  run->add_option("--press", options.presses, "Presses of the update button (0: start-up only)");

  CLI::App* flash = app.add_subcommand("flash", "Write an image into the connected controller, or into all of them");
  flash->add_option("PATH", options.path, "Firmware image (*.dat)")->required();
  flash->add_flag("--yes,-y", options.assumeYes, "Confirm the version change without asking");
  flash->add_flag("--allow-older", options.allowOlder, "With --yes: write an image older than the firmware");
  flash->add_flag("--allow-reinstall", options.allowReinstall,
                  "With --yes: write the version the controller already runs");
  flash->add_flag("--all", options.all, "Update every supported controller present, at the same time");
  flash->add_flag("--watch", options.watch,
                  "Station mode (with --yes): update each controller as it arrives, until Ctrl-C or --count");
  flash->add_option("--count", options.count, "With --watch: end after N upgrades");

  CLI::App* info = app.add_subcommand("info", "Show the connected controller and its firmware");

  CLI::App* image = app.add_subcommand("image", "Check an image file and list its records");
  image->add_option("PATH", options.path, "Firmware image (*.dat)")->required();

  CLI::App* list = app.add_subcommand("list", "List every supported controller, in bus order");

  // --json is honoured even when the rest of the line cannot be parsed.
  bool wantsJson = false;
  std::string command;
  for (int i = 1; i < argc; ++i) {
    wantsJson = wantsJson || std::strcmp(argv[i], "--json") == 0;
    for (const char* name : {"run", "flash", "info", "image", "list"}) {
      if (command.empty() && std::strcmp(argv[i], name) == 0) command = name;
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
  // An option the command would not use is a mistake to point out, not one to pass over.
  struct NotForCommand {
    const CLI::App* command;
    const char* option;
    const char* why;
  };
  const NotForCommand notFor[] = {
      {run, "--device", "run drives the window, which takes the first controller it finds"},
      {image, "--device", "image reads only the file"},
      {image, "--simulate", "image reads only the file"},
      {image, "--sim", "image reads only the file"},
      {image, "--transcript", "image reads only the file"},
      {image, "--verbose", "image has no trace to show"},
      {info, "--quiet", "info prints only what it was asked for"},
      {list, "--quiet", "list prints only what it was asked for"},
  };
  for (const NotForCommand& n : notFor) {
    if (n.command->parsed() && app.get_option(n.option)->count() > 0) {
      return UsageError(options.json, command,
                        std::string(n.option) + " does not apply to " + command + ": " + n.why);
    }
  }
  if (flash->parsed() && !options.assumeYes && !options.all && (options.allowOlder || options.allowReinstall)) {
    return UsageError(options.json, command,
                      std::string(options.allowOlder ? "--allow-older" : "--allow-reinstall") +
                          " goes with --yes: without it the prompt asks");
  }
  if (run->parsed()) return RunCommand(options);
  if (flash->parsed()) return FlashCommand(options);
  if (info->parsed()) return InfoCommand(options);
  if (list->parsed()) return ListCommand(options);
  if (image->parsed()) return ImageCommand(options);
  return UsageError(options.json, command, "no command given");
}
