#include "app/cupdate_app.h"

#include "app/cupdate_dlg.h"

namespace tarvik {

bool CUpdateApp::InitInstance() {
  CUpdateDlg dlg(m_platform);
  dlg.DoModal();
  return false;
}

}  // namespace tarvik
