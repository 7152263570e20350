// tarvik-update-cli: the updater's window logic without a display, for
// automation, support transcripts and machines without a controller.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/cupdate_app.h"
#include "cli/scripted_user.h"
#include "platform/headless/headless_window_host.h"
#include "platform/linux/linux_system.h"
#include "platform/std/steady_clock.h"
#include "res/resource.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_setup.h"
#include "platform/std/virtual_clock.h"
#include "transcript/transcript.h"

namespace {

using namespace tarvik;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
  std::string simulate;
  std::vector<std::string> simSettings;
  std::string transcriptPath;
  std::string image;
  std::string confirm = "yes";
  int presses = 1;
};

int Fail(int code, const std::string& reason) {
  std::fprintf(stderr, "tarvik-update-cli: %s\n", reason.c_str());
  return code;
}

int Run(const Options& options) {
  SimOptions sim;
  const bool simulated = !options.simulate.empty();
  if (simulated) {
    std::optional<SimMode> mode = ParseSimMode(options.simulate);
    if (!mode) return Fail(kExitUsage, "--simulate takes boot, packet1, packet2 or none");
    sim.mode = *mode;
  }
  for (const std::string& setting : options.simSettings) {
    if (!simulated) return Fail(kExitUsage, "--sim needs --simulate");
    std::string error;
    if (!ApplySimSetting(setting, sim, error)) return Fail(kExitUsage, error);
  }
  if (options.presses < 0) return Fail(kExitUsage, "--press takes a count of 0 or more");
  if (!simulated) {
    return Fail(kExitFailed, "this build has no access to the system's HID devices; use --simulate");
  }

  SteadyClock steadyClock;
  VirtualClock virtualClock;
  IClock& clock = sim.virtualClock ? static_cast<IClock&>(virtualClock) : steadyClock;

  std::FILE* transcriptFile = nullptr;
  bool ownTranscriptFile = false;
  if (!options.transcriptPath.empty()) {
    if (options.transcriptPath == "-") {
      transcriptFile = stdout;
    } else {
      transcriptFile = std::fopen(options.transcriptPath.c_str(), "w");
      if (!transcriptFile) {
        return Fail(kExitUsage, "cannot write the transcript to " + options.transcriptPath);
      }
      ownTranscriptFile = true;
    }
  }
  std::optional<Transcript> transcript;
  if (transcriptFile) transcript.emplace(clock, transcriptFile);

  LinuxSystem linuxSystem(clock);
  std::optional<RecordingSystem> recordingSystem;
  if (transcript) recordingSystem.emplace(linuxSystem, *transcript);
  ISystem& system = recordingSystem ? static_cast<ISystem&>(*recordingSystem) : linuxSystem;

  SimHidBus simBus(clock);
  PopulateSimBus(simBus, sim);
  std::optional<RecordingHidBus> recordingBus;
  if (transcript) recordingBus.emplace(simBus, *transcript);
  IHidBus& bus = recordingBus ? static_cast<IHidBus&>(*recordingBus) : simBus;

  std::optional<TranscriptWindowObserver> observer;
  if (transcript) observer.emplace(*transcript);
  ScriptedUser user(options.image.empty() ? std::nullopt : std::optional<std::string>(options.image),
                    options.confirm == "yes");
  HeadlessWindowHost host(clock, user, observer ? &*observer : nullptr);

  int status = kExitOk;
  std::string reason;
  host.SetSession([&](HeadlessWindowHost& window, IDialogEvents& dialog) {
    window.PumpPending();
    for (int press = 0; press < options.presses; ++press) {
      if (!window.IsItemEnabled(IDC_USB_UPDATE)) {
        status = kExitFailed;
        reason = "the update button is disabled (no supported controller is ready): press refused";
        break;
      }
      window.Click(IDC_USB_UPDATE);
      window.PumpUntil([&] { return !dialog.IsBusy(); });
      // Only a successful update shows the upgraded notice; the next press hides it.
      const bool upgraded = window.IsItemVisible(IDC_STATIC_NOTICE);
      status = upgraded ? kExitOk : kExitFailed;
      reason = upgraded ? "" : "the update did not end with \"Firmware upgraded!\"";
    }
    window.PumpPending();
    return status;
  });

  {
    CUpdateApp app(PlatformServices{bus, host, system});
    app.InitInstance();
  }
  if (ownTranscriptFile) std::fclose(transcriptFile);
  if (status != kExitOk) return Fail(status, reason);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Tarvik Update: firmware updater for Tarvik game controllers, without a window."};
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the command too
  Options options;
  app.add_option("--simulate", options.simulate,
                 "Use a simulated controller bus: boot, packet1, packet2 or none");
  app.add_option("--sim", options.simSettings,
                 "Simulated controller behaviour, KEY=VALUE (clock=virtual, unplug.after=N, extra=N)");
  app.add_option("--transcript", options.transcriptPath,
                 "Record everything as JSON lines to FILE, or - for standard output");

  CLI::App* run = app.add_subcommand("run", "Run the updater's window: start-up, then button presses");
  run->add_option("--image", options.image, "Image to pick in the file dialog (none: cancel it)");
  run->add_option("--confirm", options.confirm, "Answer to the version confirmation")
      ->check(CLI::IsMember({"yes", "no"}));
  run->add_option("--press", options.presses, "Presses of the update button (0: start-up only)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  return Run(options);
}
