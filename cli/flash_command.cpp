// flash: one controller (or, with --all and --watch, many) updated with an
// image checked before anything reaches a controller.
#include <cstdio>
#include <optional>
#include <string>

#include "base/strformat.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/device_choice.h"
#include "cli/fleet_commands.h"
#include "cli/flash_one.h"
#include "cli/interrupt_watch.h"

namespace tarvik {

int FlashCommand(const CliOptions& options) {
  json document = {{"command", "flash"}};
  if (options.all && options.watch) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--all and --watch exclude each other");
  }
  if ((options.all || options.watch) && !options.device.empty()) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--device picks one controller: it goes without --all and --watch");
  }
  if (options.count != 0 && !options.watch) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--count goes with --watch");
  }
  // Refused before any report: the transcript, if asked for, holds only the outcome.
  const auto refuse = [&](OutcomeResult result, int status, const std::string& reason) {
    CliPlatform platform;
    std::string error;
    int code = kExitOk;
    if (platform.Set(options, error, code)) {
      UpdateOutcome refused;
      refused.result = result;
      refused.reason = reason;
      platform.RecordOutcome(refused);
      platform.FinishTranscript();
    }
    document["result"] = OutcomeName(result);
    return Conclude(options, document, status, reason);
  };
  const ImageCheck image = CheckImage(options.path);
  if (!image.reason.empty()) return refuse(OutcomeResult::kRejected, kExitImage, image.reason);
  // Nobody can answer the confirmation: say what a script needs instead of waiting for it.
  if (!options.assumeYes && !options.watch && !StandardInputIsTerminal()) {
    return refuse(OutcomeResult::kCancelled, kExitCancelled,
                  "the update needs a confirmation and standard input is not a terminal: add --yes to give it");
  }
  if (options.all) return FlashAll(options, image);
  if (options.watch) return FlashWatch(options, image);

  TerminalSettings settings;
  settings.assumeYes = options.assumeYes;
  settings.verbose = options.verbose;
  settings.drawProgress = !options.quiet && StandardErrorIsTerminal();
  TerminalUser user(settings);

  StopSource stops;
  InterruptWatch interrupts([&] {
    stops.RequestStop();
    user.Interrupt();
  });

  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, options, document)) return *ended;
  ControllerTarget target;
  if (!options.device.empty()) {
    if (std::string error; !TargetOfDevice(platform, options.device, target, error)) {
      document["result"] = "no controller";
      return Conclude(options, document, kExitNoController, error);
    }
  } else if (const size_t count = platform.Controllers().size(); count > 1) {
    platform.FinishTranscript();
    document["result"] = "error";
    return Conclude(options, document, kExitUsage,
                    StrFormat("%zu controllers are connected: choose one with --device (an index from list, a "
                              "path or a boot-mode UID), or update them all with --all",
                              count));
  }

  FlashResult r = FlashOne(platform, options, image, user, stops, target, false);
  user.FinishProgress();
  platform.FinishTranscript();
  if (!r.outcome) {
    document["result"] = r.result;
    return Conclude(options, document, r.status, r.reason);
  }
  document = OutcomeDocument("flash", *r.outcome);
  document["controller"] = r.controller;
  if (r.status == kExitOk) {
    if (!options.quiet && !options.json) {
      std::printf("Upgraded %s from %s to %s (%llu bytes, %.1f s)\n", r.controller.c_str(),
                  r.outcome->controllerVersion.c_str(), r.outcome->imageVersion.c_str(),
                  static_cast<unsigned long long>(r.outcome->bytesSent), r.outcome->seconds);
    }
    return Conclude(options, document, r.status, "");
  }
  if (r.outcome->result == OutcomeResult::kInterrupted) {
    const std::string hint = RecoveryHint(*r.outcome);
    document["controllerState"] = hint;
    Conclude(options, document, r.status, r.outcome->reason);
    std::fprintf(stderr, "tarvik-update-cli: %s\n", hint.c_str());
    return r.status;
  }
  return Conclude(options, document, r.status, r.outcome->reason);
}

}  // namespace tarvik
