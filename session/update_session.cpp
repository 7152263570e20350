#include "session/update_session.h"

#include <algorithm>

#include "base/strformat.h"
#include "base/text_mark.h"
#include "device/chid.h"
#include "device/device_table.h"
#include "diag/diag.h"
#include "platform/system.h"
#include "res/text_table.h"
#include "update/packet_protocol.h"
#include "update/update_attempt.h"
#include "update/version_text.h"

namespace tarvik {

namespace {

// The user of a session that was given none: the change is confirmed, nothing is shown.
IUpdateUser& NobodyUser() {
  static AcceptingUser nobody;
  return nobody;
}

constexpr uint32_t kUpdateTimerIntervalMs = 100;

// An erased version word reads as version 0.
uint32_t ErasedAsZero(uint32_t version) { return version == 0xFFFFFFFFu ? 0 : version; }

}  // namespace

// The flows' window: texts from the text table, everything the user sees
// handed to the session's user, the end operations' own part (the image
// closed, the timer killed, the update marked ended) done here.
class UpdateSession::FlowWindow final : public IUpdateWindow {
 public:
  explicit FlowWindow(UpdateSession& session) : m_s(session) {}

  std::string Text(int textIndex) const override { return LoadText(m_s.m_system, textIndex); }
  void SetTitle(const std::string& text) override {
    m_s.m_title = text;
    m_s.User().ShowTitle(text);
  }
  void SetProgress(int position) override { m_s.User().ShowProgress(position); }
  void EnableUpdateButton(bool enable) override { m_s.User().EnableUpdate(enable); }
  MsgBoxAnswer MessageBox(const std::string& text, const std::optional<std::string>& caption,
                          MsgBoxButtons /*buttons*/) override {
    m_s.User().Tell(text, caption);
    return MsgBoxAnswer::kOk;
  }
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override {
    if (m_s.m_context.presetImage) return m_s.m_context.presetImage->Path();
    const UserWait wait(*this);
    return m_s.User().ChooseImage(request);
  }
  bool Confirm(const std::string& text, const std::string& caption) override {
    const UserWait wait(*this);
    return m_s.User().ConfirmImage(text, caption);
  }
  void StartUpdateTimer() override {
    m_s.m_userRunsTimer = m_s.User().StartUpdateTimer();
    if (!m_s.m_userRunsTimer) m_s.m_timerDueMs = m_s.m_system.Clock().NowMs() + kUpdateTimerIntervalMs;
  }
  void KillUpdateTimer() override {
    m_s.m_timerDueMs.reset();
    m_s.User().KillUpdateTimer();
  }
  void BetweenReads() override { m_s.TickUpdateTimer(); }

  void StopUpdate() override { m_s.StopUpdate(); }
  void ReportUpdateFailure() override { m_s.ReportUpdateFailure(); }
  void ReportUpdateSuccess() override { m_s.ReportUpdateSuccess(); }
  void RefreshUpdateButton() override { m_s.RefreshUpdateButton(); }

  void OnUpdateStep(const UpdateProgress& progress) override {
    if (m_progress) m_progress->OnUpdateStep(progress);
  }
  void OnUpdateOutcome(const UpdateOutcome& outcome) override {
    if (m_progress) m_progress->OnUpdateOutcome(OwnTime(outcome));
  }

  // An outcome whose seconds are the update's own: without the time the user
  // took to choose the image and to confirm it.
  UpdateOutcome OwnTime(UpdateOutcome outcome) const {
    outcome.seconds = std::max(0.0, outcome.seconds - static_cast<double>(m_userMs) / 1000.0);
    return outcome;
  }

  IUpdateObserver* m_progress = nullptr;  // the running update's, on its thread
  uint64_t m_userMs = 0;                  // the running update's time with its user, on its thread

 private:
  // Counts the time the user takes to answer.
  class UserWait {
   public:
    explicit UserWait(FlowWindow& window) : m_window(window), m_startMs(window.m_s.m_system.Clock().NowMs()) {}
    ~UserWait() { m_window.m_userMs += m_window.m_s.m_system.Clock().NowMs() - m_startMs; }
    UserWait(const UserWait&) = delete;
    UserWait& operator=(const UserWait&) = delete;

   private:
    FlowWindow& m_window;
    uint64_t m_startMs;
  };

 private:
  UpdateSession& m_s;
};

bool ControllerProbe::VersionKnown() const {
  return deviceVersion != kDeviceVersionUnknown && !(deviceVersion == kDeviceVersionNoFirmware && !BootMode());
}

std::string ControllerProbe::VersionText() const {
  if (!queried) return N_("unknown");
  return deviceVersion == kDeviceVersionNoFirmware && !BootMode() ? N_("none") : FormatVersionShort(deviceVersion);
}

uint32_t ControllerProbe::AtVersion() const {
  if (!BootMode() || !queried) return 0;
  return ErasedAsZero(at.version);
}

std::string ControllerProbe::Uid() const {
  if (!BootMode() || !queried) return {};
  return StrFormat("%08x%08x%08x", main.uid[0], main.uid[1], main.uid[2]);
}

std::string ControllerProbe::Name() const {
  if (vendorId == 0 && productId == 0) return N_("the controller");
  return StrFormat(N_("controller %04x:%04x"), vendorId, productId);
}

UpdateSession::UpdateSession(IHidBus& bus, ISystem& system, const std::string& logFileName)
    : m_ownDiag(std::make_unique<CDiag>(system)),
      m_ownHid(std::make_unique<CHid>(bus, *m_ownDiag)),
      m_diag(*m_ownDiag),
      m_hid(*m_ownHid),
      m_system(system),
      m_user(&NobodyUser()),
      m_window(std::make_unique<FlowWindow>(*this)),
      m_boot(m_hid, m_diag, system.Clock(), m_state.stopRequested),
      m_selection(*m_window, m_hid, m_diag, system, m_context, m_state),
      m_packet(*m_window, m_hid, m_diag, system, m_selection, m_context, m_state),
      m_info(*m_window, m_hid, m_diag, m_boot, m_packet, m_state),
      m_bootSequence(*m_window, m_diag, system.Clock(), m_boot, m_selection, m_info, m_context, m_state) {
  if (!logFileName.empty()) m_diag.SetLogFileName(logFileName);
  m_diag.CheckLogEnabled();
}

UpdateSession::UpdateSession(CHid& hid, CDiag& diag, ISystem& system, IUpdateUser& user)
    : m_diag(diag),
      m_hid(hid),
      m_system(system),
      m_user(&user),
      m_window(std::make_unique<FlowWindow>(*this)),
      m_boot(m_hid, m_diag, system.Clock(), m_state.stopRequested),
      m_selection(*m_window, m_hid, m_diag, system, m_context, m_state),
      m_packet(*m_window, m_hid, m_diag, system, m_selection, m_context, m_state),
      m_info(*m_window, m_hid, m_diag, m_boot, m_packet, m_state),
      m_bootSequence(*m_window, m_diag, system.Clock(), m_boot, m_selection, m_info, m_context, m_state) {}

UpdateSession::~UpdateSession() { m_context.imageFile.Close(); }

ControllerProbe UpdateSession::Probe(IUpdateUser* user) {
  IUpdateUser* const previous = m_user.exchange(user ? user : m_user.load());
  // The window's start-up, step for step: a report-mode-2 controller gets the
  // mode-2 signal first; a found controller is asked its version (the
  // title falls back to the bare one when no query wrote it).
  m_state.updateEnded.store(true);
  m_state.deviceVersion.store(kDeviceVersionUnknown);
  m_title = LoadText(m_system, kTextTitle);
  StepResult queried = StepResult::Failed(N_("no supported controller found"));
  if (m_hid.SearchDevice()) {
    if (m_hid.Mode() == ReportMode::kPacket) {
      SendModeTwoSignal();
    } else {
      queried = QueryDeviceVersion();
    }
  }
  m_state.transferState.store(TransferState::kDone);
  if (m_state.titleShowsVersion.load() == 0) m_window->SetTitle(LoadText(m_system, kTextTitle));
  if (m_hid.SearchDevice()) queried = QueryDeviceVersion();

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
  probe.deviceVersion = m_state.deviceVersion.load();
  probe.queried = probe.present && queried.ok();
  probe.reason = probe.present ? queried.reason() : N_("no supported controller found");
  if (probe.BootMode()) {
    probe.main = m_info.MainInfo();
    probe.at = m_info.AtInfo();
  }
  probe.title = m_title;
  m_user.store(previous);
  return probe;
}

StepResult UpdateSession::QueryDeviceVersion() { return m_info.QueryDeviceVersion(); }

bool UpdateSession::BeginUpdate() {
  if (!m_hid.OpenHid()) return false;
  m_state.updateEnded.store(false);
  m_state.removalNoticed.store(false);
  m_hid.BeginWorkerUse();
  return true;
}

UpdateOutcome UpdateSession::Update(const UpdateRequest& request) {
  IUpdateUser& user = request.user ? *request.user : User();
  if (!BeginUpdate()) {
    UpdateOutcome outcome;
    outcome.result = OutcomeResult::kFailed;
    outcome.reason = N_("the controller could not be opened");
    outcome.protocol = m_hid.IsBootMode() ? UpdateProtocol::kBoot : UpdateProtocol::kPacket;
    outcome.controllerVersion = "unknown";
    if (request.progress) request.progress->OnUpdateOutcome(outcome);
    return outcome;
  }
  user.EnableUpdate(false);
  user.ShowProgress(0);
  return RunUpdate(request);
}

UpdateOutcome UpdateSession::RunUpdate(const UpdateRequest& request) {
  IUpdateUser* const previous = m_user.exchange(request.user ? request.user : m_user.load());
  if (request.stop) request.stop->Attach(*this);
  m_window->m_progress = request.progress;
  m_window->m_userMs = 0;
  m_context.presetImage = request.image;
  m_timerDueMs.reset();
  UpdateOutcome outcome;
  if (m_state.stopRequested.load()) {
    // Stopped before it began: not a report goes out.
    CUpdateAttempt attempt(m_system.Clock(), m_hid.IsBootMode() ? UpdateProtocol::kBoot : UpdateProtocol::kPacket,
                           m_state.deviceVersion.load());
    outcome = attempt.Finish(OutcomeResult::kInterrupted, N_("the update was stopped before it began"), 0);
    StopUpdate();
    RefreshUpdateButton();
    m_window->OnUpdateOutcome(outcome);
  } else {
    outcome = m_window->OwnTime(m_hid.IsBootMode() ? m_bootSequence.RunBootUpdate() : m_packet.RunPacketUpdate());
  }
  m_hid.EndWorkerUse();
  m_context.presetImage.reset();
  m_window->m_progress = nullptr;
  if (request.stop) request.stop->Detach(*this);
  m_user.store(previous);
  return outcome;
}

void UpdateSession::StopUpdate() {
  m_context.imageFile.Close();
  m_window->KillUpdateTimer();
  m_state.updateEnded.store(true);
}

void UpdateSession::ReportUpdateFailure() {
  StopUpdate();
  User().UpdateFailed();
}

void UpdateSession::ReportUpdateSuccess() {
  m_state.updateEnded.store(true);
  User().UpdateSucceeded();
}

void UpdateSession::RefreshUpdateButton() { User().UpdateEnded(); }

bool UpdateSession::SendModeTwoSignal() { return ReopenAndSignal(m_hid); }

void UpdateSession::TickUpdateTimer() {
  if (!m_timerDueMs) return;
  const uint64_t now = m_system.Clock().NowMs();
  if (now < *m_timerDueMs) return;
  m_timerDueMs = now + kUpdateTimerIntervalMs;
  if (SendModeTwoSignal()) m_timerDueMs.reset();
}

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
