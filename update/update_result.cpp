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

const char* PhaseName(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kErasing:
      return "erasing";
    case UpdatePhase::kWriting:
      return "writing";
    case UpdatePhase::kStamping:
      return "stamping the version";
    case UpdatePhase::kResetting:
      return "resetting";
    case UpdatePhase::kSending:
      return "sending";
    case UpdatePhase::kFinishing:
      return "finishing";
  }
  return "";
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

}  // namespace tarvik
