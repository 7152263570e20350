#include "update/update_attempt.h"

#include <algorithm>

#include "base/strformat.h"
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

std::string CUpdateAttempt::Percent(uint64_t bytesSent) const {
  const uint64_t total = m_outcome.payloadTotal;
  const uint64_t percent = total == 0 ? 0 : std::min<uint64_t>(bytesSent * 100 / total, 100);
  return StrFormat("%llu %%", static_cast<unsigned long long>(percent));
}

UpdateOutcome CUpdateAttempt::Finish(OutcomeResult result, std::string reason, uint64_t bytesSent) const {
  UpdateOutcome outcome = m_outcome;
  outcome.result = result;
  outcome.reason = result == OutcomeResult::kUpgraded ? std::string() : std::move(reason);
  outcome.bytesSent = outcome.payloadTotal == 0 ? bytesSent : std::min(bytesSent, outcome.payloadTotal);
  outcome.seconds = static_cast<double>(m_clock.NowMs() - m_startMs) / 1000.0;
  return outcome;
}

}  // namespace tarvik
