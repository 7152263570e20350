#include "cli/cli_platform.h"

#include <algorithm>

#include "base/bytes.h"
#include "app/window_texts.h"
#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "cli/interrupt_watch.h"
#include "cli/native_platform.h"
#include "cli/replay_run.h"
#include "res/text_table.h"

namespace tarvik {

namespace {

constexpr uint32_t kModeTwoPollMs = 100;

std::string IdentityOf(IHidBus& bus, const std::string& path) {
  for (const HidDeviceInfo& device : bus.EnumerateDevices()) {
    if (device.path == path) return ControllerIdentity(path, device.location);
  }
  return path;
}

}  // namespace

CliPlatform::~CliPlatform() {
  {
    // A stream's change still to come finds nothing to tell. A controller back from its reset makes one.
    std::lock_guard<std::mutex> lock(m_populationsLock);
    m_streamOpen = false;
  }
  if (!m_transcriptFile) return;
  InterruptWatch::FlushOnInterrupt({});
  if (m_transcript) m_transcript->Flush();
  if (m_ownTranscriptFile) {
    std::fclose(m_transcriptFile);
  } else {
    std::fflush(m_transcriptFile);
  }
}

bool CliPlatform::Set(const GlobalOptions& options, std::string& error, int& exitCode) {
  exitCode = kExitUsage;
  const bool simulated = !options.simulate.empty();
  if (!simulated && !options.simSettings.empty()) {
    error = Tr("--sim needs --simulate");
    return false;
  }
  SimLayout layout;
  if (simulated) {
    // A report-mode-2 controller comes back in report mode 1 on the signal, as real ones do.
    SimOptions base;
    base.packet.onMode2Signal = SimSwitch::kReplug;
    std::optional<SimLayout> parsed = ParseSimLayout(options.simulate, options.simSettings, error, base);
    if (!parsed) return false;
    layout = std::move(*parsed);
  }
  const bool replayed = options.replay != nullptr;
  if (!simulated && !replayed) {
    if (std::string problem = NativeAccessProblem(); !problem.empty()) {
      exitCode = kExitNoController;
      error = std::move(problem);
      return false;
    }
  }

  m_nativeClock = MakeNativeClock();
  m_clock = replayed                ? &options.replay->Clock()
            : layout.VirtualClock() ? static_cast<IClock*>(&m_virtualClock)
                                    : m_nativeClock.get();
  if (!options.transcriptPath.empty()) {
    if (options.transcriptPath == "-") {
      if (options.json) {
        error = Tr("--json needs standard output for itself: write the transcript to a file");
        return false;
      }
      m_transcriptFile = stdout;
    } else {
      // Binary: the same bytes on every platform.
      m_transcriptFile = std::fopen(options.transcriptPath.c_str(), "wb");
      if (!m_transcriptFile) {
        error = StrFormat(Tr("cannot write the transcript to %s"), options.transcriptPath.c_str());
        return false;
      }
      m_ownTranscriptFile = true;
    }
    m_transcript = std::make_unique<Transcript>(*m_clock, m_transcriptFile);
    InterruptWatch::FlushOnInterrupt([transcript = m_transcript.get()] { transcript->Flush(); });
  }

  // The trace always reaches the transcript; standard error only when asked for.
  m_nativeSystem = MakeNativeSystem(*m_clock, options.verbose, DemoKeysFor(simulated || replayed));
  m_system = m_nativeSystem.get();
  // A redacted transcript keeps no trace: it quotes the information blocks, UID included.
  if (m_transcript && !options.redact) {
    m_recordingSystem = std::make_unique<RecordingSystem>(*m_nativeSystem, *m_transcript);
    m_system = m_recordingSystem.get();
  }

  IHidBus* bus = nullptr;
  if (simulated) {
    // What a controller was sent is read only for the transcript.
    for (SimOptions& controller : layout.controllers) {
      controller.packet.keepReceived = m_transcript != nullptr;
      controller.boot.keepWritten = m_transcript != nullptr;
    }
    m_simBus = std::make_unique<SimHidBus>(*m_clock);
    m_populations = PopulateSimBus(*m_simBus, layout,
                                   [this](size_t slot, const SimPopulation& left, const SimPopulation* next) {
                                     OnStreamed(slot, left, next);
                                   });
    bus = m_simBus.get();
    for (const SimPopulation& p : m_populations) {
      m_numbered.push_back(ControllerIdentity(m_simBus->PathOf(p.controller), m_simBus->LocationOf(p.controller)));
    }
    m_several = m_populations.size() > 1;
  } else {
    if (replayed) {
      bus = &options.replay->Bus();
    } else {
      m_nativeBus = MakeNativeBus(*m_clock);
      bus = m_nativeBus.get();
    }
  }
  m_heldBus = std::make_unique<HeldEnumerationBus>(*bus);
  if (m_holdEnumeration) m_heldBus->Hold();
  bus = m_heldBus.get();
  if (!simulated) {
    for (const ControllerEntry& c : EnumerateControllers(*bus)) m_numbered.push_back(ControllerIdentity(c.path, c.location));
    m_several = m_numbered.size() > 1;
  }
  m_bus = bus;
  if (m_transcript) {
    m_recordingBus = std::make_unique<RecordingHidBus>(*bus, *m_transcript);
    m_recordingBus->SetRedacted(options.redact);
    m_redacted = options.redact;
    if (m_several) {
      m_recordingBus->SetDeviceNumbering([this](const std::string& path) { return NumberOf(path); },
                                         [this](const std::string& path, const std::string& location) {
                                           return KnownNumberOf(ControllerIdentity(path, location));
                                         });
    }
    m_bus = m_recordingBus.get();
    m_transcriptObserver = std::make_unique<TranscriptWindowObserver>(*m_transcript);
    m_transcriptUpdates = std::make_unique<TranscriptUpdateObserver>(*m_transcript);
  }
  exitCode = kExitOk;
  return true;
}

void CliPlatform::RunWindow(IHeadlessUser& user, IWindowObserver* extraObserver,
                            IUpdateObserver* updateObserver,
                            const std::function<void(CUpdateDlg&, HeadlessWindowHost&)>& session,
                            const ControllerTarget& target) {
  ObserverFanOut observers;
  observers.Add(m_transcriptObserver.get());
  observers.Add(extraObserver);
  std::optional<TranscriptUpdateObserver> numberedOutcomes;
  if (m_transcript && target.dev != 0) numberedOutcomes.emplace(*m_transcript, target.dev);
  UpdateObserverFanOut updates;
  updates.Add(updateObserver);
  updates.Add(numberedOutcomes ? &*numberedOutcomes : m_transcriptUpdates.get());
  std::optional<SingleDeviceBus> single;
  if (!target.path.empty()) single.emplace(*m_bus, target.path, target.location);
  HeadlessWindowHost host(*m_clock, user, &observers);
  CUpdateDlg dlg(PlatformServices{single ? static_cast<IHidBus&>(*single) : *m_bus, host, *m_system});
  if (!target.logFileName.empty()) dlg.Diag().SetLogFileName(target.logFileName);
  dlg.SetUpdateObserver(&updates);
  host.SetSession([&](HeadlessWindowHost& window, IDialogEvents&) {
    window.PumpPending();
    session(dlg, window);
    window.PumpPending();
    return 0;
  });
  dlg.DoModal();
}

ControllerSession::ControllerSession(CliPlatform& platform, IHidBus& bus, const ControllerTarget& target)
    : m_bus(bus), m_clock(*platform.m_clock), m_system(*platform.m_system) {
  if (!target.path.empty()) m_view.emplace(bus, target.path, target.location);
  m_session = std::make_unique<UpdateSession>(Bus(), *platform.m_system, target.logFileName);
  if (platform.m_transcript && target.dev != 0) m_numberedOutcomes.emplace(*platform.m_transcript, target.dev);
  m_transcript = m_numberedOutcomes ? &*m_numberedOutcomes : platform.m_transcriptUpdates.get();
}

namespace {

// Follows a probe's version queries as the window's title does.
class TitleFollower final : public IUpdateEvents {
 public:
  explicit TitleFollower(std::string bare) : m_bare(std::move(bare)), m_title(m_bare) {}
  void OnVersionLearnt(const ControllerVersions& versions) override { m_title = VersionTitle(m_bare, versions); }
  const std::string& Title() const { return m_title; }

 private:
  std::string m_bare;
  std::string m_title;
};

}  // namespace

ControllerReport ControllerSession::Probe() {
  const auto inModeTwo = [](const std::vector<ControllerEntry>& controllers) {
    return std::any_of(controllers.begin(), controllers.end(), [](const ControllerEntry& c) {
      return c.reportMode == static_cast<int>(ReportMode::kPacket);
    });
  };
  const bool signalled = inModeTwo(EnumerateControllers(Bus()));
  const auto probed = [&] {
    TitleFollower title(LoadText(m_system, kTextTitle));
    ControllerReport report;
    static_cast<ControllerProbe&>(report) = m_session->Probe(&title);
    report.title = title.Title();
    return report;
  };
  ControllerReport probe = probed();
  probe.leftModeTwo = signalled && probe.present && probe.mode != ReportMode::kPacket;
  if (!signalled || (probe.present && probe.mode != ReportMode::kPacket)) return probe;
  // Gone, or not gone yet: wait until the controllers present are past report mode 2.
  const uint64_t deadline = m_clock.NowMs() + kModeTwoReturnMs;
  for (;;) {
    const std::vector<ControllerEntry> controllers = EnumerateControllers(Bus());
    if ((!controllers.empty() && !inModeTwo(controllers)) || m_clock.NowMs() >= deadline) break;
    m_clock.SleepMs(kModeTwoPollMs);
  }
  ControllerReport back = probed();
  back.leftModeTwo = back.present && back.mode != ReportMode::kPacket;
  return back;
}

UpdateOutcome ControllerSession::Update(const FirmwareImage& image, const UpdatePlan& plan, IUpdatePrompt& prompt,
                                        IUpdateEvents& events, IUpdateObserver* extra, StopSource& stop,
                                        BootPace pace, const ImageTrust& trust,
                                        const SignatureCheck& signature) {
  UpdateObserverFanOut progress;
  progress.Add(extra);
  progress.Add(m_transcript);
  UpdateRequest request;
  request.image = image;
  request.plan = plan;
  request.prompt = &prompt;
  request.events = &events;
  request.progress = &progress;
  request.stop = &stop;
  request.pace = pace;
  request.trust = trust;
  request.signature = signature;
  return m_session->Update(request);
}

std::unique_ptr<ControllerSession> CliPlatform::OpenSession(const ControllerTarget& target) {
  return std::make_unique<ControllerSession>(*this, *m_bus, target);
}

void CliPlatform::RecordOutcome(const UpdateOutcome& outcome) {
  if (m_transcriptUpdates) m_transcriptUpdates->OnUpdateOutcome(outcome);
}

std::vector<ControllerEntry> CliPlatform::Controllers() { return EnumerateControllers(*m_bus); }

int CliPlatform::NumberOf(const std::string& path) {
  const std::string identity = IdentityOf(*m_bus, path);
  std::lock_guard<std::mutex> lock(m_numbersLock);
  for (size_t i = 0; i < m_numbered.size(); ++i) {
    if (m_numbered[i] == identity) return static_cast<int>(i + 1);
  }
  m_numbered.push_back(identity);
  return static_cast<int>(m_numbered.size());
}

int CliPlatform::KnownNumberOf(const std::string& identity) {
  std::lock_guard<std::mutex> lock(m_numbersLock);
  const auto found = std::find(m_numbered.begin(), m_numbered.end(), identity);
  return found == m_numbered.end() ? 0 : static_cast<int>(found - m_numbered.begin() + 1);
}

ControllerTarget CliPlatform::TargetFor(const ControllerEntry& controller) {
  ControllerTarget target;
  target.path = controller.path;
  target.location = controller.location;
  if (!m_several) return target;
  target.dev = NumberOf(controller.path);
  target.logFileName = StrFormat("log-%d-%04x.txt", target.dev, controller.productId);
  return target;
}

void CliPlatform::RecordHoldings(size_t slot, const SimPopulation& population) {
  const auto record = [&](nlohmann::ordered_json event) {
    if (m_several) event["dev"] = slot + 1;
    m_transcript->Record(event);
  };
  if (population.packet) {
    const std::vector<uint8_t> received = population.packet->Firmware();
    m_transcript->RecordHex("received", "hex", received.data(), received.size(),
                            m_several ? static_cast<int>(slot + 1) : 0);
  }
  if (!population.boot) return;
  for (const auto& region : population.boot->WrittenRegions()) {
    record({{"ev", "flash"},
            {"mcu", region.mcu},
            {"address", region.address},
            {"hex", ToHex(region.bytes.data(), region.bytes.size())}});
  }
  for (const auto& stamp : population.boot->Stamps()) {
    record({{"ev", "stamp"}, {"mcu", stamp.mcu}, {"address", stamp.address}, {"version", stamp.version}});
  }
}

void CliPlatform::OnStreamed(size_t slot, const SimPopulation& left, const SimPopulation* next) {
  std::lock_guard<std::mutex> lock(m_populationsLock);
  if (!m_streamOpen || slot >= m_populations.size()) return;
  // What the simulated controllers hold is the image's bytes.
  if (m_transcript && !m_redacted) RecordHoldings(slot, left);
  m_populations[slot] = next ? *next : SimPopulation{};
}

void CliPlatform::FinishTranscript() {
  if (!m_transcript) return;
  // What the simulated controllers hold is the image's bytes.
  if (!m_redacted) {
    std::lock_guard<std::mutex> lock(m_populationsLock);
    for (size_t i = 0; i < m_populations.size(); ++i) RecordHoldings(i, m_populations[i]);
  }
  m_transcript->Flush();
}

}  // namespace tarvik
