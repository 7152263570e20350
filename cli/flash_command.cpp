// flash: one controller (or, with --all and --watch, many) updated with an
// image checked before anything reaches a controller.
#include <cstdio>
#include <optional>
#include <string>

#include "base/strformat.h"
#include "cli/cli_output.h"
#include "texts/interface_texts.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/device_choice.h"
#include "cli/fleet_commands.h"
#include "cli/flash_one.h"
#include "cli/history.h"
#include "cli/interrupt_watch.h"
#include "cli/native_platform.h"
#include "cli/published_digest.h"

namespace tarvik {

namespace {

class FlashCommand final : public CliCommand {
 public:
  int Run(const GlobalOptions& global) override;

 protected:
  CLI::App* Define(CLI::App& line) override {
    CLI::App* flash = line.add_subcommand("flash", Tr("Write an image into the connected controller, or into all of them"));
    flash->add_option("PATH", m_options.path, Tr("Firmware image (*.dat)"))->required()->type_name("FILE");
    flash->add_flag("--yes,-y", m_options.assumeYes, Tr("Confirm the version change without asking"));
    flash->add_flag("--allow-older", m_options.allowOlder, Tr("With --yes: write an image older than the firmware"));
    flash->add_flag("--allow-reinstall", m_options.allowReinstall,
                    Tr("With --yes: write the version the controller already runs"));
    flash->add_flag("--all", m_options.all, Tr("Update every supported controller present, at the same time"));
    flash->add_flag("--watch", m_options.watch,
                    Tr("Station mode (with --yes): update each controller as it arrives, until Ctrl-C or --count"));
    flash->add_option("--count", m_options.count, Tr("With --watch: end after N upgrades"))->type_name("N");
    flash->add_option("--sha256", m_options.sha256, Tr("Refuse the image unless its SHA-256 is HEX, as published"))
        ->type_name("HEX");
    flash->add_flag("--require-signature", m_options.requireSignature,
                    Tr("Refuse an image that has no signature file beside it"));
    flash->add_option("--pace", m_options.pace,
                      Tr("Boot mode: parts waits as the original (default); ack goes on at each acknowledgement"))
        ->type_name("PACE");
    return flash;
  }
  std::string CheckOwnOptions() const override {
    if (BootPace pace{}; !PaceFromName(m_options.pace, pace)) {
      return StrFormat(Tr("--pace takes parts or ack, not \"%s\""), m_options.pace.c_str());
    }
    if (!m_options.sha256.empty() && !IsSha256Text(m_options.sha256)) {
      return Tr("--sha256 takes the image's published SHA-256: 64 hex digits");
    }
    if (!m_options.assumeYes && !m_options.all && (m_options.allowOlder || m_options.allowReinstall)) {
      return StrFormat(Tr("%s goes with --yes: without it the prompt asks"),
                       m_options.allowOlder ? "--allow-older" : "--allow-reinstall");
    }
    return "";
  }

 private:
  FlashOptions m_options;
};

int FlashCommand::Run(const GlobalOptions& global) {
  // A simulated or replayed controller's update is no controller's history.
  const bool simulated = !global.simulate.empty() || global.replay != nullptr;
  HistoryJournal history(HistoryFileFor(simulated), simulated);
  m_options.history = &history;
  const FlashOptions& options = m_options;
  json document = FlashDocument(options.all ? "all" : options.watch ? "watch" : "one");
  if (options.all && options.watch) {
    document["result"] = "error";
    return Conclude(global, document, kExitUsage, Tr("--all and --watch exclude each other"));
  }
  if ((options.all || options.watch) && !global.device.empty()) {
    document["result"] = "error";
    return Conclude(global, document, kExitUsage, Tr("--device picks one controller: it goes without --all and --watch"));
  }
  if (options.count != 0 && !options.watch) {
    document["result"] = "error";
    return Conclude(global, document, kExitUsage, Tr("--count goes with --watch"));
  }
  // Refused before any report: the transcript, if asked for, holds only the outcome.
  ImageTrust trust;
  {
    const std::unique_ptr<IClock> clock = MakeNativeClock();
    trust = MachineTrust(*MakeNativeSystem(*clock, false, DemoKeysFor(simulated)));
  }
  trust.signatureRequired = options.requireSignature;
  const ImageCheck image = CheckImage(options.path, options.sha256, trust);
  if (image.image.Readable()) document["signature"] = SignatureJson(image.signature);
  if (!image.reason.Empty()) {
    history.Record(image, nullptr);
    CliPlatform platform;
    std::string error;
    int code = kExitOk;
    if (platform.Set(global, error, code)) {
      return ConcludeBeforeAnyReport(platform, global, document, OutcomeResult::kRejected, kExitImage,
                                     image.reason);
    }
    document["result"] = OutcomeName(OutcomeResult::kRejected);
    return Conclude(global, document, kExitImage, image.reason);
  }
  // Nobody can answer the confirmation: say what a script needs instead of waiting for it.
  const bool nobodyToAsk = !options.assumeYes && !options.watch && !StandardInputIsTerminal();
  if (options.all) return FlashAll(global, options, image);
  if (options.watch) return FlashWatch(global, options, image);

  TerminalSettings settings;
  settings.assumeYes = options.assumeYes;
  settings.verbose = global.verbose;
  settings.drawProgress = !global.quiet && StandardErrorIsTerminal();
  TerminalUser user(settings);

  StopSource stops;
  InterruptWatch interrupts([&] {
    stops.RequestStop();
    user.Interrupt();
  });

  CliPlatform platform;
  platform.HoldEnumeration();
  if (const std::optional<int> ended = SetUpOrConclude(platform, global, document)) return *ended;
  ControllerTarget target;
  const std::vector<ControllerEntry> controllers = platform.Controllers();
  if (!global.device.empty()) {
    if (std::string error; !TargetOfDevice(platform, global.device, target, error)) {
      document["result"] = "no controller";
      return Conclude(global, document, kExitNoController, error);
    }
  } else if (controllers.size() > 1) {
    platform.FinishTranscript();
    document["result"] = "error";
    return Conclude(global, document, kExitUsage,
                    StrFormat(TrN("%zu controller is connected: choose one with --device (an index from list, a "
                                  "path or a boot-mode UID), or update them all with --all",
                                  "%zu controllers are connected: choose one with --device (an index from list, a "
                                  "path or a boot-mode UID), or update them all with --all",
                                  controllers.size()),
                              controllers.size()));
  }
  // The confirmation is asked for only once there is a controller to confirm it for.
  if (nobodyToAsk && !controllers.empty()) {
    return ConcludeNeedsYes(platform, global, document);
  }
  const int index = BusIndexOf(controllers, target.path);

  FlashResult r = FlashOne(platform, options, image, user, stops, target, false);
  user.FinishProgress();
  platform.FinishTranscript();
  const bool stoppedMidway =
      r.outcome && (r.outcome->result == OutcomeResult::kInterrupted || r.outcome->result == OutcomeResult::kFailed);
  if (stoppedMidway) r.controllerState = RecoveryHint(*r.outcome);
  document["result"] = r.result;
  // A controller that was found has a result of its own.
  if (!r.path.empty()) AddResults(document, json::array({ResultJson(index, r.path, r)}), TallyOf(r));
  if (!r.outcome) return Conclude(global, document, r.status, FlashReasonText(r), ReasonCodeName(r.reason.code));
  if (r.status == kExitOk) {
    if (!global.quiet && !global.json) {
      // Which controller, where two alike could be meant.
      const char* format = r.action == "downgrade"   ? Tr("Downgraded %s from %s to %s (%llu bytes, %.1f s)\n")
                           : r.action == "reinstall" ? Tr("Reinstalled %s from %s to %s (%llu bytes, %.1f s)\n")
                                                     : Tr("Upgraded %s from %s to %s (%llu bytes, %.1f s)\n");
      std::printf(format, ControllerNamed(r).c_str(), r.outcome->controllerVersion.c_str(),
                  r.outcome->imageVersion.c_str(), static_cast<unsigned long long>(r.outcome->bytesSent),
                  r.outcome->seconds);
    }
    return Conclude(global, document, r.status, "");
  }
  if (stoppedMidway) {
    Conclude(global, document, r.status, r.outcome->reason);
    std::fprintf(stderr, "tarvik-update-cli: %s\n", r.controllerState.c_str());
    return r.status;
  }
  return Conclude(global, document, r.status, r.outcome->reason);
}

}  // namespace

std::unique_ptr<CliCommand> MakeFlashCommand() { return std::make_unique<FlashCommand>(); }

}  // namespace tarvik
