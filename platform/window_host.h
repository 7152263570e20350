// Window host seam: the main window, its four controls, message boxes, the
// file-open dialog, window timers and the user-interface thread. Implemented by
// the headless host (CLI, tests) and by the desktop hosts.
//
// Window operations run on the user-interface thread only; the dialog layer
// (app/cdialog.h) brings calls from other threads there with SendToUi.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid_bus.h"

namespace tarvik {

enum class MsgBoxButtons { kOk, kOkCancel };
enum class MsgBoxAnswer { kOk = 1, kCancel = 2 };  // IDOK, IDCANCEL

// One kind of file the open dialog offers.
struct FileType {
  std::string label;    // "File type(*.dat)"
  std::string pattern;  // "*.dat"
};

// What the open dialog asks for. Each host shows it in its system's own dialog.
struct FileDialogRequest {
  std::vector<FileType> types;  // the first is the one offered first
  std::string initialDirectory;
};

// What the host calls on the window, always on the user-interface thread.
class IDialogEvents {
 public:
  virtual ~IDialogEvents() = default;
  virtual bool OnInitDialog() = 0;
  virtual void OnDeviceChange(DeviceChange change) = 0;
  virtual void OnTimer(uintptr_t timerId) = 0;
  virtual void OnCommand(int controlId) = 0;  // BN_CLICKED of a push button
  // True while the window has background work (an update worker) running.
  virtual bool IsBusy() const = 0;
  // The user asks to close the window (close box, Esc): true to close now.
  // A window that answers false may end itself later with EndModal.
  virtual bool OnCloseRequest() = 0;
};

class IWindowHost : public IDeviceNotifyTarget {
 public:
  // Runs `dialog` modally on the calling thread, which is the user-interface
  // thread from here on: OnInitDialog, then events until the window closes.
  virtual int RunModal(IDialogEvents& dialog) = 0;
  virtual void EndModal(int result) = 0;

  // The window and its controls. `id` is a control id of the dialog template.
  virtual void SetWindowText(const std::string& text) = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  virtual void EnableItem(int id, bool enable) = 0;
  virtual bool IsItemEnabled(int id) = 0;
  virtual void ShowItem(int id, bool show) = 0;
  // The name a screen reader reads for a control whose text names nothing,
  // such as a progress bar. A host that no screen reader reads ignores it.
  virtual void SetItemAccessibleName(int /*id*/, const std::string& /*name*/) {}
  // Progress bar: range and position; the position is clamped to the range.
  virtual void SetProgressRange(int id, int low, int high) = 0;
  virtual void SetProgressPos(int id, int pos) = 0;
  // From any thread: sets the position on the user-interface thread without
  // waiting for it (positions keep their order).
  virtual void PostProgressPos(int id, int pos) {
    PostToUi([this, id, pos] { SetProgressPos(id, pos); });
  }

  // The window's big or small icon, the resource `resourceId`. A host that
  // draws the minimised window draws this icon.
  virtual void SetIcon(int resourceId, bool big) = 0;

  // Modal boxes owned by the window. A missing caption shows the application's name.
  virtual MsgBoxAnswer MessageBox(const std::string& text, const std::optional<std::string>& caption,
                                  MsgBoxButtons buttons) = 0;
  // Closes the open box that shows `text`, the innermost one if several do.
  // Its MessageBox call returns kCancel. Nothing happens when no such box is open.
  virtual void CloseMessageBox(const std::string& text) = 0;
  // The chosen full path, or nothing when the dialog did not end with OK.
  virtual std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) = 0;

  // Window timers; ticks reach IDialogEvents::OnTimer on the user-interface thread.
  virtual void SetTimer(uintptr_t timerId, uint32_t intervalMs) = 0;
  virtual void KillTimer(uintptr_t timerId) = 0;

  // Threads. SendToUi runs `op` on the user-interface thread and waits for it
  // (directly when called there); false when the window is gone and `op` did
  // not run. PostToUi queues `op` and returns at once.
  virtual bool IsUiThread() = 0;
  virtual bool SendToUi(const std::function<void()>& op) = 0;
  virtual void PostToUi(std::function<void()> op) = 0;
};

}  // namespace tarvik
