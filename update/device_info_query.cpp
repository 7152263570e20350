// The version query run whenever a supported controller has just been found.
#include "app/cupdate_dlg.h"

namespace tarvik {

void CUpdateDlg::QueryDeviceVersion() {
  m_deviceVersion.store(kDeviceVersionUnknown);
  if (!m_hid.OpenHid()) return;
  if (m_hid.IsBootMode()) {
    GetGamepadInfo();
  } else {
    PacketVersionQuery();
  }
}

// The boot-mode controller's information blocks are not read yet: the device
// version stays unknown and the title keeps the plain title text.
void CUpdateDlg::GetGamepadInfo() {}

// The packet-protocol controller's version report is not asked for yet: the
// device version stays unknown.
void CUpdateDlg::PacketVersionQuery() {}

}  // namespace tarvik
