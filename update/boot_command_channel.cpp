#include "update/boot_command_channel.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "platform/clock.h"
#include "update/boot_wire.h"

namespace tarvik {

using namespace boot;

namespace {
constexpr uint32_t kEraseWaitMs = 1000;
constexpr int kEraseTries = 10;
constexpr uint32_t kWritePollMs = 5;
constexpr int kWritePolls = 100;
constexpr uint32_t kInfoRetryWaitMs = 300;
constexpr int kInfoTries = 5;
}  // namespace

std::array<uint8_t, kFrameSize> BuildBootCommandFrame(const uint8_t* data, uint32_t dataLength,
                                                      uint32_t address, uint32_t totalLength,
                                                      uint16_t command, uint32_t& bytesToSend) {
  std::array<uint8_t, kFrameSize> frame{};
  const uint32_t length = std::min<uint32_t>(dataLength, kMaxData);
  frame[kFrameMarker] = kMarker;
  PutLe16(&frame[kFrameCommand], command);
  PutLe32(&frame[kFrameDataLength], length);
  PutLe32(&frame[kFrameTotalLength], totalLength);
  PutLe32(&frame[kFrameAddress], address);
  uint32_t attached = 0;
  if (data && length > 0) {
    std::memcpy(&frame[kFrameData], data, length);
    attached = length;
  }
  bytesToSend = static_cast<uint32_t>(kFrameData) + attached;
  return frame;
}

CBootChannel::CBootChannel(CHid& hid, CDiag& diag, IClock& clock, const std::atomic<bool>& abort)
    : m_hid(hid), m_diag(diag), m_clock(clock), m_abort(abort) {}

int CBootChannel::SendFrame(const std::array<uint8_t, kFrameSize>& frame, uint32_t bytes, uint64_t& goneUs) {
  goneUs = m_clock.NowUs();
  if (m_abort.load()) return 0;
  // A reply already waiting answers an earlier frame (a duplicate, or one that
  // came after its polls gave up), never this one.
  m_hid.DiscardPendingInput();
  const uint64_t beforeUs = m_clock.NowUs();
  const int written = m_hid.WriteHid(frame.data(), bytes);
  if (written == 0) m_sawDeviceFailure = true;
  // A bus that tells when it took the report is believed only within the
  // write's own span: its clock may be another.
  const uint64_t afterUs = m_clock.NowUs();
  const uint64_t takenUs = m_hid.LastWriteTakenUs();
  goneUs = takenUs >= beforeUs && takenUs <= afterUs ? takenUs : afterUs;
  return written;
}

StepResult CBootChannel::NoAcknowledgement(ReasonCode what) const {
  if (m_abort.load()) return StepResult::Interrupted();
  if (m_sawDeviceFailure) return StepResult::Failed(Reason(ReasonCode::kDisconnected));
  return StepResult::Failed(Reason(what));
}

int CBootChannel::SendBootCommand(const uint8_t* data, uint32_t dataLength, uint32_t address,
                                  uint32_t totalLength, uint16_t command) {
  uint32_t bytes = 0;
  const auto frame = BuildBootCommandFrame(data, dataLength, address, totalLength, command, bytes);
  return SendFrame(frame, bytes);
}

bool CBootChannel::ReadAcknowledgement(uint16_t command) {
  if (m_answerKept) {
    m_answerKept = false;
    return BootReply::Parse(m_response).Acknowledges(command);
  }
  m_lastRead = m_hid.ReadHid(m_response, kReplySize);
  if (ReadFailedOutright(m_lastRead)) m_sawDeviceFailure = true;
  return m_lastRead == kWaitReceived && BootReply::Parse(m_response).Acknowledges(command);
}

bool CBootChannel::ReplyIsBusyFor(uint16_t command) const {
  return m_lastRead == kWaitReceived && BootReply::Parse(m_response).Busy(command);
}

void CBootChannel::AwaitEraseAnswer(uint16_t command, uint64_t sentUs) {
  const uint64_t endUs = sentUs + kEraseWaitMs * 1000ull;
  m_answerKept = false;
  if (m_pace == BootPace::kAck) {
    while (m_clock.NowUs() < endUs && !m_abort.load()) {
      const uint32_t read = m_hid.ReadHid(m_response, kReplySize);
      // A device that is gone fails every read at once: the wait runs out as it would have.
      if (ReadFailedOutright(read)) break;
      if (read != kWaitReceived) continue;
      const BootReply reply = BootReply::Parse(m_response);
      if (!reply.Acknowledges(command) && !reply.Busy(command)) continue;
      m_lastRead = read;
      m_answerKept = true;
      // The erase is done: nothing is left to wait for. A busy controller gets its second.
      if (reply.Acknowledges(command)) return;
      break;
    }
  }
  m_clock.SleepUntilUs(endUs);
}

CBootChannel::WriteAnswer CBootChannel::AwaitWriteAnswer(uint16_t command, uint64_t sentUs, BootPace pace) {
  if (pace == BootPace::kAck) {
    // Reads at once and on, each bounded as ever, for as long as the polls
    // would take at most. A read that fails outright counts as a poll.
    const uint64_t endUs = sentUs + kWritePolls * (kWritePollMs + uint64_t{m_hid.ReadTimeout()}) * 1000ull;
    int failedReads = 0;
    do {
      if (m_abort.load()) return WriteAnswer::kStopped;
      if (ReadAcknowledgement(command)) return WriteAnswer::kAcknowledged;
      if (ReadFailedOutright(m_lastRead)) {
        if (++failedReads >= kWritePolls) break;
        m_clock.SleepUntilUs(m_clock.NowUs() + kWritePollMs * 1000ull);
      }
    } while (m_clock.NowUs() < endUs);
    return WriteAnswer::kUnanswered;
  }
  // The first poll comes 5 ms after the frame's send, each later one 5 ms
  // after the previous read.
  uint64_t fromUs = sentUs;
  for (int poll = 0; poll < kWritePolls; ++poll) {
    if (m_abort.load()) return WriteAnswer::kStopped;
    m_clock.SleepUntilUs(fromUs + kWritePollMs * 1000ull);
    const bool acknowledged = ReadAcknowledgement(command);
    fromUs = m_clock.NowUs();
    if (acknowledged) return WriteAnswer::kAcknowledged;
  }
  return WriteAnswer::kUnanswered;
}

StepResult CBootChannel::EraseFlash(uint16_t command, uint32_t address, uint32_t length) {
  m_sawDeviceFailure = false;
  const uint32_t rounded = static_cast<uint32_t>((uint64_t{length} + (kEraseUnit - 1)) & ~uint64_t{kEraseUnit - 1});
  uint32_t bytes = 0;
  const auto frame = BuildBootCommandFrame(nullptr, 0, address, rounded, command, bytes);
  // Each wait is measured from the moment its frame has gone: a bus may take
  // a while to hand a report on (the page's browser does).
  uint64_t sentUs = 0;
  SendFrame(frame, bytes, sentUs);
  AwaitEraseAnswer(command, sentUs);
  // Busy answers do not use up the tries; the tries left are not given back
  // by a busy answer either, so that busy answers between silences still end.
  int tries = 0;
  int busy = 0;
  int sends = 1;
  for (;;) {
    if (m_abort.load()) return StepResult::Interrupted();
    if (ReadAcknowledgement(command)) {
      // The attempts that got no answer, busy ones aside, may still answer
      // late, and behind their answers whatever else the controller sent.
      const int unanswered = sends - 1 - busy;
      if (unanswered > 0) SettleLateReplies(command, unanswered);
      return StepResult::Ok();
    }
    const bool isBusy = ReplyIsBusyFor(command);
    if (isBusy && ++busy >= kMaxBusyAnswers) {
      return StepResult::Failed(Reason(ReasonCode::kEraseBusy).Count(kMaxBusyAnswers));
    }
    SendFrame(frame, bytes, sentUs);
    ++sends;
    AwaitEraseAnswer(command, sentUs);
    if (!isBusy && ++tries >= kEraseTries) return NoAcknowledgement(ReasonCode::kEraseUnanswered);
  }
}

StepResult CBootChannel::WriteFlash(const uint8_t* data, uint32_t address, uint32_t length,
                                    uint32_t totalLength, FlashWrite kind) {
  m_sawDeviceFailure = false;
  const uint16_t command = kind == FlashWrite::kFirmwareData ? kCmdWriteData : kCmdWriteValue;
  uint32_t bytes = 0;
  const auto frame = BuildBootCommandFrame(data, length, address, totalLength, command, bytes);
  uint64_t sentUs = 0;
  const int sent = SendFrame(frame, bytes, sentUs);
  if (sent == 0 && m_abort.load()) return StepResult::Interrupted();
  // The version stamp keeps the polls whatever the pace.
  const WriteAnswer answer =
      AwaitWriteAnswer(command, sentUs, kind == FlashWrite::kFirmwareData ? m_pace : BootPace::kParts);
  if (answer == WriteAnswer::kStopped) return StepResult::Interrupted();
  if (answer == WriteAnswer::kAcknowledged) {
    if (m_unansweredWrites > 0) SettleLateReplies(command, m_unansweredWrites);
    m_unansweredWrites = 0;
    return StepResult::Ok();
  }
  ++m_unansweredWrites;
  m_diag.WriteLog("[Write error]address=0x%x len=0x%x\n", address, length);
  return NoAcknowledgement(kind == FlashWrite::kFirmwareData ? ReasonCode::kChunkUnacknowledged
                                                            : ReasonCode::kStampUnanswered);
}

void CBootChannel::SettleLateReplies(uint16_t command, int outstanding) {
  // The protocol's replies name only the command, so the late answer of an
  // earlier attempt would look like the acknowledgement of the next frame.
  const uint64_t end = m_clock.NowMs() + kLateReplyWindowMs;
  // What is already waiting (a duplicate of the acknowledgement, say) does not
  // count: only replies that come from here on are taken for the late ones.
  m_hid.DiscardPendingInput();
  for (int reads = 0; outstanding > 0 && reads < 4 * static_cast<int>(kLateReplyWindowMs) &&
                      m_clock.NowMs() < end;
       ++reads) {
    if (m_abort.load()) break;
    uint8_t reply[kReplySize];
    const uint32_t result = m_hid.ReadHid(reply, sizeof reply);
    if (ReadFailedOutright(result)) break;
    if (result == kWaitReceived && BootReply::Parse(reply).echo == command) --outstanding;
  }
}

StepResult CBootChannel::GetDeviceInfo(uint8_t* destination, uint32_t count) {
  m_sawDeviceFailure = false;
  // A repeated request carries the first one's lengths and address, so that
  // an ATmcu query is never answered by the main microcontroller.
  uint32_t bytes = 0;
  const auto frame =
      BuildBootCommandFrame(nullptr, kMaxData, m_addressSelect.load(), kMaxData, kCmdGetInfo, bytes);
  SendFrame(frame, bytes);
  for (int attempt = 0; attempt < kInfoTries; ++attempt) {
    if (m_abort.load()) return StepResult::Interrupted();
    if (ReadAcknowledgement(kCmdGetInfo)) {
      std::memcpy(destination, &m_response[kReplyData], std::min<uint32_t>(count, kMaxData));
      return StepResult::Ok();
    }
    if (m_lastRead != kWaitReceived) {
      m_clock.SleepMs(kInfoRetryWaitMs);
      SendFrame(frame, bytes);
    }
  }
  return NoAcknowledgement(ReasonCode::kInfoUnanswered);
}

StepResult CBootChannel::ResetDevice() {
  m_sawDeviceFailure = false;
  if (SendBootCommand(nullptr, 0, 0, 0, kCmdReset) == 0 && m_abort.load()) {
    return StepResult::Interrupted();
  }
  if (ReadAcknowledgement(kCmdReset)) return StepResult::Ok();
  return NoAcknowledgement(ReasonCode::kResetUnanswered);
}

StepResult CBootChannel::SetVersion(uint32_t versionAddress, uint32_t version) {
  uint8_t word[4];
  PutLe32(word, version);
  return WriteFlash(word, versionAddress, sizeof word, sizeof word, FlashWrite::kValue);
}

}  // namespace tarvik
