#include "app/cupdate_dlg.h"

#include "app/window_texts.h"
#include "base/strformat.h"
#include "res/text_table.h"
#include "texts/interface_texts.h"
#include "texts/reason_texts.h"

namespace tarvik {

CUpdateDlg::CUpdateDlg(const PlatformServices& platform, CDialog* /*parent*/)
    : CDialog(IDD, platform.host),
      m_system(platform.system),
      m_diag(platform.system),
      m_hid(platform.bus, m_diag),
      m_session(m_hid, m_diag, platform.system, *this) {
  m_diag.CheckLogEnabled();
}

CUpdateDlg::~CUpdateDlg() {
  // A worker may still run if the window went without asking: it is told to
  // stop, its window operations no longer wait for the closed window, and it
  // is joined here before the device object and the image file go. How it
  // ended goes to the trace and the log.
  m_stopToClose.store(true);
  RequestStop();
  if (m_worker) m_worker->Join();
}

std::optional<UpdateOutcome> CUpdateDlg::LastOutcome() const {
  std::lock_guard<std::mutex> lock(m_outcomeLock);
  return m_lastOutcome;
}

void CUpdateDlg::OnUpdateOutcome(const UpdateOutcome& outcome) {
  ClearStep();
  {
    std::lock_guard<std::mutex> lock(m_outcomeLock);
    m_lastOutcome = outcome;
  }
  if (m_observer) m_observer->OnUpdateOutcome(outcome);
  // The window closes once this worker ends, and no box tells the outcome.
  // The trace and the log keep it.
  if (m_stopToClose.load()) {
    const std::string reason = outcome.reason.Empty() ? "" : " (" + EnglishReasonText(outcome.reason) + ")";
    const std::string line =
        StrFormat("Update ended as the window closes: %s%s, %llu of %llu bytes sent\n", OutcomeName(outcome.result),
                  reason.c_str(), static_cast<unsigned long long>(outcome.bytesSent),
                  static_cast<unsigned long long>(outcome.payloadTotal));
    m_diag.TraceText(line);
    m_diag.WriteLog("%s", line.c_str());
  }
}

std::string CUpdateDlg::LoadText(int textIndex) const { return tarvik::LoadText(m_system, textIndex); }

bool CUpdateDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  SetIcon(IDI_MAINFRAME, true);
  SetIcon(IDI_MAINFRAME, false);

  m_upgradedNotice.ShowWindow(false);
  m_upgradedNotice.SetWindowText(LoadText(kTextUpgraded));
  m_helpText.SetWindowText(LoadText(kTextHelp));

  SetProgressRange(IDC_PROGRESS, 0, 100);
  SetProgressPos(IDC_PROGRESS, 0);
  // The bar shows no text of its own: a screen reader reads this name.
  GetDlgItem(IDC_PROGRESS).SetAccessibleName(Tr("Update progress"));

  m_updateButton.SetWindowText(LoadText(kTextUsbUpdate));

  m_hid.SetRecipientWindow(&Host());
  m_session.StartUpProbe(*this);
  return true;
}

void CUpdateDlg::OnFirstSearch(bool found, ReportMode mode) {
  // A report-mode-2 controller's button keeps the state the template gives it (enabled).
  if (!found || mode != ReportMode::kPacket) m_updateButton.EnableWindow(found);
}

void CUpdateDlg::OnBeforeSecondSearch() {
  if (!m_titleShowsVersion.load()) SetWindowText(LoadText(kTextTitle));
}

void CUpdateDlg::OnFoundAgain() { m_updateButton.EnableWindow(true); }

StepResult CUpdateDlg::Query(UpdateSession& /*session*/) { return QueryDeviceVersion(); }

StepResult CUpdateDlg::QueryDeviceVersion() {
  // A message box of the query runs the window's events: device notices that
  // come meanwhile wait until the query has ended, so that no second search
  // and query start inside this one.
  m_queryRunning.store(true);
  StepResult result = m_session.QueryDeviceVersion();
  m_queryRunning.store(false);
  if (!m_workerRunning.load()) HandleDeferredDeviceChanges();
  return result;
}

void CUpdateDlg::OnCommand(int controlId) {
  if (controlId == IDC_USB_UPDATE) OnBnClickedUsbUpdate();
}

void CUpdateDlg::OnTimer(uintptr_t timerId) {
  if (timerId == kUpdateTimerId) {
    if (m_session.SendModeTwoSignal()) KillTimer(kUpdateTimerId);
  }
  CDialog::OnTimer(timerId);
}

}  // namespace tarvik
