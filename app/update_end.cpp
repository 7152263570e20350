// How an update ends: stop, report failure or success, set the button.
#include "app/cupdate_dlg.h"
#include "res/text_table.h"
#include "base/strformat.h"

namespace tarvik {

// The session has closed the image, killed the update timer and marked the
// update ended before each of these.
void CUpdateDlg::UpdateFailed() {
  MessageBox(StrFormat("%s\n", LoadText(kTextUpdateFailure).c_str()), LoadText(kTextTitle),
             MsgBoxButtons::kOk);
  if (m_hid.IsDevicePresent()) m_updateButton.EnableWindow(true);
}

void CUpdateDlg::UpdateSucceeded() {
  MessageBox(StrFormat("\n %s \n", LoadText(kTextUpgraded).c_str()), LoadText(kTextTitle),
             MsgBoxButtons::kOk);
  m_upgradedNotice.ShowWindow(true);
  SetProgressPos(IDC_PROGRESS, 0);
}

void CUpdateDlg::UpdateEnded() {
  m_updateButton.EnableWindow(m_hid.SearchDevice());
}

}  // namespace tarvik
