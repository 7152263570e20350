#include "session/update_session.h"

#include <algorithm>

#include "base/strformat.h"
#include "device/chid.h"
#include "device/device_table.h"
#include "diag/diag.h"
#include "platform/system.h"
#include "update/packet_protocol.h"
#include "update/update_attempt.h"

namespace tarvik {

namespace {

// An erased version word reads as version 0.
uint32_t ErasedAsZero(uint32_t version) { return version == 0xFFFFFFFFu ? 0 : version; }

// The listener of a session that was given none.
IUpdateEvents& NobodyListens() {
  static IUpdateEvents nobody;
  return nobody;
}

}  // namespace

// The flows' caller: what they report goes to the running caller's events,
// with the version learnt kept as the session's; steps and the outcome go to
// its observer; what they ask goes to its prompt, and the time the person
// takes to answer is counted apart.
class UpdateSession::Relay final : public IFlowReports, public IUpdatePrompt {
 public:
  Relay(UpdateSession& session, IUpdateEvents& events) : m_s(session), m_events(&events) {}

  IUpdateEvents& Events() const { return *m_events.load(); }
  // The caller of the next run or probe; the previous one is returned.
  IUpdateEvents* SwapEvents(IUpdateEvents* events) { return m_events.exchange(events ? events : m_events.load()); }

  void OnVersionLearnt(const ControllerVersions& versions) override {
    m_s.m_deviceVersion.store(versions.main);
    Events().OnVersionLearnt(versions);
  }
  void OnNotice(UpdateNotice notice) override { Events().OnNotice(notice); }
  void OnImageChosen(const FirmwareImage& image) override { Events().OnImageChosen(image); }
  void OnPlan(const UpdatePlan& plan) override { Events().OnPlan(plan); }
  void OnProgress(uint64_t bytes, uint64_t total) override { Events().OnProgress(bytes, total); }
  void OnMilestone(UpdateMilestone milestone) override { Events().OnMilestone(milestone); }
  void OnUpdateFailed(const UpdateOutcome& failure) override { Events().OnUpdateFailed(OwnTime(failure)); }
  bool OnModeTwoSignalArmed() override { return Events().OnModeTwoSignalArmed(); }
  void OnModeTwoSignalDisarmed() override { Events().OnModeTwoSignalDisarmed(); }
  void OnUpdateStep(const UpdateProgress& progress) override {
    if (m_progress) m_progress->OnUpdateStep(progress);
  }
  void OnUpdateOutcome(const UpdateOutcome& outcome) override {
    if (m_progress) m_progress->OnUpdateOutcome(OwnTime(outcome));
  }

  std::optional<std::string> ChooseImage() override {
    const PersonWait wait(*this);
    return m_prompt ? m_prompt->ChooseImage() : std::nullopt;
  }
  bool ConfirmChange(const VersionChange& change) override {
    const PersonWait wait(*this);
    return m_prompt ? m_prompt->ConfirmChange(change) : true;
  }

  // An outcome whose seconds are the update's own: without the time the
  // person took to choose the image and to confirm it. It names the pace a
  // boot-mode update waited at.
  UpdateOutcome OwnTime(UpdateOutcome outcome) const {
    outcome.seconds = std::max(0.0, outcome.seconds - static_cast<double>(m_personMs) / 1000.0);
    if (outcome.protocol == UpdateProtocol::kBoot) outcome.pace = m_pace;
    return outcome;
  }

  // The running update's, on its thread.
  BootPace m_pace = BootPace::kParts;
  IUpdatePrompt* m_prompt = nullptr;
  IUpdateObserver* m_progress = nullptr;
  uint64_t m_personMs = 0;

 private:
  // Counts the time the person takes to answer.
  class PersonWait {
   public:
    explicit PersonWait(Relay& relay) : m_relay(relay), m_startMs(relay.m_s.m_system.Clock().NowMs()) {}
    ~PersonWait() { m_relay.m_personMs += m_relay.m_s.m_system.Clock().NowMs() - m_startMs; }
    PersonWait(const PersonWait&) = delete;
    PersonWait& operator=(const PersonWait&) = delete;

   private:
    Relay& m_relay;
    uint64_t m_startMs;
  };

  UpdateSession& m_s;
  std::atomic<IUpdateEvents*> m_events;
};

Reason BeforeStart() {
  Reason stopped(ReasonCode::kInterrupted);
  stopped.beforeStart = true;
  return stopped;
}

bool ControllerProbe::VersionKnown() const {
  return deviceVersion.Known() && !(deviceVersion.Word() == FirmwareVersion::kNoFirmwareWord && !BootMode());
}

std::string ControllerProbe::VersionText() const {
  if (!queried) return "unknown";
  return deviceVersion.Word() == FirmwareVersion::kNoFirmwareWord && !BootMode() ? "none" : deviceVersion.Text();
}

uint32_t ControllerProbe::AtVersion() const {
  if (!BootMode() || !queried) return 0;
  return ErasedAsZero(at.version);
}

std::string ControllerProbe::Uid() const {
  if (!BootMode() || !queried) return {};
  return StrFormat("%08x%08x%08x", main.uid[0], main.uid[1], main.uid[2]);
}

ControllerFacts ControllerProbe::Facts() const {
  ControllerFacts facts;
  facts.present = present;
  facts.protocol = Protocol();
  facts.queried = queried;
  facts.product = Product();
  facts.main = deviceVersion;
  facts.at = FirmwareVersion::FromWord(AtVersion());
  if (BootMode() && queried) {
    facts.mainVersionAddress = main.verAddr;
    facts.atVersionAddress = at.verAddr;
  }
  return facts;
}

std::string ControllerProbe::Product() const {
  if (vendorId == 0 && productId == 0) return {};
  return StrFormat("%04x:%04x", vendorId, productId);
}

UpdateSession::UpdateSession(IHidBus& bus, ISystem& system, const std::string& logFileName)
    : m_ownDiag(std::make_unique<CDiag>(system)),
      m_ownHid(std::make_unique<CHid>(bus, *m_ownDiag)),
      m_diag(*m_ownDiag),
      m_hid(*m_ownHid),
      m_system(system),
      m_relay(std::make_unique<Relay>(*this, NobodyListens())),
      m_boot(m_hid, m_diag, system.Clock(), m_stopRequested),
      m_selection(*m_relay, *m_relay),
      m_packet(*m_relay, m_hid, m_diag, system, m_selection, m_stopRequested),
      m_info(*m_relay, m_hid, m_diag, m_boot, m_packet),
      m_bootSequence(*m_relay, m_hid, m_diag, system.Clock(), m_boot, m_selection, m_info, m_stopRequested) {
  if (!logFileName.empty()) m_diag.SetLogFileName(logFileName);
  m_diag.CheckLogEnabled();
}

UpdateSession::UpdateSession(CHid& hid, CDiag& diag, ISystem& system, IUpdateEvents& events)
    : m_diag(diag),
      m_hid(hid),
      m_system(system),
      m_relay(std::make_unique<Relay>(*this, events)),
      m_boot(m_hid, m_diag, system.Clock(), m_stopRequested),
      m_selection(*m_relay, *m_relay),
      m_packet(*m_relay, m_hid, m_diag, system, m_selection, m_stopRequested),
      m_info(*m_relay, m_hid, m_diag, m_boot, m_packet),
      m_bootSequence(*m_relay, m_hid, m_diag, system.Clock(), m_boot, m_selection, m_info, m_stopRequested) {}

UpdateSession::~UpdateSession() = default;

ControllerProbe UpdateSession::Probe(IUpdateEvents* events) {
  IUpdateEvents* const previous = m_relay->SwapEvents(events);
  IProbeSteps quiet;
  const StepResult queried = StartUpProbe(quiet);
  ControllerProbe probe = Current();
  probe.queried = probe.present && queried.ok();
  probe.reason = probe.present ? queried.reason() : Reason(ReasonCode::kNoController);
  m_relay->SwapEvents(previous);
  return probe;
}

StepResult IProbeSteps::Query(UpdateSession& session) { return session.QueryDeviceVersion(); }

StepResult UpdateSession::StartUpProbe(IProbeSteps& steps) {
  StepResult queried = StepResult::Failed(Reason(ReasonCode::kNoController));
  const bool found = m_hid.SearchDevice();
  steps.OnFirstSearch(found, m_hid.Mode());
  if (found) {
    if (m_hid.Mode() == ReportMode::kPacket) {
      SendModeTwoSignal();
    } else {
      queried = steps.Query(*this);
    }
  }
  steps.OnBeforeSecondSearch();
  if (m_hid.SearchDevice()) {
    steps.OnFoundAgain();
    queried = steps.Query(*this);
  }
  return queried;
}

ControllerProbe UpdateSession::Current() const {
  ControllerProbe probe;
  probe.present = m_hid.IsDevicePresent();
  probe.path = m_hid.DevicePath();
  probe.location = m_hid.DeviceLocation();
  probe.serial = m_hid.DeviceSerial();
  probe.mode = m_hid.Mode();
  for (const DeviceTableRow& row : kDeviceTable) {
    if (row.mode != probe.mode) continue;
    probe.vendorId = row.vendorId;
    probe.productId = row.productId;
  }
  probe.deviceVersion = m_deviceVersion.load();
  probe.queried = probe.present && m_queried.load();
  if (probe.BootMode()) {
    probe.main = m_info.MainInfo();
    probe.at = m_info.AtInfo();
  }
  return probe;
}

StepResult UpdateSession::QueryDeviceVersion() {
  m_deviceVersion.store(FirmwareVersion::Unknown());
  m_queried.store(false);
  const StepResult result = m_info.QueryDeviceVersion();
  m_queried.store(result.ok());
  return result;
}

std::optional<UpdateProtocol> UpdateSession::BeginUpdate() {
  if (!m_hid.OpenHid()) return std::nullopt;
  const UpdateProtocol protocol = m_hid.IsBootMode() ? UpdateProtocol::kBoot : UpdateProtocol::kPacket;
  m_protocol.store(protocol);
  m_packet.BeginUpdate();
  m_hid.BeginWorkerUse();
  return protocol;
}

UpdateOutcome UpdateSession::Update(const UpdateRequest& request) {
  if (!BeginUpdate()) {
    UpdateOutcome outcome;
    outcome.result = OutcomeResult::kFailed;
    outcome.reason = Reason(ReasonCode::kOpenFailed);
    outcome.protocol = m_hid.IsBootMode() ? UpdateProtocol::kBoot : UpdateProtocol::kPacket;
    outcome.controllerVersion = "unknown";
    if (request.progress) request.progress->OnUpdateOutcome(outcome);
    return outcome;
  }
  return RunUpdate(request);
}

UpdateOutcome UpdateSession::RunUpdate(const UpdateRequest& request) {
  IUpdateEvents* const previous = m_relay->SwapEvents(request.events);
  if (request.stop) request.stop->Attach(*this);
  m_relay->m_prompt = request.prompt;
  m_relay->m_progress = request.progress;
  m_relay->m_personMs = 0;
  m_relay->m_pace = request.pace;
  m_selection.Preset(request.image, request.plan, request.signature);
  m_selection.SetTrust(request.trust);
  m_boot.SetPace(request.pace);
  const UpdateProtocol protocol = m_protocol.load();
  const ControllerFacts controller = Current().Facts();
  UpdateOutcome outcome;
  if (m_stopRequested.load()) {
    // Stopped before it began: not a report goes out.
    CUpdateAttempt attempt(m_system.Clock(), protocol, controller.main);
    outcome = m_relay->OwnTime(
        attempt.Finish(OutcomeResult::kInterrupted, BeforeStart(), 0));
    m_packet.StopUpdate();
    m_relay->OnMilestone(UpdateMilestone::kSettled);
    m_relay->OnUpdateOutcome(outcome);
  } else {
    outcome = m_relay->OwnTime(protocol == UpdateProtocol::kBoot ? m_bootSequence.RunBootUpdate(controller)
                                                  : m_packet.RunPacketUpdate(controller));
  }
  m_hid.EndWorkerUse();
  m_boot.SetPace(BootPace::kParts);
  m_selection.Preset(std::nullopt);
  m_relay->m_prompt = nullptr;
  m_relay->m_progress = nullptr;
  if (request.stop) request.stop->Detach(*this);
  m_relay->SwapEvents(previous);
  return outcome;
}

bool UpdateSession::SendModeTwoSignal() { return ReopenAndSignal(m_hid); }

void StopSource::RequestStop() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_stopped.store(true);
  for (UpdateSession* session : m_sessions) session->RequestStop();
}

void StopSource::Attach(UpdateSession& session) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_sessions.push_back(&session);
  if (m_stopped.load()) session.RequestStop();
}

void StopSource::Detach(UpdateSession& session) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_sessions.erase(std::remove(m_sessions.begin(), m_sessions.end(), &session), m_sessions.end());
}

}  // namespace tarvik
