#include "update/update_result.h"


namespace tarvik {

const char* OutcomeName(OutcomeResult result) {
  switch (result) {
    case OutcomeResult::kUpgraded:
      return "upgraded";
    case OutcomeResult::kFailed:
      return "failed";
    case OutcomeResult::kRejected:
      return "rejected";
    case OutcomeResult::kCancelled:
      return "cancelled";
    case OutcomeResult::kInterrupted:
      return "interrupted";
  }
  return "failed";
}

OutcomeResult OutcomeFor(StepStatus status) {
  switch (status) {
    case StepStatus::kOk:
      return OutcomeResult::kUpgraded;
    case StepStatus::kFailed:
      return OutcomeResult::kFailed;
    case StepStatus::kRejected:
      return OutcomeResult::kRejected;
    case StepStatus::kCancelled:
      return OutcomeResult::kCancelled;
    case StepStatus::kInterrupted:
      return OutcomeResult::kInterrupted;
  }
  return OutcomeResult::kFailed;
}

const char* PaceName(BootPace pace) { return pace == BootPace::kAck ? "ack" : "parts"; }

bool PaceFromName(const std::string& name, BootPace& pace) {
  for (const BootPace candidate : {BootPace::kParts, BootPace::kAck}) {
    if (name != PaceName(candidate)) continue;
    pace = candidate;
    return true;
  }
  return false;
}

}  // namespace tarvik
