// What the window shows of the session's reports: the version title, the
// notices, the bar, the button, the questions, and how an update ends.
#include "app/cupdate_dlg.h"
#include "app/window_texts.h"
#include "base/strformat.h"
#include "res/text_table.h"
#include "texts/interface_texts.h"
#include "texts/reason_texts.h"

namespace tarvik {

void CUpdateDlg::ReportUpdateFailure(const UpdateOutcome& failure) {
  ClearStep();
  TellEnd(FormatFailureText(LoadText(kTextUpdateFailure), failure));
  if (m_hid.IsDevicePresent()) m_updateButton.EnableWindow(true);
}

void CUpdateDlg::ReportUpdateSuccess() {
  TellEnd(StrFormat("\n %s \n", LoadText(kTextUpgraded).c_str()));
  if (!m_stepShown.empty()) {
    m_stepShown.clear();
    m_upgradedNotice.SetWindowText(LoadText(kTextUpgraded));
  }
  m_upgradedNotice.ShowWindow(true);
  SetProgressPos(IDC_PROGRESS, 0);
}

void CUpdateDlg::TellEnd(const std::string& text) {
  const std::string caption = LoadText(kTextTitle);
  OnUiThread([&] {
    CloseCloseQuestion(true);
    Host().MessageBox(text, caption, MsgBoxButtons::kOk);
  });
}

void CUpdateDlg::ClearStep() {
  if (m_stepShown.empty()) return;
  m_stepShown.clear();
  m_upgradedNotice.ShowWindow(false);
  m_upgradedNotice.SetWindowText(LoadText(kTextUpgraded));
}

void CUpdateDlg::OnUpdateStep(const UpdateProgress& progress) {
  // The notice line, hidden while an update runs, tells its step.
  if (std::string step = FormatStepText(progress); step != m_stepShown) {
    m_stepShown = std::move(step);
    m_upgradedNotice.SetWindowText(m_stepShown);
    m_upgradedNotice.ShowWindow(true);
  }
  if (m_observer) m_observer->OnUpdateStep(progress);
}

void CUpdateDlg::RefreshUpdateButton() {
  m_updateButton.EnableWindow(m_hid.SearchDevice());
}

void CUpdateDlg::OnVersionLearnt(const ControllerVersions& versions) {
  if (versions.protocol == UpdateProtocol::kBoot) {
    m_titleShowsVersion.store(true);
  } else if (versions.main.Word() == FirmwareVersion::kNoFirmwareWord) {
    return;  // the connection instructions follow; the title stays
  }
  SetWindowText(VersionTitle(LoadText(kTextTitle), versions));
}

void CUpdateDlg::OnNotice(UpdateNotice notice) {
  switch (notice) {
    case UpdateNotice::kMainInfoFailed:
    case UpdateNotice::kAtInfoFailed:
      // The same words in every language, as the log has them.
      m_updateButton.EnableWindow(false);
      MessageBox(notice == UpdateNotice::kMainInfoFailed ? "Get device info error" : "Get sub device info error",
                 std::nullopt, MsgBoxButtons::kOk);
      break;
    case UpdateNotice::kNeedBootMode: {
      const std::string text = StrFormat("%s\n", LoadText(kTextNeedBootMode).c_str());
      m_diag.Trace("%s", text.c_str());
      TellEnd(text + "\n" + AsSentence(ReasonText(Reason(ReasonCode::kNeedBootMode))));
      break;
    }
    case UpdateNotice::kNoFirmware:
      MessageBox(LoadText(kTextHelp), LoadText(kTextTitle), MsgBoxButtons::kOk);
      break;
  }
}

void CUpdateDlg::OnProgress(uint64_t bytes, uint64_t total) {
  // The bar's range ends at 100; bytes beyond the total do not move it further.
  const uint64_t position = total == 0 ? 100 : std::min<uint64_t>(bytes * 100 / total, 100);
  SetProgressPos(IDC_PROGRESS, static_cast<int>(position));
}

void CUpdateDlg::OnMilestone(UpdateMilestone milestone) {
  switch (milestone) {
    case UpdateMilestone::kSucceeded:
      ReportUpdateSuccess();
      break;
    case UpdateMilestone::kDataSent:
      m_updateButton.EnableWindow(true);
      break;
    case UpdateMilestone::kSettled:
      RefreshUpdateButton();
      break;
  }
}

std::optional<std::string> CUpdateDlg::ChooseImage() {
  FileDialogRequest request;
  request.types = {{LoadText(kTextFileType) + "(*.dat)", "*.dat"}};
  request.initialDirectory = m_system.CurrentDirectory();
  return ShowOpenFileDialog(request);
}

bool CUpdateDlg::ConfirmChange(const VersionChange& change) {
  const std::string text = FormatVersionQuestion(LoadText(kTextFw), LoadText(kTextCurrentIs), change);
  if (MessageBox(text, LoadText(kTextTitle), MsgBoxButtons::kOkCancel) == MsgBoxAnswer::kOk) return true;
  m_diag.Trace("MessageBox == IDCANCEL\n");
  return false;
}

}  // namespace tarvik
