// A window host without a display, for the command-line front end and tests.
// The window's state lives in memory; a scripted user answers its dialogs and
// presses its button; an observer sees every window operation.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/std/ui_task_queue.h"
#include "platform/window_host.h"

namespace tarvik {

// Answers the person at the window gives.
class IHeadlessUser {
 public:
  virtual ~IHeadlessUser() = default;
  virtual MsgBoxAnswer AnswerMessageBox(const std::string& text,
                                        const std::optional<std::string>& caption,
                                        MsgBoxButtons buttons) = 0;
  virtual std::optional<std::string> AnswerFileDialog(const FileDialogRequest& request) = 0;
};

// Sees every window operation, on the user-interface thread, except progress
// positions a worker posts, which come on the worker's thread. The host calls
// its observer from one thread at a time.
class IWindowObserver {
 public:
  virtual ~IWindowObserver() = default;
  virtual void OnTitle(const std::string& text) = 0;
  virtual void OnItemText(int id, const std::string& text) = 0;
  virtual void OnEnable(int id, bool on) = 0;
  virtual void OnShow(int id, bool on) = 0;
  virtual void OnProgressRange(int low, int high) = 0;
  virtual void OnProgressPos(int pos) = 0;  // as the window was asked, before clamping
  virtual void OnMessageBox(const std::string& text, const std::optional<std::string>& caption,
                            MsgBoxButtons buttons, MsgBoxAnswer answer) = 0;
  virtual void OnFileDialog(const FileDialogRequest& request,
                            const std::optional<std::string>& answer) = 0;
  virtual void OnTimer(uintptr_t id, bool on) = 0;
  virtual void OnDeviceEvent(DeviceChange change) = 0;
};

class HeadlessWindowHost final : public IWindowHost {
 public:
  // What the person does once the window is up; its result is RunModal's.
  using Session = std::function<int(HeadlessWindowHost& host, IDialogEvents& dialog)>;

  HeadlessWindowHost(IClock& clock, IHeadlessUser& user, IWindowObserver* observer = nullptr);
  ~HeadlessWindowHost() override;

  void SetSession(Session session) { m_session = std::move(session); }

  // For the session, on the user-interface thread.
  // Presses a push button; false (and nothing happens) when it is disabled or hidden.
  bool Click(int id);
  // The close box: the window decides whether it closes now. True when it did.
  bool RequestClose();
  bool IsClosing() const { return m_endRequested; }
  // Handles queued operations, device events and timer ticks until `done`.
  // Inside the answer to a box it also ends once that box has been closed.
  void PumpUntil(const std::function<bool()>& done);
  // Handles what is queued now.
  void PumpPending();

  // The window's state.
  std::string WindowText() const { return m_title; }
  std::string ItemText(int id) const;
  bool IsItemVisible(int id) const;
  int ProgressPos() const { return m_progressPos; }
  int ProgressLow() const { return m_progressLow; }
  int ProgressHigh() const { return m_progressHigh; }
  bool IsTimerRunning(uintptr_t id) const;
  // The texts of the boxes open now, the innermost last. A closed box is left
  // out while its answer still runs.
  std::vector<std::string> OpenMessageBoxes() const;

  // IWindowHost
  int RunModal(IDialogEvents& dialog) override;
  void EndModal(int result) override;
  void SetWindowText(const std::string& text) override;
  void SetItemText(int id, const std::string& text) override;
  void EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) override;
  void ShowItem(int id, bool show) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPos(int id, int pos) override;
  void PostProgressPos(int id, int pos) override;
  void SetIcon(int, bool) override {}
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
  struct Control {
    std::string text;
    bool enabled = true;
    bool visible = true;
  };
  struct Timer {
    uint32_t intervalMs;
    uint64_t dueMs;
  };
  // A box the user is answering.
  struct OpenBox {
    std::string text;
    bool closed = false;
  };

  void MoveProgressBar(int pos);
  template <class Call>
  void Notify(Call call) {
    if (!m_observer) return;
    std::lock_guard<std::recursive_mutex> lock(m_observerLock);
    call(*m_observer);
  }
  bool RunDueTimer();
  bool AdvanceIdleTimeToNextTick();
  void WakePump();  // any thread
  void WaitForWake(std::chrono::milliseconds longest);

  IClock& m_clock;
  IHeadlessUser& m_user;
  IWindowObserver* m_observer;
  std::recursive_mutex m_observerLock;
  Session m_session;

  IDialogEvents* m_dialog = nullptr;
  bool m_endRequested = false;

  // Window state: user-interface thread only.
  std::string m_title;
  std::map<int, Control> m_controls;
  int m_progressLow = 0;
  int m_progressHigh = 100;
  int m_progressPos = 0;
  std::map<uintptr_t, Timer> m_timers;
  std::vector<OpenBox> m_boxes;  // the innermost last

  // What wakes the pump: a task queued.
  std::mutex m_wakeLock;
  std::condition_variable m_wakeChanged;
  bool m_woken = false;

  UiTaskQueue m_tasks;  // last: its tasks use the members above
};

}  // namespace tarvik
