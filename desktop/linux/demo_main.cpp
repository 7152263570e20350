// tarvik-update-demo: the updater's window on a simulated controller, for a
// machine without one. The file dialog opens among the sample images.
#include <QApplication>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/cupdate_app.h"
#include "desktop/linux/demo_options.h"
#include "desktop/linux/desktop_startup.h"
#include "platform/linux/linux_system.h"
#include "platform/qt/qt_window_host.h"
#include "platform/std/steady_clock.h"
#include "platform/std/virtual_clock.h"
#include "samples/demo_key.h"
#include "sim/sim_hid_bus.h"
#include "transcript/replay_bus.h"

namespace {

// The transcript of --replay, read whole; nothing, with `error` set, when it
// cannot be read or is not a transcript.
std::optional<tarvik::ReplayRecording> ReadRecording(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the transcript " + path;
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::optional<tarvik::ReplayRecording> recording = tarvik::ReplayRecording::Parse(text.str(), error);
  if (!recording) error = path + ": " + error;
  return recording;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvik;
  CLI::App cli{"Tarvik Update on a simulated controller."};
  cli.set_version_flag("--version", kApplicationVersion);
  std::string mode = "boot";
  std::vector<std::string> settings;
  std::string samples = TARVIK_SAMPLES_DIR;
  cli.add_option("--simulate", mode, "The simulated controllers: boot, packet1, packet2 or none, or a list such as boot,boot,packet1");
  cli.add_option("--sim", settings, "Simulated controller behaviour, KEY=VALUE or N:KEY=VALUE (as tarvik-update-cli)");
  cli.add_option("--samples", samples, "Folder the file dialog opens in");
  std::string replay;
  cli.add_option("--replay", replay,
                 "A transcript of tarvik-update-cli --transcript whose controllers play back instead of simulated "
                 "ones; the window must send what was recorded (choose the recorded image)")
      ->excludes("--simulate")
      ->excludes("--sim");
  bool verbose = false;
  cli.add_flag("--verbose,-v", verbose, "Show the trace on standard error");
  if (const std::optional<int> status = ParseBeforeQt(cli, argc, argv)) return *status;

  std::string error;
  const std::optional<SimLayout> simulation = DemoSimLayout(mode, settings, error);
  if (!simulation) {
    std::fprintf(stderr, "tarvik-update-demo: %s\n", error.c_str());
    return 2;
  }
  std::optional<ReplayRecording> recording;
  if (!replay.empty() && !(recording = ReadRecording(replay, error))) {
    std::fprintf(stderr, "tarvik-update-demo: %s\n", error.c_str());
    return 2;
  }
  SimLayout layout = *simulation;
  // The window reads nothing of what a controller was sent.
  for (SimOptions& controller : layout.controllers) {
    controller.packet.keepReceived = false;
    controller.boot.keepWritten = false;
  }

  if (const std::optional<int> status = RequireDisplay("tarvik-update-demo", argc, argv)) return *status;
  QApplication application(argc, argv);
  if (const std::optional<int> status = RejectUnknownArguments(cli, "tarvik-update-demo")) return *status;
  SteadyClock steadyClock;
  VirtualClock virtualClock;
  IClock& clock = layout.VirtualClock() ? static_cast<IClock&>(virtualClock) : steadyClock;
  LinuxSystem system(clock);
  system.SetTraceToStandardError(verbose);
  // The sample images are signed by the demo key.
  system.TrustAlso(kDemoTrustedKey);
  SetUpApplication(system.InterfaceLanguage());

  std::error_code ignored;
  if (std::filesystem::is_directory(samples, ignored)) std::filesystem::current_path(samples, ignored);

  // The recorded controllers play back on the real clock, as they were recorded.
  std::unique_ptr<ReplayBus> replayBus;
  SimHidBus simBus(clock);
  IHidBus* bus = &simBus;
  if (recording) {
    replayBus = std::make_unique<ReplayBus>(std::move(*recording), clock);
    bus = replayBus.get();
  } else {
    PopulateSimBus(simBus, layout);
  }
  QtWindowHost host;
  CUpdateApp app(PlatformServices{*bus, host, system});
  const int status = app.InitInstance() ? 1 : 0;
  if (!replayBus) return status;
  // As tarvik-update-cli --replay: 0 when the window went as recorded to the end, else 6 and where.
  if (const std::optional<ReplayDivergence> divergence = replayBus->Verdict()) {
    std::fprintf(stderr, "tarvik-update-demo: %s\n", divergence->Describe().c_str());
    return 6;
  }
  std::fprintf(stderr, "tarvik-update-demo: the replay matched the recording to its end (%zu output reports)\n",
               replayBus->ReportsMatched());
  return status;
}
