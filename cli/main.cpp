// tarvik-update-cli: the updater's window logic without a display, for
// automation, support transcripts and machines without a controller.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char** argv) {
  using namespace tarvik;
  CLI::App app{"Tarvik Update: firmware updater for Tarvik game controllers, without a window."};
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the command too
  CliOptions options;
  app.add_option("--simulate", options.simulate,
                 "Use a simulated controller bus: boot, packet1, packet2 or none");
  app.add_option("--sim", options.simSettings, "Simulated controller behaviour, KEY=VALUE");
  app.add_option("--transcript", options.transcriptPath,
                 "Record everything as JSON lines to FILE, or - for standard output");
  app.add_flag("--json", options.json, "Print one JSON document on standard output");

  CLI::App* run = app.add_subcommand("run", "Run the updater's window: start-up, then button presses");
  run->add_option("--image", options.image, "Image to pick in the file dialog (none: cancel it)");
  run->add_option("--confirm", options.confirm, "Answer to the version confirmation")
      ->check(CLI::IsMember({"yes", "no"}));
  run->add_option("--press", options.presses, "Presses of the update button (0: start-up only)");

  CLI::App* flash = app.add_subcommand("flash", "Write an image into the connected controller");
  flash->add_option("PATH", options.path, "Firmware image (*.dat)")->required();
  flash->add_flag("--yes,-y", options.assumeYes, "Confirm the version change without asking");

  CLI::App* info = app.add_subcommand("info", "Show the connected controller and its firmware");

  CLI::App* image = app.add_subcommand("image", "Check an image file and list its records");
  image->add_option("PATH", options.path, "Firmware image (*.dat)")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (run->parsed()) return RunCommand(options);
  if (flash->parsed()) return FlashCommand(options);
  if (info->parsed()) return InfoCommand(options);
  if (image->parsed()) return ImageCommand(options);
  return kExitUsage;
}
