// The window host on Qt 6 Widgets: the dialog of template 102 with its four
// controls placed from the template's dialog units, message boxes and the
// file-open dialog owned by it, window timers, and the hand-over of a worker's
// window operations to the user-interface thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/std/ui_task_queue.h"
#include "platform/window_host.h"

class QDialog;
class QIcon;
class QProgressBar;
class QTimer;
class QWidget;

namespace tarvik {

// The program's name. A box given no caption shows it, and screen readers
// call the application by it.
inline constexpr char kProgramName[] = "Tarvik Update";

// Makes screen readers call the running application kProgramName. Its
// application name, the desktop entry's id, stays as it is.
void NameApplicationForScreenReaders();

class UpdateDialogWidget;

class QtWindowHost final : public IWindowHost {
 public:
  // Hooks for tests and front ends: a modal box or file dialog can be answered
  // without showing it. Each returns nothing to let the real dialog run.
  using MessageBoxHook = std::function<std::optional<MsgBoxAnswer>(
      const std::string& text, const std::optional<std::string>& caption, MsgBoxButtons buttons)>;
  using FileDialogHook =
      std::function<std::optional<std::optional<std::string>>(const FileDialogRequest& request)>;

  QtWindowHost();
  ~QtWindowHost() override;

  void SetMessageBoxHook(MessageBoxHook hook) { m_messageBoxHook = std::move(hook); }
  void SetFileDialogHook(FileDialogHook hook) { m_fileDialogHook = std::move(hook); }
  // Called on the user-interface thread once the window is shown.
  void SetShownHook(std::function<void(QDialog&)> hook) { m_shownHook = std::move(hook); }
  // Called on the user-interface thread after the window has handled a device change.
  void SetDeviceChangeHook(std::function<void(DeviceChange change)> hook) {
    m_deviceChangeHook = std::move(hook);
  }

  // The window while it runs (tests and screenshots); nullptr otherwise.
  QDialog* Window() const;
  QWidget* Control(int id) const;

  // Pixels of a dialog-unit rectangle with the dialog font, as Windows converts them.
  static void DialogUnitsToPixels(const QWidget& window, int& x, int& y, int& cx, int& cy);

  // IWindowHost
  int RunModal(IDialogEvents& dialog) override;
  void EndModal(int result) override;
  void SetWindowText(const std::string& text) override;
  void SetItemText(int id, const std::string& text) override;
  void EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) override;
  void ShowItem(int id, bool show) override;
  void SetItemAccessibleName(int id, const std::string& name) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPos(int id, int pos) override;
  void SetIcon(int resourceId, bool big) override;
  MsgBoxAnswer MessageBox(const std::string& text, const std::optional<std::string>& caption,
                          MsgBoxButtons buttons) override;
  void CloseMessageBox(const std::string& text) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void SetTimer(uintptr_t timerId, uint32_t intervalMs) override;
  void KillTimer(uintptr_t timerId) override;
  bool IsUiThread() override;
  bool SendToUi(const std::function<void()>& op) override;
  void PostToUi(std::function<void()> op) override;
  void PostDeviceChange(DeviceChange change) override;

 private:
  friend class UpdateDialogWidget;

  // A box on the screen and its text.
  struct OpenBox {
    std::string text;
    QDialog* box;
  };

  void WakeUiThread();  // any thread, under the task queue's lock
  // Runs `box` modally, listed as open while it runs.
  int RunBox(QDialog& box, const std::string& text);

  MessageBoxHook m_messageBoxHook;
  FileDialogHook m_fileDialogHook;
  std::function<void(QDialog&)> m_shownHook;
  std::function<void(DeviceChange)> m_deviceChangeHook;

  IDialogEvents* m_dialog = nullptr;
  UpdateDialogWidget* m_widget = nullptr;
  std::unique_ptr<QIcon> m_icon;
  std::map<uintptr_t, QTimer*> m_timers;
  std::vector<OpenBox> m_boxes;  // the innermost last

  UiTaskQueue m_tasks;  // last: its tasks use the members above
};

}  // namespace tarvik
