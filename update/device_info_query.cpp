#include "update/device_info_query.h"

#include "base/bytes.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "res/text_index.h"
#include "update/boot_command_channel.h"
#include "update/packet_update_flow.h"
#include "update/version_text.h"

namespace tarvik {

using namespace boot;

CDeviceInfoQuery::CDeviceInfoQuery(IUpdateWindow& window, CHid& hid, CDiag& diag, CBootChannel& boot,
                                   CPacketUpdateFlow& packet, UpdateState& state)
    : m_window(window), m_hid(hid), m_diag(diag), m_boot(boot), m_packet(packet), m_state(state) {}

void CDeviceInfoQuery::QueryDeviceVersion() {
  m_state.deviceVersion.store(kDeviceVersionUnknown);
  if (!m_hid.OpenHid()) return;
  if (m_hid.IsBootMode()) {
    GetGamepadInfo();
  } else {
    m_packet.PacketVersionQuery();
  }
}

// Asks one microcontroller for its block. On failure the button is disabled
// and the user and the log are told `error` (the same words in every language).
StepResult CDeviceInfoQuery::RequestInfoBlock(uint32_t select, uint8_t* block, const char* error) {
  m_boot.SetAddressSelect(select);
  StepResult result = m_boot.GetDeviceInfo(block, kInfoBlockSize);
  if (result) return result;
  m_window.EnableUpdateButton(false);
  m_window.MessageBox(error, std::nullopt, MsgBoxButtons::kOk);
  m_diag.WriteLog("%s", error);
  const char* mcu = select == kAddressMain ? "main mcu" : "ATmcu";
  if (result.status() == StepStatus::kFailed) {
    return StepResult::Failed(std::string("the information request of the ") + mcu + " " + result.reason(),
                              result.disconnected());
  }
  return result;
}

StepResult CDeviceInfoQuery::GetGamepadInfo() {
  m_diag.WriteLog("\n\n--------------------------------------------------------------------------\n");
  m_diag.WriteLogTimestamp();

  if (StepResult main = RequestInfoBlock(kAddressMain, m_mainInfo, "Get device info error"); !main) {
    return main;
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

  if (StepResult at = RequestInfoBlock(kAddressAtMcu, m_atInfo, "Get sub device info error"); !at) {
    return at;
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
  m_state.deviceVersion.store(version);
  const std::string title = FormatBootVersionTitle(m_window.Text(kTextTitle), version, revision);
  m_state.titleShowsVersion.store(1);
  m_window.SetTitle(title);
  return StepResult::Ok();
}

}  // namespace tarvik
