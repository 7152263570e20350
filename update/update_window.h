// What the update flows need of the window they run in: its texts, title,
// progress bar and button, message boxes, the file choice and the version
// confirmation, the update timer, the end-of-update operations, and a place
// to report each step and the attempt's outcome. The main window implements
// it; calls come from the worker or the user-interface thread.
#pragma once

#include <optional>
#include <string>

#include "platform/window_host.h"
#include "update/update_result.h"

namespace tarvik {

class IUpdateWindow {
 public:
  virtual ~IUpdateWindow() = default;

  // A text of the text table in the user's language.
  virtual std::string Text(int textIndex) const = 0;
  virtual void SetTitle(const std::string& text) = 0;
  virtual void SetProgress(int position) = 0;  // 0..100; the bar clamps larger values
  virtual void EnableUpdateButton(bool enable) = 0;
  // A message box owned by the window; no caption shows the application's name.
  virtual MsgBoxAnswer MessageBox(const std::string& text, const std::optional<std::string>& caption,
                                  MsgBoxButtons buttons) = 0;
  // The file-open dialog: the chosen full path, or nothing.
  virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;
  // The version confirmation (OK and Cancel): true for OK.
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
  // The update timer (id 1, 100 ms); its ticks send the mode-2 signal.
  virtual void StartUpdateTimer() = 0;
  virtual void KillUpdateTimer() = 0;
  // Called between the packet update's reads: a window without an event loop
  // of its own ticks the update timer here.
  virtual void BetweenReads() {}

  // End of an update.
  virtual void StopUpdate() = 0;
  virtual void ReportUpdateFailure() = 0;
  virtual void ReportUpdateSuccess() = 0;
  virtual void RefreshUpdateButton() = 0;

  // Progress of the running update, and the one outcome of each attempt.
  virtual void OnUpdateStep(const UpdateProgress& progress) = 0;
  virtual void OnUpdateOutcome(const UpdateOutcome& outcome) = 0;
};

// Who else follows an update: a front end's progress display, a transcript.
// Called on the worker thread.
class IUpdateObserver {
 public:
  virtual ~IUpdateObserver() = default;
  virtual void OnUpdateStep(const UpdateProgress& progress) = 0;
  virtual void OnUpdateOutcome(const UpdateOutcome& outcome) = 0;
};

}  // namespace tarvik
