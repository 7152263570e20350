// The update button, the worker's life and device-change notifications.
#include "app/cupdate_dlg.h"
#include "app/window_texts.h"
#include "res/text_table.h"

namespace tarvik {

void CUpdateDlg::OnBnClickedUsbUpdate() {
  // One worker at a time, even if the button was enabled before the worker ended.
  if (m_workerRunning.load()) return;

  m_upgradedNotice.ShowWindow(false);
  const std::optional<UpdateProtocol> protocol = m_session.BeginUpdate();
  if (!protocol) return;
  m_updateButton.EnableWindow(false);
  SetProgressPos(IDC_PROGRESS, 0);
  m_updateProtocol = *protocol;
  StartWorker(*protocol == UpdateProtocol::kBoot ? &Boot_UpdateThread : &Usb_UpdateThread);
}

void CUpdateDlg::StartWorker(void (*entry)(CUpdateDlg*)) {
  if (m_worker) m_worker->Join();  // the previous worker has ended; reclaim it
  m_workerRunning.store(true);
  m_worker = m_system.StartThread([this, entry] {
    entry(this);
    Host().PostToUi([this] { OnWorkerEnded(); });
  });
}

void CUpdateDlg::OnWorkerEnded() {
  if (m_worker) m_worker->Join();
  m_worker.reset();
  m_workerRunning.store(false);
  // An update that ended without a box of its own still ends the close question.
  CloseCloseQuestion(false);
  if (m_closeWhenWorkerEnds) {
    EndDialog(kIdCancel);
    return;
  }
  HandleDeferredDeviceChanges();
}

void CUpdateDlg::HandleDeferredDeviceChanges() {
  if (m_deferredEvents.empty()) return;
  // Whatever came and went during the update is settled by one search; a
  // controller that arrived gets its version query.
  bool arrived = false;
  bool removed = false;
  for (DeviceChange event : m_deferredEvents) {
    arrived = arrived || event == DeviceChange::kArrival;
    removed = removed || event == DeviceChange::kRemoval;
  }
  m_deferredEvents.clear();
  if (m_hid.SearchDevice()) {
    m_updateButton.EnableWindow(true);
    if (arrived) QueryDeviceVersion();
    return;
  }
  m_updateButton.EnableWindow(false);
  if (removed) m_diag.TraceText(LoadText(kTextTitle));
  SetWindowText(LoadText(kTextTitle));
}

bool CUpdateDlg::OnCloseRequest() {
  if (!m_workerRunning.load()) return true;
  // Already answered, or the question is still open.
  if (m_closeWhenWorkerEnds || m_closeQuestion) return false;
  m_closeQuestion = FormatCloseQuestion(m_updateProtocol);
  m_closeQuestionClosed = false;
  m_closeQuestionEndTold = false;
  const MsgBoxAnswer answer = MessageBox(*m_closeQuestion, LoadText(kTextTitle), MsgBoxButtons::kOkCancel);
  m_closeQuestion.reset();
  // The update ended while the question was open. When its own box told how,
  // the window stays for the person to read it. When it only wound up after
  // a box already answered, nothing is left to read: the window closes.
  if (m_closeQuestionClosed) return !m_closeQuestionEndTold && !m_workerRunning.load();
  if (answer != MsgBoxAnswer::kOk) return false;
  // The worker stops at its next step. The window closes once it has ended.
  m_stopToClose.store(true);
  RequestStop();
  m_closeWhenWorkerEnds = true;
  return false;
}

void CUpdateDlg::CloseCloseQuestion(bool endBoxFollows) {
  if (!m_closeQuestion || m_closeQuestionClosed) return;
  m_closeQuestionClosed = true;
  m_closeQuestionEndTold = endBoxFollows;
  Host().CloseMessageBox(*m_closeQuestion);
}

void CUpdateDlg::OnDeviceChange(DeviceChange change) {
  const bool queryRunning = m_queryRunning.load();
  if (m_workerRunning.load() || queryRunning) {
    // The worker (or a version query) owns the device and the window's
    // controls until it ends; a search or a query now would race with it.
    if (change == DeviceChange::kRemoval && !queryRunning) m_session.NoticeRemoval();
    m_deferredEvents.push_back(change);
    return;
  }
  HandleDeviceChange(change);
}

void CUpdateDlg::HandleDeviceChange(DeviceChange change) {
  switch (change) {
    case DeviceChange::kNodesChanged:
      if (m_hid.SearchDevice()) {
        m_updateButton.EnableWindow(true);
      } else {
        m_updateButton.EnableWindow(false);
        SetWindowText(LoadText(kTextTitle));
      }
      break;
    case DeviceChange::kArrival:
      if (m_hid.SearchDevice()) {
        m_updateButton.EnableWindow(true);
        QueryDeviceVersion();
      }
      break;
    case DeviceChange::kRemoval:
      if (!m_hid.SearchDevice()) {
        m_updateButton.EnableWindow(false);
        m_diag.TraceText(LoadText(kTextTitle));
        SetWindowText(LoadText(kTextTitle));
      }
      break;
  }
}

}  // namespace tarvik
