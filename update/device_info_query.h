// The version query run whenever a supported controller has just been found:
// both information blocks of a boot-mode controller, or the packet protocol's
// version report. Runs on its caller's thread.
#pragma once

#include <cstdint>

#include "update/boot_protocol.h"
#include "update/boot_wire.h"
#include "update/update_events.h"
#include "update/update_result.h"

namespace tarvik {

class CHid;
class CDiag;
class CBootChannel;
class CPacketUpdateFlow;

class CDeviceInfoQuery {
 public:
  CDeviceInfoQuery(IFlowReports& events, CHid& hid, CDiag& diag, CBootChannel& boot, CPacketUpdateFlow& packet);

  // Ok when the controller told its version, which is reported; else why not.
  StepResult QueryDeviceVersion();
  // Both blocks, logged, and the versions they hold reported. The result
  // names the microcontroller that did not answer.
  StepResult GetGamepadInfo();

  // The blocks of the last successful requests, as received and decoded.
  const uint8_t* MainInfoBlock() const { return m_mainInfo; }
  const uint8_t* AtInfoBlock() const { return m_atInfo; }
  const boot::InfoBlock& MainInfo() const { return m_main; }
  const boot::InfoBlock& AtInfo() const { return m_at; }

 private:
  // On success `block` holds the bytes received and `decoded` their fields;
  // on failure both keep what they held.
  StepResult RequestInfoBlock(uint32_t select, uint8_t* block, boot::InfoBlock& decoded, const char* error);

  IFlowReports& m_events;
  CHid& m_hid;
  CDiag& m_diag;
  CBootChannel& m_boot;
  CPacketUpdateFlow& m_packet;
  uint8_t m_mainInfo[boot::kInfoBlockSize] = {};
  uint8_t m_atInfo[boot::kInfoBlockSize] = {};
  boot::InfoBlock m_main;
  boot::InfoBlock m_at;
};

}  // namespace tarvik
