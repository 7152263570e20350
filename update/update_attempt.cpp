#include "update/update_attempt.h"

#include <algorithm>

#include "update/firmware_version.h"

namespace tarvik {

CUpdateAttempt::CUpdateAttempt(IClock& clock, UpdateProtocol protocol, FirmwareVersion controller)
    : m_clock(clock), m_startMs(clock.NowMs()) {
  m_outcome.protocol = protocol;
  if (!controller.Known()) {
    m_outcome.controllerVersion = "unknown";
  } else if (controller.Word() == FirmwareVersion::kNoFirmwareWord && protocol == UpdateProtocol::kPacket) {
    m_outcome.controllerVersion = "none";
  } else {
    m_outcome.controllerVersion = controller.Text();
  }
}

int CUpdateAttempt::Percent(uint64_t bytesSent) const {
  const uint64_t total = m_outcome.payloadTotal;
  return total == 0 ? 0 : static_cast<int>(std::min<uint64_t>(bytesSent * 100 / total, 100));
}

UpdateOutcome CUpdateAttempt::Finish(OutcomeResult result, Reason reason, uint64_t bytesSent) const {
  UpdateOutcome outcome = m_outcome;
  outcome.result = result;
  outcome.reason = result == OutcomeResult::kUpgraded ? Reason() : std::move(reason);
  outcome.bytesSent = outcome.payloadTotal == 0 ? bytesSent : std::min(bytesSent, outcome.payloadTotal);
  outcome.seconds = static_cast<double>(m_clock.NowMs() - m_startMs) / 1000.0;
  return outcome;
}

}  // namespace tarvik
