// The version query run whenever a supported controller has just been found.
#include "app/cupdate_dlg.h"
#include "app/text_table.h"
#include "base/bytes.h"
#include "update/version_text.h"

namespace tarvik {

using namespace boot;

void CUpdateDlg::QueryDeviceVersion() {
  m_deviceVersion.store(kDeviceVersionUnknown);
  if (!m_hid.OpenHid()) return;
  if (m_hid.IsBootMode()) {
    GetGamepadInfo();
  } else {
    PacketVersionQuery();
  }
}

namespace {
// Asks one microcontroller for its block. On failure the button is disabled
// and the user and the log are told `error` (the same words in every language).
bool RequestInfoBlock(CUpdateDlg& dlg, CDlgItem& button, uint32_t select, uint8_t* block,
                      const char* error) {
  dlg.Boot().SetAddressSelect(select);
  if (dlg.Boot().GetDeviceInfo(block, kInfoBlockSize)) return true;
  button.EnableWindow(false);
  dlg.MessageBox(error, std::nullopt, MsgBoxButtons::kOk);
  dlg.Diag().WriteLog("%s", error);
  return false;
}
}  // namespace

void CUpdateDlg::GetGamepadInfo() {
  m_diag.WriteLog("\n\n--------------------------------------------------------------------------\n");
  m_diag.WriteLogTimestamp();

  if (!RequestInfoBlock(*this, m_updateButton, kAddressMain, m_mainInfo, "Get device info error")) {
    return;
  }
  const uint8_t* main = m_mainInfo;
  const uint32_t mainVersion = GetLe32(main + kInfoVersion);
  m_diag.WriteLog("Get gamepad info ok!\n");
  m_diag.WriteLog("pid=0x%04x\n", GetLe16(main + kInfoPid));
  m_diag.WriteLog("version=0x%x (v%.1f beta%d)\n", mainVersion, VersionNumber(mainVersion),
                  main[kInfoBetaLow]);
  m_diag.WriteLog("revision=%d\n", GetLe16(main + kInfoRevision));
  m_diag.WriteLog("uid=%08x %08x %08x\n", GetLe32(main + kInfoUid), GetLe32(main + kInfoUid + 4),
                  GetLe32(main + kInfoUid + 8));
  m_diag.WriteLog("boot_id=%08x %08x %08x\n", GetLe32(main + kInfoBootId),
                  GetLe32(main + kInfoBootId + 4), GetLe32(main + kInfoBootId + 8));
  m_diag.WriteLog("bootIDAddr=0x%x\n", GetLe32(main + kInfoBootIdAddr));
  m_diag.WriteLog("appIDAddr=0x%x\n", GetLe32(main + kInfoAppIdAddr));
  m_diag.WriteLog("VerAddr=0x%x\n", GetLe32(main + kInfoVerAddr));

  if (!RequestInfoBlock(*this, m_updateButton, kAddressAtMcu, m_atInfo, "Get sub device info error")) {
    return;
  }
  const uint8_t* at = m_atInfo;
  const uint32_t atVersion = GetLe32(at + kInfoVersion);
  m_diag.WriteLog("Get ATmcu info ok!\n");
  m_diag.WriteLog("ATpid=0x%04x\n", GetLe16(at + kInfoPid));
  m_diag.WriteLog("ATversion=0x%x (v%.1f beta%d)\n", atVersion, VersionNumber(atVersion),
                  at[kInfoBetaLow]);
  m_diag.WriteLog("ATmcu VerAddr=0x%x\n", GetLe32(at + kInfoVerAddr));

  const uint32_t version = mainVersion == 0xFFFFFFFFu ? 0 : mainVersion;
  const uint16_t revision = GetLe16(main + kInfoRevision);
  m_deviceVersion.store(version);
  const std::string title = FormatBootVersionTitle(LoadText(kTextTitle), version, revision);
  m_titleShowsVersion.store(1);
  SetWindowText(title);
}

}  // namespace tarvik
