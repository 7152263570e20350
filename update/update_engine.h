// The update layer as the window holds it: the shared update state and
// context, the boot command channel, the image selection, the version query
// and the two update flows, wired to one window, device object and log.
#pragma once

#include "update/boot_command_channel.h"
#include "update/boot_update_sequence.h"
#include "update/device_info_query.h"
#include "update/image_selection.h"
#include "update/packet_update_flow.h"
#include "update/update_context.h"
#include "update/update_state.h"
#include "update/update_window.h"

namespace tarvik {

class CHid;
class CDiag;
class ISystem;

class CUpdateEngine {
 public:
  CUpdateEngine(IUpdateWindow& window, CHid& hid, CDiag& diag, ISystem& system);
  CUpdateEngine(const CUpdateEngine&) = delete;
  CUpdateEngine& operator=(const CUpdateEngine&) = delete;

  UpdateState& State() { return m_state; }
  const UpdateState& State() const { return m_state; }
  UpdateContext& Context() { return m_context; }
  CBootChannel& Boot() { return m_boot; }
  CImageSelection& Selection() { return m_selection; }
  CDeviceInfoQuery& Info() { return m_info; }
  const CDeviceInfoQuery& Info() const { return m_info; }
  CPacketUpdateFlow& Packet() { return m_packet; }
  CBootUpdateSequence& BootSequence() { return m_bootSequence; }

 private:
  UpdateState m_state;
  UpdateContext m_context;
  CBootChannel m_boot;
  CImageSelection m_selection;
  CPacketUpdateFlow m_packet;
  CDeviceInfoQuery m_info;
  CBootUpdateSequence m_bootSequence;
};

}  // namespace tarvik
