// The boot command protocol's command/response layer: builds command frames,
// sends them through the device object, validates the replies, and applies
// each command's waits and retries.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "update/boot_protocol.h"
#include "update/update_result.h"

namespace tarvik {

class CHid;
class CDiag;
class IClock;

// The 64-byte frame for a command; `bytesToSend` is 17 plus the data bytes
// actually attached. The data length field is capped at 46 and written even
// when no data is attached.
std::array<uint8_t, boot::kFrameSize> BuildBootCommandFrame(const uint8_t* data, uint32_t dataLength,
                                                            uint32_t address, uint32_t totalLength,
                                                            uint16_t command, uint32_t& bytesToSend);

// What a write frame carries: image data (command 3) or a value such as the
// version stamp (command 2).
enum class FlashWrite : uint8_t { kValue, kFirmwareData };


class CBootChannel {
 public:
  // Operations succeed (1) or fail (0); a failure's reason says what the
  // controller did: an erase never answered, or answered busy 60 times.
  // Once `abort` is set they send no further frame and end as interrupted.
  CBootChannel(CHid& hid, CDiag& diag, IClock& clock, const std::atomic<bool>& abort);
  CBootChannel(const CBootChannel&) = delete;
  CBootChannel& operator=(const CBootChannel&) = delete;

  int SendBootCommand(const uint8_t* data, uint32_t dataLength, uint32_t address,
                      uint32_t totalLength, uint16_t command);
  StepResult EraseFlash(uint16_t command, uint32_t address, uint32_t length);
  StepResult WriteFlash(const uint8_t* data, uint32_t address, uint32_t length, uint32_t totalLength,
                        FlashWrite kind);
  StepResult GetDeviceInfo(uint8_t* destination, uint32_t count);
  StepResult ResetDevice();
  StepResult SetVersion(uint32_t versionAddress, uint32_t version);

  void SetPace(BootPace pace) { m_pace = pace; }

  // Which microcontroller an information request asks: 0 for the main
  // microcontroller, 0x80000000 for the ATmcu. Erases and writes go to the
  // addresses they are given, which the plan made with the ATmcu bit.
  void SetAddressSelect(uint32_t select) { m_addressSelect.store(select); }

  // An erase gives up after 60 busy answers, or after 10 reads that brought
  // neither busy nor done, whatever comes between them.
  static constexpr int kMaxBusyAnswers = 60;
  // After a write that was answered only on a retry, the replies of the
  // attempts that went unanswered may still come: until one has come for each
  // of them, or for this long, whatever arrives is taken for theirs.
  static constexpr uint32_t kLateReplyWindowMs = 5000;

 private:
  // Reads one reply into the response buffer, or takes the one the erase wait
  // kept; true when it acknowledges `command`.
  bool ReadAcknowledgement(uint16_t command);
  // The wait after an erase frame sent at `sentUs`. At the acknowledging pace
  // it reads meanwhile: an acknowledgement ends the wait, a busy answer is kept.
  void AwaitEraseAnswer(uint16_t command, uint64_t sentUs);
  // The polls after a write frame sent at `sentUs`, at `pace`.
  enum class WriteAnswer : uint8_t { kAcknowledged, kUnanswered, kStopped };
  WriteAnswer AwaitWriteAnswer(uint16_t command, uint64_t sentUs, BootPace pace);
  bool ReplyIsBusyFor(uint16_t command) const;
  // Sends a frame; `goneUs` gets the moment the bus took it, which the wait
  // after it counts from.
  int SendFrame(const std::array<uint8_t, boot::kFrameSize>& frame, uint32_t bytes, uint64_t& goneUs);
  int SendFrame(const std::array<uint8_t, boot::kFrameSize>& frame, uint32_t bytes) {
    uint64_t goneUs = 0;
    return SendFrame(frame, bytes, goneUs);
  }
  // The failure of an operation that got no acknowledgement: `what` happened,
  // unless the reads showed that the controller left the bus.
  StepResult NoAcknowledgement(ReasonCode what) const;

  // Reads and drops the late replies of `outstanding` earlier attempts of
  // `command` (and whatever else comes meanwhile), for at most kLateReplyWindowMs.
  void SettleLateReplies(uint16_t command, int outstanding);

  // Since the operation began: a read failed outright, or a frame could not be written.
  bool m_sawDeviceFailure = false;
  // Write frames since the last acknowledged one that got no acknowledgement.
  int m_unansweredWrites = 0;

  CHid& m_hid;
  CDiag& m_diag;
  IClock& m_clock;
  const std::atomic<bool>& m_abort;
  std::atomic<uint32_t> m_addressSelect{boot::kAddressMain};
  uint32_t m_lastRead = 0;
  uint8_t m_response[boot::kReplySize] = {};
  bool m_answerKept = false;  // the erase wait read the reply now in m_response
  BootPace m_pace = BootPace::kParts;  // set between updates, by the worker that runs them
};

}  // namespace tarvik
