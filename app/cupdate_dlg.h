// The main window: start-up, the update button, device notifications, the
// update timer and the end-of-update operations. It runs on any window host.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/cdialog.h"
#include "app/platform_services.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "res/resource.h"
#include "update/boot_command_channel.h"
#include "update/boot_protocol.h"
#include "update/firmware_image.h"
#include "update/update_context.h"

namespace tarvik {

inline constexpr uint32_t kDeviceVersionUnknown = 0x5A5A5A5A;
inline constexpr uintptr_t kUpdateTimerId = 1;
inline constexpr uint32_t kUpdateTimerIntervalMs = 100;

class CUpdateDlg : public CDialog {
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
  void StopUpdate();
  void ReportUpdateFailure();
  void ReportUpdateSuccess();
  void RefreshUpdateButton();

  // Start-up version query.
  void QueryDeviceVersion();
  void GetGamepadInfo();
  void PacketVersionQuery();

  // The image: selection with the version confirmation, scan, records.
  int SelectImage();
  uint32_t ScanImage();
  void LoadFirstRecord(const uint8_t* header);
  void LoadNextRecord(const uint8_t* header);

  // Packet-protocol frames built from the update context.
  void SendHeaderPacket();
  void SendDataPacket(const uint8_t* bytes, int count);

  // The boot-mode update, on the worker.
  void RunBootUpdate();

  // The packet-protocol update, on the worker, and the dispatch of received
  // frames that it shares with the version query.
  void RunPacketUpdate();
  void HandleInputFrame(const uint8_t* frame);
  void HandleFirmwarePacket(const uint8_t* body);

  // A version query without answer ends after this long.
  static constexpr uint32_t kVersionQueryLimitMs = 2000;
  // An update whose controller sends nothing for this long has failed.
  static constexpr uint32_t kControllerSilenceLimitMs = 30000;
  // Reads that fail (not time out) this many times in a row: the controller is gone.
  static constexpr int kFailedReadLimit = 3;

  std::string LoadText(int textIndex) const;

  // State shared between the user-interface thread and the worker.
  int StopFlag() const { return m_stopFlag.load(); }
  uint32_t DeviceVersion() const { return m_deviceVersion.load(); }
  int TransferState() const { return m_transferState.load(); }
  bool TitleShowsVersion() const { return m_titleShowsVersion.load() != 0; }
  // True once the worker is asked to end (the window closes): it sends no
  // further command and ends at its next step.
  bool IsStopRequested() const { return m_abort.load(); }
  // The information blocks of the last boot-mode query.
  const uint8_t* MainInfoBlock() const { return m_mainInfo; }
  const uint8_t* AtInfoBlock() const { return m_atInfo; }

  CHid& Hid() { return m_hid; }
  CBootChannel& Boot() { return m_boot; }
  CDiag& Diag() { return m_diag; }
  ISystem& System() { return m_system; }
  UpdateContext& Context() { return m_context; }

 private:
  friend void Boot_UpdateThread(CUpdateDlg* dlg);
  friend void Usb_UpdateThread(CUpdateDlg* dlg);

  void StartWorker(void (*entry)(CUpdateDlg*));
  void OnWorkerEnded();
  void HandleDeviceChange(uint32_t eventType);
  void HandleDeferredDeviceChanges();
  void PacketVersionStep(const uint8_t* body);
  void PacketTransferStep();
  // One read of the packet worker or the version query, traced and dispatched;
  // returns the read's result.
  uint32_t ReceivePacket();
  // Ends a boot-mode update that failed after the image file was opened.
  void EndBootUpdate(bool closeImage);
  void ResetUpdateContext();

  ISystem& m_system;
  CDiag m_diag;
  CHid m_hid;
  std::atomic<bool> m_abort{false};
  CBootChannel m_boot;
  uint8_t m_packetResponse[64] = {};  // the packet protocol's received report
  std::atomic<bool> m_imageRefused{false};
  std::atomic<bool> m_updateDataSent{false};   // this update's data went out in full
  std::atomic<bool> m_removalNoticed{false};   // a removal notice came during the worker
  uint8_t m_mainInfo[boot::kInfoBlockSize] = {};
  uint8_t m_atInfo[boot::kInfoBlockSize] = {};
  IconHandle m_hIcon = nullptr;
  UpdateContext m_context;
  std::atomic<uint8_t> m_titleShowsVersion{0};

  // The controls, once the window exists.
  CDlgItem m_updateButton{*this, IDC_USB_UPDATE};
  CDlgItem m_upgradedNotice{*this, IDC_STATIC_NOTICE};
  CDlgItem m_helpText{*this, IDC_HELP_TEXT};

  std::atomic<int> m_stopFlag{1};
  std::atomic<uint32_t> m_deviceVersion{kDeviceVersionUnknown};
  std::atomic<int> m_transferState{3};

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
