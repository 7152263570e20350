// The window host on Windows: the main window is a modal dialog built from
// dialog template 102 of the executable's resources, and its thread is the
// user-interface thread.
//
// Calls from other threads wait in the task queue every host shares; a
// message to a hidden message-only window, which lives a little longer than
// the dialog, wakes that thread to run them. Once the dialog is gone the
// queue answers the calls still waiting instead of running them, so that a
// worker blocked in SendToUi is released before the engine joins it.
//
// Screen readers read the controls through the system's standard accessible
// objects. The host adds what those cannot know: the progress bar's name and
// the step line's live setting. The keyboard alone works the window: the
// focus stays on a control a person can use, and Enter presses the focused
// button.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/std/ui_task_queue.h"
#include "platform/win32/accessible_annotations.h"
#include "platform/win32/win32_api.h"
#include "platform/window_host.h"
#include "res/resource.h"

namespace tarvik::win32 {

class Win32WindowHost : public IWindowHost {
 public:
  // `instance` holds the dialog template and the icon; nullptr: the executable.
  explicit Win32WindowHost(HINSTANCE instance = nullptr, int templateId = IDD_UPDATE_DIALOG);
  ~Win32WindowHost() override;
  Win32WindowHost(const Win32WindowHost&) = delete;
  Win32WindowHost& operator=(const Win32WindowHost&) = delete;

  // The dialog while it exists (from WM_INITDIALOG on), else nullptr.
  HWND DialogWindow() const { return m_dialogWindow.load(); }

  // IWindowHost. RunModal returns the EndModal result, or -1 when the dialog
  // could not be created (for example without a display).
  int RunModal(IDialogEvents& dialog) override;
  void EndModal(int result) override;
  void SetWindowText(const std::string& text) override;
  void SetItemText(int id, const std::string& text) override;
  void EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) override;
  void ShowItem(int id, bool show) override;
  // Through the system's annotation service. A progress bar also takes the
  // name as its text, which it does not draw.
  void SetItemAccessibleName(int id, const std::string& name) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPos(int id, int pos) override;
  void SetIcon(int resourceId, bool big) override;
  // Without a caption the box shows the application's name (the executable's
  // name without extension): the system's own default would be "Error".
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
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK CallWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Learns the window of the message box being opened on this thread.
  static LRESULT CALLBACK BoxHookProc(int code, WPARAM wParam, LPARAM lParam);

  // A message box on the screen: its text, and its window once it is made.
  struct OpenBox {
    std::string text;
    HWND window = nullptr;
  };

  INT_PTR OnDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // The minimised window shows its icon, centred. False: the dialog's default
  // painting runs.
  bool OnPaint(HWND window);
  // The icon shown while a minimised window is dragged.
  HICON OnQueryDragIcon() const { return m_icon; }
  // Enter where no button is the default.
  void PressFocusedButton(HWND window);
  // While the window is active, a control of it has the keyboard focus: the
  // first tab stop gets it when none has it.
  void KeepFocusInWindow(HWND window);
  void RequestClose();
  bool CreateCallWindow();
  void WakeUiThread();  // any thread, under the task queue's lock
  HWND Item(int id) const;
  // Whether the template makes control `id` a polite live region.
  bool IsLiveItem(int id) const;

  HINSTANCE m_instance;
  int m_templateId;

  // User-interface thread only.
  IDialogEvents* m_dialog = nullptr;
  HICON m_icon = nullptr;  // the window's icon, shared: the system keeps it
  std::vector<OpenBox> m_boxes;  // the innermost last
  AccessibleAnnotations m_annotations;

  std::atomic<HWND> m_dialogWindow{nullptr};
  // Set before the task queue opens and cleared after it closes: read by
  // other threads only while it is open.
  HWND m_callWindow = nullptr;

  UiTaskQueue m_tasks;  // last: its tasks use the members above
};

}  // namespace tarvik::win32
