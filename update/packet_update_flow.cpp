#include "update/packet_update_flow.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "platform/system.h"
#include "update/image_selection.h"
#include "update/packet_protocol.h"

namespace tarvik {

using namespace packet;

namespace {
constexpr uint64_t kImageDataOffset = kRecordHeaderSize;
constexpr uint32_t kModeTwoSignalIntervalMs = 100;
}  // namespace

CPacketUpdateFlow::CPacketUpdateFlow(IFlowReports& events, CHid& hid, CDiag& diag, ISystem& system,
                                     CImageSelection& selection, const std::atomic<bool>& stop)
    : m_events(events),
      m_hid(hid),
      m_diag(diag),
      m_system(system),
      m_selection(selection),
      m_stop(stop) {}

void CPacketUpdateFlow::BeginUpdate() {
  m_ended.store(false);
  m_removalNoticed.store(false);
}

void CPacketUpdateFlow::StopUpdate() {
  m_dataPosition.reset();
  DisarmModeTwoSignal();
  m_ended.store(true);
}

void CPacketUpdateFlow::ArmModeTwoSignal() {
  m_signalDueMs.reset();
  if (!m_events.OnModeTwoSignalArmed()) m_signalDueMs = m_system.Clock().NowMs() + kModeTwoSignalIntervalMs;
}

void CPacketUpdateFlow::DisarmModeTwoSignal() {
  m_signalDueMs.reset();
  m_events.OnModeTwoSignalDisarmed();
}

void CPacketUpdateFlow::TickModeTwoSignal() {
  if (!m_signalDueMs) return;
  const uint64_t now = m_system.Clock().NowMs();
  if (now < *m_signalDueMs) return;
  m_signalDueMs = now + kModeTwoSignalIntervalMs;
  if (ReopenAndSignal(m_hid)) m_signalDueMs.reset();
}

void CPacketUpdateFlow::EndAs(OutcomeResult result, Reason reason) {
  if (!m_end) m_end.emplace(result, std::move(reason));
}

void CPacketUpdateFlow::FailTransfer(Reason reason) {
  EndAs(OutcomeResult::kFailed, std::move(reason));
  StopUpdate();
  ReportFailure();
}

void CPacketUpdateFlow::ReportFailure() {
  if (m_attempt && m_end) m_events.OnUpdateFailed(m_attempt->Finish(m_end->first, m_end->second, PayloadSent()));
}

bool CPacketUpdateFlow::FailureAlreadyReported() {
  uint8_t report[sizeof m_response];
  for (int i = 0; i < 64 && m_hid.ReadHidNow(report, sizeof report) == kWaitReceived; ++i) {
    const uint8_t* frame = report + kResponseFrame;
    if (!IsPacketFrame(frame) || FrameType(frame) != kTypeFirmware) continue;
    const uint8_t command = BodyCommand(FrameBody(frame));
    if (command == kCmdFailure1 || command == kCmdFailure2) {
      m_diag.Trace(" %d Bytes received from sender\n", report[kResponseLength]);
      HandleFirmwarePacket(FrameBody(frame));
      return true;
    }
  }
  return false;
}

Reason CPacketUpdateFlow::AtProgress(ReasonCode code) const {
  Reason reason(code);
  if (m_attempt) reason.percent = m_attempt->Percent(PayloadSent());
  return reason;
}

uint32_t CPacketUpdateFlow::ReceivePacket() {
  const uint32_t result = m_hid.ReadHid(m_response, sizeof m_response);
  if (result != kWaitReceived) {
    m_diag.Trace("recv() failed with error code 0x%x\n", result);
    SendShortFrame(m_hid, kTypeReceiveFailure, 0x00);
    return result;
  }
  m_diag.Trace(" %d Bytes received from sender\n", m_response[kResponseLength]);
  HandleInputFrame(m_response + kResponseFrame);
  return result;
}

UpdateOutcome CPacketUpdateFlow::RunPacketUpdate(const ControllerFacts& controller) {
  IClock& clock = m_system.Clock();
  CUpdateAttempt attempt(clock, UpdateProtocol::kPacket, controller.main);
  m_controller = controller;
  m_attempt = &attempt;
  m_end.reset();
  m_dataPackets = 0;
  m_awaitingRequest = false;
  m_awaitingStartAnswer = false;
  m_transferStartMs.reset();
  m_updateDataSent.store(false);
  m_signalDueMs.reset();

  const int sent = SendShortFrame(m_hid, kTypeStartRequest, 0x00);
  if (sent == 0) {
    const uint32_t error = m_system.LastErrorCode();
    m_diag.Trace("send() failed with error code %d\n", static_cast<int>(error));
    EndAs(OutcomeResult::kFailed, Reason(ReasonCode::kStartUnwritten).Count(error));
    // The press held off a new update: it settles at once rather than leave it so.
    m_events.OnMilestone(UpdateMilestone::kSettled);
  } else {
    m_awaitingStartAnswer = true;
    m_diag.Trace("send() is OK!\n");
    m_diag.Trace("Bytes Sent: %d\n", sent);

    uint64_t lastInput = clock.NowMs();
    int failedInARow = 0;
    do {
      const uint32_t result = ReceivePacket();
      TickModeTwoSignal();
      if (result == kWaitReceived) {
        lastInput = clock.NowMs();
        failedInARow = 0;
      } else if (result != kWaitTimeout) {
        ++failedInARow;
      } else {
        failedInARow = 0;
      }
      if (m_ended.load()) break;
      if (m_stop.load()) {
        EndAs(OutcomeResult::kInterrupted, AtProgress(ReasonCode::kInterrupted));
        StopUpdate();
        break;
      }
      // A controller that is gone or silent ends the update instead of holding it for ever.
      const bool gone = failedInARow >= kFailedReadLimit ||
                        (m_removalNoticed.exchange(false) && !m_hid.IsDevicePathPresent());
      if (gone) {
        FailTransfer(AtProgress(ReasonCode::kDisconnected));
        break;
      }
      if (clock.NowMs() - lastInput >= kControllerSilenceLimitMs) {
        Reason silent = AtProgress(ReasonCode::kControllerSilent);
        silent.seconds = kControllerSilenceLimitMs / 1000;
        FailTransfer(std::move(silent));
        break;
      }
      // A controller that answers, but too slowly, does not hold the update for hours.
      const uint64_t limit = TransferLimitMs(m_record.desLen);
      if (m_transferStartMs && clock.NowMs() - *m_transferStartMs >= limit) {
        Reason slow = AtProgress(ReasonCode::kTransferTooSlow);
        slow.seconds = static_cast<uint32_t>(limit / 1000);
        FailTransfer(std::move(slow));
        break;
      }
    } while (!m_ended.load());

    m_events.OnMilestone(UpdateMilestone::kSettled);
  }
  m_diag.Trace("Exit Usb_UpdateThread\n");

  if (!m_end) {
    if (m_stop.load()) {
      EndAs(OutcomeResult::kInterrupted, AtProgress(ReasonCode::kInterrupted));
    } else {
      EndAs(OutcomeResult::kFailed, AtProgress(ReasonCode::kNoResult));
    }
  }
  const UpdateOutcome outcome = attempt.Finish(m_end->first, m_end->second, PayloadSent());
  m_attempt = nullptr;
  m_events.OnUpdateOutcome(outcome);
  return outcome;
}

void CPacketUpdateFlow::HandleInputFrame(const uint8_t* frame) {
  if (!IsPacketFrame(frame)) return;
  switch (FrameType(frame)) {
    case kTypeFirmware:
      HandleFirmwarePacket(FrameBody(frame));
      break;
    case kTypeStartAnswer: {
      // Only an update asks for a start answer, once; the version query wants the version alone.
      if (m_inVersionQuery.load() || !m_awaitingStartAnswer) break;
      m_awaitingStartAnswer = false;
      if (m_hid.Mode() == ReportMode::kPacketNumbered) {
        // The controller is told how much data follows and takes one record: the
        // selection refuses an image it would not take whole, before the question.
        const StepResult selected = m_selection.SelectImage(m_controller);
        if (m_attempt) m_attempt->SetSignature(m_selection.Signature());
        if (!selected.ok()) {
          EndAs(OutcomeFor(selected.status()), selected.reason());
          StopUpdate();
          if (m_selection.TellsRefusal(selected)) ReportFailure();
          break;
        }
        m_hid.SetReadTimeout(10);
        StartTransfer();
      } else {
        StopUpdate();
        EndAs(OutcomeResult::kFailed, Reason(ReasonCode::kNeedBootMode));
        m_events.OnNotice(UpdateNotice::kNeedBootMode);
      }
      break;
    }
    default:
      break;
  }
}

void CPacketUpdateFlow::StartTransfer() {
  m_record = m_selection.FirstRecord();
  m_bytesSent = 0;
  m_transferState.store(TransferState::kStarted);
  SendHeaderPacket(m_hid, m_diag, m_record);
  m_diag.Trace("desVersion is %d\n", static_cast<int>(m_record.version));
  m_updateDataSent.store(false);
  m_awaitingRequest = true;  // the header packet has gone out
  m_transferStartMs = m_system.Clock().NowMs();
  if (m_attempt) {
    m_attempt->SetImageVersion(FirmwareVersion::FromWord(m_record.version));
    m_attempt->SetPayloadTotal(m_record.desLen);
    m_attempt->Touch();
  }
}

void CPacketUpdateFlow::HandleFirmwarePacket(const uint8_t* body) {
  const uint8_t command = BodyCommand(body);
  if (command == kCmdVersion) {
    VersionStep(body);
    return;
  }
  if (m_inVersionQuery.load()) return;
  switch (command) {
    case kCmdDataRequest:
      if (!m_awaitingRequest) break;
      m_awaitingRequest = false;
      if (FailureAlreadyReported()) break;
      TransferStep();
      break;
    case kCmdFailure1:
    case kCmdFailure2: {
      Reason failure = AtProgress(ReasonCode::kControllerFailure).Count(command);
      failure.packets = m_dataPackets;
      FailTransfer(std::move(failure));
      break;
    }
    default:
      break;
  }
}

void CPacketUpdateFlow::VersionStep(const uint8_t* body) {
  const FirmwareVersion version = FirmwareVersion::FromWord(VersionOf(body));
  m_controller.main = version;
  m_versionTold = m_versionTold || version.Known();
  m_diag.Trace("cur_devVersion 0x%x\n", version.Word());
  ControllerVersions learnt;
  learnt.protocol = UpdateProtocol::kPacket;
  learnt.main = version;
  m_events.OnVersionLearnt(learnt);
  // No valid firmware: the controller wants the connection instructions followed.
  if (version.Word() == FirmwareVersion::kNoFirmwareWord) m_events.OnNotice(UpdateNotice::kNoFirmware);
}

void CPacketUpdateFlow::TransferStep() {
  // Every data packet carries the next 32 bytes of the image, fewer only where
  // the image ends: the last one normally carries bytes beyond desLen, which
  // controllers expect (they write their flash in 32-byte units). Short of
  // desLen itself, the image ended early.
  const auto readPacket = [&]() -> std::optional<size_t> {
    const size_t needed =
        static_cast<size_t>(std::min<uint64_t>(kDataPayload, m_record.desLen - std::min(m_bytesSent, m_record.desLen)));
    const std::vector<uint8_t>& bytes = m_selection.Image().Bytes();
    const uint64_t position = *m_dataPosition;
    const size_t n =
        position >= bytes.size() ? 0 : static_cast<size_t>(std::min<uint64_t>(kDataPayload, bytes.size() - position));
    if (n > 0) std::memcpy(m_dataBuffer, bytes.data() + position, n);
    *m_dataPosition += n;
    if (n >= needed) return n;
    Reason truncated = Reason(ReasonCode::kImageTruncated).Path(m_selection.Image().Path());
    truncated.record = 1;
    truncated.bytes = m_bytesSent;
    truncated.total = m_record.desLen;
    FailTransfer(std::move(truncated));
    return std::nullopt;
  };
  switch (m_transferState.load()) {
    case TransferState::kStarted: {
      // The image was read and checked at its selection: the snapshot is
      // missing only when there is none.
      if (!m_selection.Image().Readable()) {
        FailTransfer(Reason(ReasonCode::kNoImage));
        return;
      }
      m_transferState.store(TransferState::kSending);
      m_dataPosition = kImageDataOffset;
      const std::optional<size_t> n = readPacket();
      if (!n) return;
      SendDataPacket(m_dataBuffer, static_cast<int>(*n));
      ++m_dataPackets;
      m_awaitingRequest = true;
      m_diag.Trace("update file is 0x%x\n", m_record.desLen);
      m_bytesSent += static_cast<uint32_t>(*n);
      ArmModeTwoSignal();
      m_events.OnUpdateStep({UpdatePhase::kSending, 0, PayloadSent(), m_record.desLen});
      break;
    }
    case TransferState::kSending: {
      // After a stop the data is closed: a late request gets no answer.
      if (!m_dataPosition) return;
      const std::optional<size_t> n = readPacket();
      if (!n) return;
      SendDataPacket(m_dataBuffer, static_cast<int>(*n));
      ++m_dataPackets;
      m_awaitingRequest = true;
      m_bytesSent += static_cast<uint32_t>(*n);
      m_diag.Trace("\nSET_FIRMWARE_DATA read_pos %d offset 0x%x\n\n", static_cast<int>(*n), m_bytesSent);
      m_events.OnProgress(m_bytesSent, m_record.desLen);
      m_events.OnUpdateStep({UpdatePhase::kSending, 0, PayloadSent(), m_record.desLen});
      if (m_bytesSent < m_record.desLen) return;
      m_dataPosition.reset();
      m_diag.Trace("update successful\n");
      m_transferState.store(TransferState::kDone);
      m_updateDataSent.store(true);
      m_events.OnMilestone(UpdateMilestone::kDataSent);
      break;
    }
    case TransferState::kDone: {
      const int ended = SendFirmwarePacket(m_hid, m_diag, kCmdEnd, nullptr, 0);
      DisarmModeTwoSignal();
      // Success only for this update's data sent in full and closed by the end
      // packet, not for a stray request.
      if (!m_updateDataSent.exchange(false)) break;
      if (ended == 0) {
        FailTransfer(Reason(ReasonCode::kEndUnwritten));
        break;
      }
      if (FailureAlreadyReported()) break;
      EndAs(OutcomeResult::kUpgraded, Reason());
      m_ended.store(true);
      m_events.OnMilestone(UpdateMilestone::kSucceeded);
      break;
    }
  }
}

uint32_t CPacketUpdateFlow::PayloadSent() const {
  return std::min(m_bytesSent, m_record.desLen);
}

uint64_t CPacketUpdateFlow::TransferLimitMs(uint32_t desLen) {
  const uint64_t packets = uint64_t{desLen} / kDataPayload + 2;
  return std::max<uint64_t>(packets * kTransferMsPerPacket, kMinTransferLimitMs);
}

bool CPacketUpdateFlow::PacketVersionQuery() {
  IClock& clock = m_system.Clock();
  m_inVersionQuery.store(true);
  m_versionTold = false;
  SendFirmwarePacket(m_hid, m_diag, kCmdVersion, nullptr, 0);
  const uint64_t start = clock.NowMs();
  do {
    const uint32_t result = ReceivePacket();
    // A device that is gone fails every read at once: give up rather than spin.
    if (ReadFailedOutright(result)) break;
  } while (!m_versionTold && !m_stop.load() && clock.NowMs() - start < kVersionQueryLimitMs);
  m_inVersionQuery.store(false);
  return m_versionTold;
}

void CPacketUpdateFlow::SendDataPacket(const uint8_t* bytes, int count) {
  SendFirmwarePacket(m_hid, m_diag, kCmdData, bytes, count);
}

}  // namespace tarvik
