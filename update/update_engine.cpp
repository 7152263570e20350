#include "update/update_engine.h"

#include "platform/system.h"

namespace tarvik {

CUpdateEngine::CUpdateEngine(IUpdateWindow& window, CHid& hid, CDiag& diag, ISystem& system)
    : m_boot(hid, diag, system.Clock(), m_state.stopRequested),
      m_selection(window, hid, diag, system, m_context, m_state),
      m_packet(window, hid, diag, system, m_selection, m_context, m_state),
      m_info(window, hid, diag, m_boot, m_packet, m_state),
      m_bootSequence(window, diag, system.Clock(), m_boot, m_selection, m_info, m_context, m_state) {}

}  // namespace tarvik
