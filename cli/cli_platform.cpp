#include "cli/cli_platform.h"

#include "base/bytes.h"
#include "device/device_table.h"

namespace tarvik {

namespace {

// Without the udev rule a controller's node belongs to root: discovery would
// skip it as it skips devices held by others, and the user would only hear
// that no controller was found.
bool SupportedControllerRefusesUs() {
  std::vector<HidDeviceId> supported;
  for (const DeviceTableRow& row : kDeviceTable) supported.push_back({row.vendorId, row.productId});
  return HidrawPermissionDenied(supported);
}

}  // namespace

CliPlatform::~CliPlatform() {
  if (m_ownTranscriptFile && m_transcriptFile) std::fclose(m_transcriptFile);
}

bool CliPlatform::Set(const CliOptions& options, std::string& error, int& exitCode) {
  exitCode = kExitUsage;
  SimOptions sim;
  const bool simulated = !options.simulate.empty();
  if (simulated) {
    const std::optional<SimMode> mode = ParseSimMode(options.simulate);
    if (!mode) {
      error = "--simulate takes boot, packet1, packet2 or none";
      return false;
    }
    sim.mode = *mode;
  }
  for (const std::string& setting : options.simSettings) {
    if (!simulated) {
      error = "--sim needs --simulate";
      return false;
    }
    if (!ApplySimSetting(setting, sim, error)) return false;
  }
  if (!simulated && SupportedControllerRefusesUs()) {
    exitCode = kExitNoController;
    error = AccessDeniedHint();
    return false;
  }

  m_clock = sim.virtualClock ? static_cast<IClock*>(&m_virtualClock) : &m_steadyClock;
  if (!options.transcriptPath.empty()) {
    if (options.transcriptPath == "-") {
      if (options.json) {
        error = "--json needs standard output for itself: write the transcript to a file";
        return false;
      }
      m_transcriptFile = stdout;
    } else {
      m_transcriptFile = std::fopen(options.transcriptPath.c_str(), "w");
      if (!m_transcriptFile) {
        error = "cannot write the transcript to " + options.transcriptPath;
        return false;
      }
      m_ownTranscriptFile = true;
    }
    m_transcript = std::make_unique<Transcript>(*m_clock, m_transcriptFile);
  }

  m_linuxSystem = std::make_unique<LinuxSystem>(*m_clock);
  // The trace always reaches the transcript; standard error only when asked for.
  m_linuxSystem->SetTraceToStandardError(options.verbose);
  m_system = m_linuxSystem.get();
  if (m_transcript) {
    m_recordingSystem = std::make_unique<RecordingSystem>(*m_linuxSystem, *m_transcript);
    m_system = m_recordingSystem.get();
  }

  IHidBus* bus = nullptr;
  if (simulated) {
    m_simBus = std::make_unique<SimHidBus>(*m_clock);
    m_population = PopulateSimBus(*m_simBus, sim);
    bus = m_simBus.get();
  } else {
    m_hidrawBus = std::make_unique<HidrawBus>(*m_clock);
    bus = m_hidrawBus.get();
  }
  m_bus = bus;
  if (m_transcript) {
    m_recordingBus = std::make_unique<RecordingHidBus>(*bus, *m_transcript);
    m_bus = m_recordingBus.get();
    m_transcriptObserver = std::make_unique<TranscriptWindowObserver>(*m_transcript);
    m_transcriptUpdates = std::make_unique<TranscriptUpdateObserver>(*m_transcript);
  }
  exitCode = kExitOk;
  return true;
}

void CliPlatform::RunWindow(IHeadlessUser& user, IWindowObserver* extraObserver,
                            IUpdateObserver* updateObserver,
                            const std::function<void(CUpdateDlg&, HeadlessWindowHost&)>& session) {
  ObserverFanOut observers;
  observers.Add(m_transcriptObserver.get());
  observers.Add(extraObserver);
  UpdateObserverFanOut updates;
  updates.Add(updateObserver);
  updates.Add(m_transcriptUpdates.get());
  HeadlessWindowHost host(*m_clock, user, &observers);
  CUpdateDlg dlg(PlatformServices{*m_bus, host, *m_system});
  dlg.SetUpdateObserver(&updates);
  host.SetSession([&](HeadlessWindowHost& window, IDialogEvents&) {
    window.PumpPending();
    session(dlg, window);
    window.PumpPending();
    return 0;
  });
  dlg.DoModal();
}

void CliPlatform::RecordOutcome(const UpdateOutcome& outcome) {
  if (m_transcriptUpdates) m_transcriptUpdates->OnUpdateOutcome(outcome);
}

void CliPlatform::FinishTranscript() {
  if (!m_transcript) return;
  if (m_population.packet) {
    const std::vector<uint8_t> received = m_population.packet->ReceivedData();
    m_transcript->Record({{"ev", "received"}, {"hex", ToHex(received.data(), received.size())}});
  }
  if (!m_population.boot) return;
  for (const auto& region : m_population.boot->WrittenRegions()) {
    m_transcript->Record({{"ev", "flash"},
                          {"mcu", region.mcu},
                          {"address", region.address},
                          {"hex", ToHex(region.bytes.data(), region.bytes.size())}});
  }
  for (const auto& stamp : m_population.boot->Stamps()) {
    m_transcript->Record(
        {{"ev", "stamp"}, {"mcu", stamp.mcu}, {"address", stamp.address}, {"version", stamp.version}});
  }
}

}  // namespace tarvik
