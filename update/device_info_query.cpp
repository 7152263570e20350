#include "update/device_info_query.h"

#include "device/chid.h"
#include "diag/diag.h"
#include "update/boot_command_channel.h"
#include "update/packet_update_flow.h"
#include "update/firmware_version.h"

namespace tarvik {

using namespace boot;

CDeviceInfoQuery::CDeviceInfoQuery(IFlowReports& events, CHid& hid, CDiag& diag, CBootChannel& boot,
                                   CPacketUpdateFlow& packet)
    : m_events(events), m_hid(hid), m_diag(diag), m_boot(boot), m_packet(packet) {}

StepResult CDeviceInfoQuery::QueryDeviceVersion() {
  if (!m_hid.OpenHid()) return StepResult::Failed(Reason(ReasonCode::kOpenFailed));
  if (m_hid.IsBootMode()) return GetGamepadInfo();
  if (m_packet.PacketVersionQuery()) return StepResult::Ok();
  return StepResult::Failed(Reason(ReasonCode::kVersionUntold));
}

// Asks one microcontroller for its block. On failure the caller hears the
// notice and the log gets `error`.
StepResult CDeviceInfoQuery::RequestInfoBlock(uint32_t select, uint8_t* block, InfoBlock& decoded,
                                              const char* error) {
  m_boot.SetAddressSelect(select);
  StepResult result = m_boot.GetDeviceInfo(block, kInfoBlockSize);
  if (result.ok()) {
    decoded = InfoBlock::Parse(block);
    return result;
  }
  m_events.OnNotice(select == kAddressMain ? UpdateNotice::kMainInfoFailed : UpdateNotice::kAtInfoFailed);
  m_diag.WriteLog("%s", error);
  if (result.status() != StepStatus::kFailed) return result;
  Reason reason = result.reason();
  reason.Mcu(select == kAddressMain ? ImageMcu::kMain : ImageMcu::kAtMcu);
  if (result.disconnected()) reason.Step(ReasonStep::kInfoRequest);
  return StepResult::Failed(std::move(reason));
}

StepResult CDeviceInfoQuery::GetGamepadInfo() {
  m_diag.WriteLog("\n\n--------------------------------------------------------------------------\n");
  m_diag.WriteLogTimestamp();

  if (StepResult main = RequestInfoBlock(kAddressMain, m_mainInfo, m_main, "Get device info error"); !main.ok()) {
    return main;
  }
  const InfoBlock& main = m_main;
  m_diag.WriteLog("Get gamepad info ok!\n");
  m_diag.WriteLog("pid=0x%04x\n", main.pid);
  m_diag.WriteLog("version=0x%x (v%.1f beta%d)\n", main.version, VersionNumber(main.version), main.BetaLow());
  m_diag.WriteLog("revision=%d\n", main.revision);
  m_diag.WriteLog("uid=%08x %08x %08x\n", main.uid[0], main.uid[1], main.uid[2]);
  m_diag.WriteLog("boot_id=%08x %08x %08x\n", main.bootId[0], main.bootId[1], main.bootId[2]);
  m_diag.WriteLog("bootIDAddr=0x%x\n", main.bootIdAddr);
  m_diag.WriteLog("appIDAddr=0x%x\n", main.appIdAddr);
  m_diag.WriteLog("VerAddr=0x%x\n", main.verAddr);

  if (StepResult at = RequestInfoBlock(kAddressAtMcu, m_atInfo, m_at, "Get sub device info error"); !at.ok()) {
    return at;
  }
  const InfoBlock& at = m_at;
  m_diag.WriteLog("Get ATmcu info ok!\n");
  m_diag.WriteLog("ATpid=0x%04x\n", at.pid);
  m_diag.WriteLog("ATversion=0x%x (v%.1f beta%d)\n", at.version, VersionNumber(at.version), at.BetaLow());
  m_diag.WriteLog("ATmcu VerAddr=0x%x\n", at.verAddr);

  // An erased version word reads as version 0.
  const auto erasedAsZero = [](uint32_t word) { return FirmwareVersion::FromWord(word == 0xFFFFFFFFu ? 0 : word); };
  ControllerVersions learnt;
  learnt.protocol = UpdateProtocol::kBoot;
  learnt.main = erasedAsZero(main.version);
  learnt.revision = main.revision;
  learnt.at = erasedAsZero(at.version);
  m_events.OnVersionLearnt(learnt);
  return StepResult::Ok();
}

}  // namespace tarvik
