// How an update ends: stop, report failure or success, set the button.
#include "app/cupdate_dlg.h"
#include "app/text_table.h"
#include "base/strformat.h"

namespace tarvik {

void CUpdateDlg::StopUpdate() {
  Context().imageFile.Close();
  KillTimer(kUpdateTimerId);
  m_engine.State().stopFlag.store(1);
}

void CUpdateDlg::ReportUpdateFailure() {
  StopUpdate();
  MessageBox(StrFormat("%s\n", LoadText(kTextUpdateFailure).c_str()), LoadText(kTextTitle),
             MsgBoxButtons::kOk);
  if (m_hid.IsDevicePresent()) m_updateButton.EnableWindow(true);
}

void CUpdateDlg::ReportUpdateSuccess() {
  m_engine.State().stopFlag.store(1);
  MessageBox(StrFormat("\n %s \n", LoadText(kTextUpgraded).c_str()), LoadText(kTextTitle),
             MsgBoxButtons::kOk);
  m_upgradedNotice.ShowWindow(true);
  SetProgressPos(IDC_PROGRESS, 0);
}

void CUpdateDlg::RefreshUpdateButton() {
  m_updateButton.EnableWindow(m_hid.SearchDevice());
}

}  // namespace tarvik
