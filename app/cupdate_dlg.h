// The main window: start-up, the update button, device notifications, the
// update timer and the end-of-update operations. It runs on any window host
// and is one client of its controller's update session (session/). It draws
// what the session reports and asks the person what the session asks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/cdialog.h"
#include "app/platform_services.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "res/resource.h"
#include "session/update_session.h"

namespace tarvik {

inline constexpr uintptr_t kUpdateTimerId = 1;
inline constexpr uint32_t kUpdateTimerIntervalMs = 100;

class CUpdateDlg : public CDialog,
                   public IUpdateEvents,
                   public IUpdatePrompt,
                   public IUpdateObserver,
                   private IProbeSteps {
 public:
  enum { IDD = IDD_UPDATE_DIALOG };

  explicit CUpdateDlg(const PlatformServices& platform, CDialog* parent = nullptr);
  ~CUpdateDlg() override;

  // Message map.
  bool OnInitDialog() override;
  void OnDeviceChange(DeviceChange change) override;
  void OnTimer(uintptr_t timerId) override;
  void OnCommand(int controlId) override;
  bool IsBusy() const override { return m_workerRunning.load(); }
  bool OnCloseRequest() override;

  // Update control.
  void OnBnClickedUsbUpdate();

  // The version query, at start-up and when a controller arrives.
  StepResult QueryDeviceVersion();

  std::string LoadText(int textIndex) const;

  // Asks a running update to stop at its next step, as closing the window
  // does; safe from any thread.
  void RequestStop() { m_session.RequestStop(); }

  // How the last update attempt ended; nothing before the first.
  std::optional<UpdateOutcome> LastOutcome() const;
  // Follows every update's steps and outcomes (set before the window runs).
  void SetUpdateObserver(IUpdateObserver* observer) { m_observer = observer; }

  CHid& Hid() { return m_hid; }
  CDiag& Diag() { return m_diag; }
  // The window's controller as an update session.
  UpdateSession& Session() { return m_session; }

  // How an update ends, as the window shows it (called on the worker).
  // A failed update or a refused image: the failure box with the reason and
  // the next step, the button set again.
  void ReportUpdateFailure(const UpdateOutcome& failure);
  // The success box and notice; the bar back at 0.
  void ReportUpdateSuccess();
  // Every end: the button is enabled while a controller is present.
  void RefreshUpdateButton();

  // The session's events, drawn.
  void OnVersionLearnt(const ControllerVersions& versions) override;
  void OnNotice(UpdateNotice notice) override;
  void OnProgress(uint64_t bytes, uint64_t total) override;
  void OnMilestone(UpdateMilestone milestone) override;
  void OnUpdateFailed(const UpdateOutcome& failure) override { ReportUpdateFailure(failure); }
  // The mode-2 signal's timer runs on the window's own loop.
  bool OnModeTwoSignalArmed() override {
    SetTimer(kUpdateTimerId, kUpdateTimerIntervalMs);
    return true;
  }
  void OnModeTwoSignalDisarmed() override { KillTimer(kUpdateTimerId); }
  void OnUpdateStep(const UpdateProgress& progress) override;
  void OnUpdateOutcome(const UpdateOutcome& outcome) override;

  // The session's questions: the file dialog and the version question box.
  std::optional<std::string> ChooseImage() override;
  bool ConfirmChange(const VersionChange& change) override;

 private:
  friend void Boot_UpdateThread(CUpdateDlg* dlg);
  friend void Usb_UpdateThread(CUpdateDlg* dlg);

  // The start-up probe's steps, as the window shows them.
  void OnFirstSearch(bool found, ReportMode mode) override;
  void OnBeforeSecondSearch() override;
  void OnFoundAgain() override;
  StepResult Query(UpdateSession& session) override;

  void StartWorker(void (*entry)(CUpdateDlg*));
  // The update on the worker: the session runs it with this window as its prompt and its events.
  void RunUpdateOnWorker();
  void OnWorkerEnded();
  void HandleDeviceChange(DeviceChange change);
  void HandleDeferredDeviceChanges();
  // The notice line gives up the update's step and holds the upgraded text again, hidden.
  void ClearStep();
  // A box that tells how the update ended. The close question, if open, goes first.
  void TellEnd(const std::string& text);
  // On the user-interface thread: the open close question closes, its answer
  // unused. `endBoxFollows`: a box that tells how the update ended shows next.
  void CloseCloseQuestion(bool endBoxFollows);

  ISystem& m_system;
  CDiag m_diag;
  CHid m_hid;
  UpdateSession m_session;
  IUpdateObserver* m_observer = nullptr;
  // Set once a boot-mode query has written the version title.
  std::atomic<bool> m_titleShowsVersion{false};
  // True while the start-up version query runs (device notices wait for it).
  std::atomic<bool> m_queryRunning{false};
  // The step the notice line shows while an update runs; the worker's alone.
  std::string m_stepShown;
  mutable std::mutex m_outcomeLock;
  std::optional<UpdateOutcome> m_lastOutcome;

  // The controls, once the window exists.
  CDlgItem m_updateButton{*this, IDC_USB_UPDATE};
  CDlgItem m_upgradedNotice{*this, IDC_STATIC_NOTICE};
  CDlgItem m_helpText{*this, IDC_HELP_TEXT};

  // The one update worker. m_worker and m_deferredEvents belong to the
  // user-interface thread.
  std::unique_ptr<IThread> m_worker;
  std::atomic<bool> m_workerRunning{false};
  std::vector<DeviceChange> m_deferredEvents;
  bool m_closeWhenWorkerEnds = false;
  // The running update's protocol, for the close question.
  UpdateProtocol m_updateProtocol = UpdateProtocol::kBoot;
  // The close question's text while it is open, and whether the update's end closed it.
  std::optional<std::string> m_closeQuestion;
  bool m_closeQuestionClosed = false;
  bool m_closeQuestionEndTold = false;  // an end box showed after it closed
  // Set when the window stops the update to close: its outcome goes to the trace and the log.
  std::atomic<bool> m_stopToClose{false};
};

// Worker entries: the boot-mode update and the packet-protocol update.
void Boot_UpdateThread(CUpdateDlg* dlg);
void Usb_UpdateThread(CUpdateDlg* dlg);

}  // namespace tarvik
