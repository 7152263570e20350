// The worker entries started by the update button.
#include "app/cupdate_dlg.h"

namespace tarvik {

void Boot_UpdateThread(CUpdateDlg* dlg) { dlg->RunBootUpdate(); }

void Usb_UpdateThread(CUpdateDlg* dlg) { dlg->RunPacketUpdate(); }

}  // namespace tarvik
