// A small dialog layer in place of a framework's dialog class: the window's
// operations, usable from any thread (a worker's calls are run on the
// user-interface thread and waited for), and default handlers.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/window_host.h"

namespace tarvik {

class CDialog;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// One control of the dialog, addressed by its id.
class CDlgItem {
 public:
  CDlgItem(CDialog& dialog, int id) : m_dialog(dialog), m_id(id) {}
  int Id() const { return m_id; }
  void SetWindowText(const std::string& text);
  void EnableWindow(bool enable);
  void ShowWindow(bool show);
  void SetAccessibleName(const std::string& name);
  bool IsWindowEnabled();

 private:
  CDialog& m_dialog;
  int m_id;
};

class CDialog : public IDialogEvents {
 public:
  CDialog(int templateId, IWindowHost& host) : m_templateId(templateId), m_host(host) {}

  int TemplateId() const { return m_templateId; }
  IWindowHost& Host() { return m_host; }

  int DoModal() { return m_host.RunModal(*this); }
  void EndDialog(int result);

  // Default handlers.
  bool OnInitDialog() override { return true; }
  void OnDeviceChange(DeviceChange) override {}
  void OnTimer(uintptr_t) override {}
  void OnCommand(int) override {}
  bool IsBusy() const override { return false; }
  bool OnCloseRequest() override { return true; }

  // Window operations, from any thread.
  void SetWindowText(const std::string& text);
  CDlgItem GetDlgItem(int id) { return CDlgItem(*this, id); }
  void SetProgressRange(int id, int low, int high);
  void SetProgressPos(int id, int pos);
  // A message box owned by this window. When the window is gone the answer is Cancel.
  MsgBoxAnswer MessageBox(const std::string& text, const std::optional<std::string>& caption,
                          MsgBoxButtons buttons);
  std::optional<std::string> ShowOpenFileDialog(const FileDialogRequest& request);
  void SetTimer(uintptr_t timerId, uint32_t intervalMs);
  void KillTimer(uintptr_t timerId);
  void SetIcon(int resourceId, bool big);

  // Runs `op` on the user-interface thread and waits; false when the window is gone.
  bool OnUiThread(const std::function<void()>& op) { return m_host.SendToUi(op); }

 private:
  int m_templateId;
  IWindowHost& m_host;
  // The last position a worker posted (bar id in the high half), or none
  // since the user-interface thread last set one itself.
  static constexpr int64_t kNothingPosted = -1;
  std::atomic<int64_t> m_lastPosted{kNothingPosted};
};

}  // namespace tarvik
