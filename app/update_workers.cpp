// The worker entries started by the update button.
#include "app/cupdate_dlg.h"

namespace tarvik {

void Boot_UpdateThread(CUpdateDlg* dlg) { dlg->RunBootUpdate(); }

// Flashing over the packet protocol is not wired in yet: a started update ends
// at once and the button is set from a new search, as every update's end does.
void Usb_UpdateThread(CUpdateDlg* dlg) { dlg->RefreshUpdateButton(); }

}  // namespace tarvik
