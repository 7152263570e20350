// The bookkeeping of one update attempt, from the press to its outcome: when
// it began, what the controller and the image run, how far it got.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "update/firmware_version.h"
#include "update/update_result.h"

namespace tarvik {

class CUpdateAttempt {
 public:
  CUpdateAttempt(IClock& clock, UpdateProtocol protocol, FirmwareVersion controller);

  void SetImageVersion(FirmwareVersion version) { m_outcome.imageVersion = version.Text(); }
  void SetSignature(const std::optional<SignatureCheck>& signature) { m_outcome.signature = signature; }
  void SetPayloadTotal(uint64_t total) { m_outcome.payloadTotal = total; }
  // An erase or a data frame has gone out: the firmware is no longer as it was.
  void Touch() { m_outcome.controllerTouched = true; }
  bool Touched() const { return m_outcome.controllerTouched; }

  // How much of the payload total `bytesSent` is, in whole percent.
  int Percent(uint64_t bytesSent) const;

  // The outcome as it stands now.
  UpdateOutcome Finish(OutcomeResult result, Reason reason, uint64_t bytesSent) const;

 private:
  IClock& m_clock;
  uint64_t m_startMs;
  UpdateOutcome m_outcome;
};

}  // namespace tarvik
