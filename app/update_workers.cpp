// The worker entries started by the update button.
#include "app/cupdate_dlg.h"

namespace tarvik {

// Flashing is not wired in yet for either protocol: a started update ends at
// once and the button is set from a new search, as every update's end does.
void Boot_UpdateThread(CUpdateDlg* dlg) { dlg->RefreshUpdateButton(); }

void Usb_UpdateThread(CUpdateDlg* dlg) { dlg->RefreshUpdateButton(); }

}  // namespace tarvik
