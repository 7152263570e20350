#include "app/cdialog.h"

namespace tarvik {

void CDlgItem::SetWindowText(const std::string& text) {
  IWindowHost& host = m_dialog.Host();
  m_dialog.OnUiThread([&] { host.SetItemText(m_id, text); });
}

void CDlgItem::EnableWindow(bool enable) {
  IWindowHost& host = m_dialog.Host();
  m_dialog.OnUiThread([&] { host.EnableItem(m_id, enable); });
}

void CDlgItem::ShowWindow(bool show) {
  IWindowHost& host = m_dialog.Host();
  m_dialog.OnUiThread([&] { host.ShowItem(m_id, show); });
}

void CDlgItem::SetAccessibleName(const std::string& name) {
  IWindowHost& host = m_dialog.Host();
  m_dialog.OnUiThread([&] { host.SetItemAccessibleName(m_id, name); });
}

bool CDlgItem::IsWindowEnabled() {
  IWindowHost& host = m_dialog.Host();
  bool enabled = false;
  m_dialog.OnUiThread([&] { enabled = host.IsItemEnabled(m_id); });
  return enabled;
}

void CDialog::EndDialog(int result) {
  OnUiThread([&] { m_host.EndModal(result); });
}

void CDialog::SetWindowText(const std::string& text) {
  OnUiThread([&] { m_host.SetWindowText(text); });
}

void CDialog::SetProgressRange(int id, int low, int high) {
  OnUiThread([&] { m_host.SetProgressRange(id, low, high); });
}

void CDialog::SetProgressPos(int id, int pos) {
  // A worker does not wait for the bar: the update's pace is its own. It sets
  // the same position for many chunks in a row; the bar hears of changes only.
  if (m_host.IsUiThread()) {
    m_lastPosted.store(kNothingPosted);
    m_host.SetProgressPos(id, pos);
  } else {
    const int64_t posted = (int64_t{id} << 32) | static_cast<uint32_t>(pos);
    if (m_lastPosted.exchange(posted) == posted) return;
    m_host.PostProgressPos(id, pos);
  }
}

MsgBoxAnswer CDialog::MessageBox(const std::string& text, const std::optional<std::string>& caption,
                                 MsgBoxButtons buttons) {
  MsgBoxAnswer answer = MsgBoxAnswer::kCancel;
  OnUiThread([&] { answer = m_host.MessageBox(text, caption, buttons); });
  return answer;
}

std::optional<std::string> CDialog::ShowOpenFileDialog(const FileDialogRequest& request) {
  std::optional<std::string> chosen;
  OnUiThread([&] { chosen = m_host.OpenFileDialog(request); });
  return chosen;
}

void CDialog::SetTimer(uintptr_t timerId, uint32_t intervalMs) {
  OnUiThread([&] { m_host.SetTimer(timerId, intervalMs); });
}

void CDialog::KillTimer(uintptr_t timerId) {
  OnUiThread([&] { m_host.KillTimer(timerId); });
}

void CDialog::SetIcon(int resourceId, bool big) {
  OnUiThread([&] { m_host.SetIcon(resourceId, big); });
}

}  // namespace tarvik
