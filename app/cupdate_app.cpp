#include "app/cupdate_app.h"

#include "app/cupdate_dlg.h"
#include "texts/interface_texts.h"

namespace tarvik {

bool CUpdateApp::InitInstance() {
  // The catalogue's texts (reasons, next steps) speak the window's language.
  ChooseTextLanguage(m_platform.system.InterfaceLanguage());
  CUpdateDlg dlg(m_platform);
  dlg.DoModal();
  return false;
}

}  // namespace tarvik
