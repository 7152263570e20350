// The worker entries started by the update button: the session runs the
// flow of the protocol the controller speaks, with this window as its
// prompt and the drawing of its events.
#include "app/cupdate_dlg.h"

namespace tarvik {

void CUpdateDlg::RunUpdateOnWorker() {
  UpdateRequest request;
  request.prompt = this;
  request.events = this;
  request.progress = this;
  request.trust = MachineTrust(m_system);
  m_session.RunUpdate(request);
}

void Boot_UpdateThread(CUpdateDlg* dlg) { dlg->RunUpdateOnWorker(); }

void Usb_UpdateThread(CUpdateDlg* dlg) { dlg->RunUpdateOnWorker(); }

}  // namespace tarvik
