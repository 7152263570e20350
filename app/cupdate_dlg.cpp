#include "app/cupdate_dlg.h"

#include <algorithm>
#include <iterator>

#include "app/text_table.h"
#include "update/packet_protocol.h"

namespace tarvik {

CUpdateDlg::CUpdateDlg(const PlatformServices& platform, CDialog* /*parent*/)
    : CDialog(IDD, platform.host),
      m_system(platform.system),
      m_diag(platform.system),
      m_hid(platform.bus, m_diag),
      m_boot(m_hid, m_diag, platform.system.Clock(), m_abort) {
  m_hIcon = Host().LoadIcon(IDI_MAINFRAME);
  m_titleShowsVersion.store(0);
  ResetUpdateContext();
  m_diag.CheckLogEnabled();
}

CUpdateDlg::~CUpdateDlg() {
  // A worker may still run if the window went without asking: it is told to
  // stop, its window operations no longer wait for the closed window, and it
  // is joined here before the device object and the image file go.
  m_abort.store(true);
  if (m_worker) m_worker->Join();
  m_context.imageFile.Close();
}

void CUpdateDlg::ResetUpdateContext() {
  m_context.record = UpdateRecordValues{};
}

std::string CUpdateDlg::LoadText(int textIndex) const { return tarvik::LoadText(m_system, textIndex); }

bool CUpdateDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  SetIcon(m_hIcon, true);
  SetIcon(m_hIcon, false);

  m_upgradedNotice.ShowWindow(false);
  m_upgradedNotice.SetWindowText(LoadText(kTextUpgraded));
  m_helpText.SetWindowText(LoadText(kTextHelp));

  SetProgressRange(IDC_PROGRESS, 0, 100);
  SetProgressPos(IDC_PROGRESS, 0);

  ResetUpdateContext();
  std::fill(std::begin(m_context.firstHeader), std::end(m_context.firstHeader), uint8_t{0});
  m_stopFlag.store(1);

  m_updateButton.SetWindowText(LoadText(kTextUsbUpdate));

  m_hid.SetRecipientWindow(&Host());
  m_deviceVersion.store(kDeviceVersionUnknown);

  if (m_hid.SearchDevice()) {
    if (m_hid.CurrentReportMode() == 2) {
      // The button keeps the state the template gives it (enabled).
      ReopenAndSignal(m_hid);
    } else {
      m_updateButton.EnableWindow(true);
      QueryDeviceVersion();
    }
  } else {
    m_updateButton.EnableWindow(false);
  }

  m_transferState.store(3);

  if (m_titleShowsVersion.load() == 0) SetWindowText(LoadText(kTextTitle));

  if (m_hid.SearchDevice()) {
    m_updateButton.EnableWindow(true);
    QueryDeviceVersion();
  }
  return true;
}

void CUpdateDlg::OnPaint() {
  IWindowHost& host = Host();
  if (!host.IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  const Size client = host.ClientSize();
  const Size icon = host.SystemIconSize();
  const int x = (client.width - icon.width + 1) / 2;
  const int y = (client.height - icon.height + 1) / 2;
  host.PaintIcon(m_hIcon, x, y);
}

IconHandle CUpdateDlg::OnQueryDragIcon() { return m_hIcon; }

void CUpdateDlg::OnCommand(int controlId) {
  if (controlId == IDC_USB_UPDATE) OnBnClickedUsbUpdate();
}

void CUpdateDlg::OnTimer(uintptr_t timerId) {
  if (timerId == kUpdateTimerId) {
    if (ReopenAndSignal(m_hid)) KillTimer(kUpdateTimerId);
  }
  CDialog::OnTimer(timerId);
}

}  // namespace tarvik
