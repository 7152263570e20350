// The main window: start-up, the update button, device notifications, the
// update timer and the end-of-update operations. It runs on any window host;
// the update flows themselves live in update/ and reach the window through
// IUpdateWindow.
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
#include "update/update_engine.h"

namespace tarvik {

inline constexpr uintptr_t kUpdateTimerId = 1;
inline constexpr uint32_t kUpdateTimerIntervalMs = 100;

class CUpdateDlg : public CDialog, public IUpdateWindow {
 public:
  enum { IDD = IDD_UPDATE_DIALOG };

  explicit CUpdateDlg(const PlatformServices& platform, CDialog* parent = nullptr);
  ~CUpdateDlg() override;

  // Message map.
  bool OnInitDialog() override;
  void OnPaint() override;
  IconHandle OnQueryDragIcon() override;
  bool OnDeviceChange(uint32_t eventType, uintptr_t eventData) override;
  void OnTimer(uintptr_t timerId) override;
  void OnCommand(int controlId) override;
  bool IsBusy() const override { return m_workerRunning.load(); }
  bool OnCloseRequest() override;

  // Update control.
  void OnBnClickedUsbUpdate();

  // End of an update (called on the worker).
  void StopUpdate() override;
  void ReportUpdateFailure() override;
  void ReportUpdateSuccess() override;
  void RefreshUpdateButton() override;

  // Start-up version query.
  void QueryDeviceVersion();
  void GetGamepadInfo() { m_engine.Info().GetGamepadInfo(); }
  void PacketVersionQuery() { m_engine.Packet().PacketVersionQuery(); }

  // The image: selection with the version confirmation, scan, records.
  int SelectImage() { return m_engine.Selection().SelectImage(); }
  uint32_t ScanImage() { return m_engine.Selection().ScanImage().payloadTotal; }
  void LoadFirstRecord(const uint8_t* header) { m_engine.Selection().LoadFirstRecord(header); }
  void LoadNextRecord(const uint8_t* header) { m_engine.Selection().LoadNextRecord(header); }

  // Packet-protocol frames built from the update context.
  void SendHeaderPacket() { m_engine.Packet().SendHeaderPacket(); }
  void SendDataPacket(const uint8_t* bytes, int count) { m_engine.Packet().SendDataPacket(bytes, count); }

  // The two updates, on the worker.
  void RunBootUpdate() { m_engine.BootSequence().RunBootUpdate(); }
  void RunPacketUpdate() { m_engine.Packet().RunPacketUpdate(); }
  void HandleInputFrame(const uint8_t* frame) { m_engine.Packet().HandleInputFrame(frame); }
  void HandleFirmwarePacket(const uint8_t* body) { m_engine.Packet().HandleFirmwarePacket(body); }

  std::string LoadText(int textIndex) const;

  // State shared between the user-interface thread and the worker.
  int StopFlag() const { return m_engine.State().stopFlag.load(); }
  uint32_t DeviceVersion() const { return m_engine.State().deviceVersion.load(); }
  int TransferState() const { return static_cast<int>(m_engine.State().transferState.load()); }
  bool TitleShowsVersion() const { return m_engine.State().titleShowsVersion.load() != 0; }
  // True once the worker is asked to end: it sends no further command and
  // ends at its next step.
  bool IsStopRequested() const { return m_engine.State().stopRequested.load(); }
  // Asks a running update to stop at its next step, as closing the window
  // does; safe from any thread.
  void RequestStop() { m_engine.State().stopRequested.store(true); }
  // The information blocks of the last boot-mode query.
  const uint8_t* MainInfoBlock() const { return m_engine.Info().MainInfoBlock(); }
  const uint8_t* AtInfoBlock() const { return m_engine.Info().AtInfoBlock(); }

  // How the last update attempt ended; nothing before the first.
  std::optional<UpdateOutcome> LastOutcome() const;
  // Follows every update's steps and outcomes (set before the window runs).
  void SetUpdateObserver(IUpdateObserver* observer) { m_observer = observer; }

  CHid& Hid() { return m_hid; }
  CBootChannel& Boot() { return m_engine.Boot(); }
  CDiag& Diag() { return m_diag; }
  ISystem& System() { return m_system; }
  UpdateContext& Context() { return m_engine.Context(); }

  // The window as the update flows see it.
  std::string Text(int textIndex) const override { return LoadText(textIndex); }
  void SetTitle(const std::string& text) override { SetWindowText(text); }
  void SetProgress(int position) override { SetProgressPos(IDC_PROGRESS, position); }
  void EnableUpdateButton(bool enable) override { m_updateButton.EnableWindow(enable); }
  MsgBoxAnswer MessageBox(const std::string& text, const std::optional<std::string>& caption,
                          MsgBoxButtons buttons) override {
    return CDialog::MessageBox(text, caption, buttons);
  }
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override {
    return ShowOpenFileDialog(request);
  }
  bool Confirm(const std::string& text, const std::string& caption) override {
    return MessageBox(text, caption, MsgBoxButtons::kOkCancel) == MsgBoxAnswer::kOk;
  }
  void StartUpdateTimer() override { SetTimer(kUpdateTimerId, kUpdateTimerIntervalMs); }
  void KillUpdateTimer() override { KillTimer(kUpdateTimerId); }
  void OnUpdateStep(const UpdateProgress& progress) override;
  void OnUpdateOutcome(const UpdateOutcome& outcome) override;

 private:
  friend void Boot_UpdateThread(CUpdateDlg* dlg);
  friend void Usb_UpdateThread(CUpdateDlg* dlg);

  void StartWorker(void (*entry)(CUpdateDlg*));
  void OnWorkerEnded();
  void HandleDeviceChange(uint32_t eventType);
  void HandleDeferredDeviceChanges();
  void ResetUpdateContext();

  ISystem& m_system;
  CDiag m_diag;
  CHid m_hid;
  CUpdateEngine m_engine;
  IconHandle m_hIcon = nullptr;
  IUpdateObserver* m_observer = nullptr;
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
  std::vector<uint32_t> m_deferredEvents;
  bool m_closeWhenWorkerEnds = false;
};

// Worker entries: the boot-mode update and the packet-protocol update.
void Boot_UpdateThread(CUpdateDlg* dlg);
void Usb_UpdateThread(CUpdateDlg* dlg);

}  // namespace tarvik
