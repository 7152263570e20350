// What a step of an update and a whole update attempt come to. A step
// result's reason says what the controller did, and the step that failed
// adds which record and which address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "update/signature_check.h"
#include "update/update_reason.h"

namespace tarvik {

enum class StepStatus : uint8_t {
  kOk,
  kFailed,       // the controller did not do what the step needs, or went away
  kRejected,     // the image cannot be used
  kCancelled,    // the person said no or chose no file
  kInterrupted,  // the update was asked to stop (the window closes, Ctrl-C)
};

class StepResult {
 public:
  StepResult() = default;
  static StepResult Ok() { return StepResult(); }
  static StepResult Failed(Reason reason) { return {StepStatus::kFailed, std::move(reason)}; }
  static StepResult Rejected(Reason reason) { return {StepStatus::kRejected, std::move(reason)}; }
  static StepResult Cancelled(Reason reason) { return {StepStatus::kCancelled, std::move(reason)}; }
  static StepResult Interrupted() { return {StepStatus::kInterrupted, Reason(ReasonCode::kInterrupted)}; }

  bool ok() const { return m_status == StepStatus::kOk; }
  StepStatus status() const { return m_status; }
  const Reason& reason() const { return m_reason; }
  // True when the controller stopped answering because it left the bus.
  bool disconnected() const { return m_reason.code == ReasonCode::kDisconnected; }

 private:
  StepResult(StepStatus status, Reason reason) : m_status(status), m_reason(std::move(reason)) {}

  StepStatus m_status = StepStatus::kOk;
  Reason m_reason;
};

enum class OutcomeResult : uint8_t { kUpgraded, kFailed, kRejected, kCancelled, kInterrupted };

// "upgraded", "failed", "rejected", "cancelled", "interrupted".
const char* OutcomeName(OutcomeResult result);
// The outcome of an attempt that ended with a step of this status.
OutcomeResult OutcomeFor(StepStatus status);

enum class UpdateProtocol : uint8_t { kBoot, kPacket };

// How a boot-mode update waits for a write's and an erase's answer. The
// frames are the same either way.
enum class BootPace : uint8_t {
  kParts,  // a write is polled 5 ms after its frame and after each read; an erase is read after a second
  kAck,    // reads start as the frame has gone; the acknowledgement ends the wait
};
// "parts", "ack".
const char* PaceName(BootPace pace);
// False for a name that is neither.
bool PaceFromName(const std::string& name, BootPace& pace);

// How one update attempt ended: exactly one outcome per attempt.
struct UpdateOutcome {
  OutcomeResult result = OutcomeResult::kFailed;
  Reason reason;  // empty when upgraded
  UpdateProtocol protocol = UpdateProtocol::kBoot;
  uint64_t bytesSent = 0;     // payload the controller took
  uint64_t payloadTotal = 0;  // payload of the image (0 before it was known)
  std::string controllerVersion;  // "1.20", "unknown"
  std::string imageVersion;       // "1.31", "" before an image was read
  double seconds = 0;
  // True once the controller's firmware was touched: an erase or a data frame went out.
  bool controllerTouched = false;
  // How a boot-mode update waited; the packet protocol has the controller's pace.
  BootPace pace = BootPace::kParts;
  // The image's signature, once the image was read.
  std::optional<SignatureCheck> signature;
};

// Steps an update reports as it goes, for a front end's progress display.
enum class UpdatePhase : uint8_t { kErasing, kWriting, kStamping, kResetting, kSending, kFinishing };

struct UpdateProgress {
  UpdatePhase phase = UpdatePhase::kWriting;
  int record = 0;  // from 1; 0 in the packet protocol
  uint64_t bytesSent = 0;
  uint64_t payloadTotal = 0;
};

}  // namespace tarvik
