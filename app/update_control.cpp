// The update button, the worker's life and device-change notifications.
#include "app/cupdate_dlg.h"
#include "app/text_table.h"

namespace tarvik {

void CUpdateDlg::OnBnClickedUsbUpdate() {
  // One worker at a time, even if the button was enabled before the worker ended.
  if (m_workerRunning.load()) return;

  m_upgradedNotice.ShowWindow(false);
  if (!m_hid.OpenHid()) return;
  m_stopFlag.store(0);
  m_updateButton.EnableWindow(false);
  SetProgressPos(IDC_PROGRESS, 0);
  StartWorker(m_hid.IsBootMode() ? &Boot_UpdateThread : &Usb_UpdateThread);
}

void CUpdateDlg::StartWorker(void (*entry)(CUpdateDlg*)) {
  if (m_worker) m_worker->Join();  // the previous worker has ended; reclaim it
  m_hid.BeginWorkerUse();
  m_workerRunning.store(true);
  m_worker = m_system.StartThread([this, entry] {
    entry(this);
    m_hid.EndWorkerUse();
    if (!m_closing.load()) Host().PostToUi([this] { OnWorkerEnded(); });
  });
}

void CUpdateDlg::OnWorkerEnded() {
  if (m_worker) m_worker->Join();
  m_worker.reset();
  m_workerRunning.store(false);
  // Notifications that arrived during the update are handled now, in order.
  std::vector<uint32_t> events;
  events.swap(m_deferredEvents);
  for (uint32_t event : events) HandleDeviceChange(event);
}

bool CUpdateDlg::OnDeviceChange(uint32_t eventType, uintptr_t /*eventData*/) {
  if (m_workerRunning.load()) {
    // The worker owns the device and the window's controls until it ends; a
    // search or a version query now would race with it.
    const uint32_t event = eventType & 0xFFFF;
    if (m_deferredEvents.empty() || m_deferredEvents.back() != event) m_deferredEvents.push_back(event);
    return true;
  }
  HandleDeviceChange(eventType);
  return true;
}

void CUpdateDlg::HandleDeviceChange(uint32_t eventType) {
  switch (eventType & 0xFFFF) {
    case kDbtDevNodesChanged:
      if (m_hid.SearchDevice()) {
        m_updateButton.EnableWindow(true);
      } else {
        m_updateButton.EnableWindow(false);
        SetWindowText(LoadText(kTextTitle));
      }
      break;
    case kDbtDeviceArrival:
      if (m_hid.SearchDevice()) {
        m_updateButton.EnableWindow(true);
        QueryDeviceVersion();
      }
      break;
    case kDbtDeviceRemoveComplete:
      if (!m_hid.SearchDevice()) {
        m_updateButton.EnableWindow(false);
        m_diag.TraceText(LoadText(kTextTitle));
        SetWindowText(LoadText(kTextTitle));
      }
      break;
    default:
      break;
  }
}

}  // namespace tarvik
