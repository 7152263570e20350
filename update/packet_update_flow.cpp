#include "update/packet_update_flow.h"

#include <algorithm>

#include "base/bytes.h"
#include "base/strformat.h"
#include "base/text_mark.h"
#include "device/chid.h"
#include "diag/diag.h"
#include "platform/system.h"
#include "res/text_index.h"
#include "update/image_selection.h"
#include "update/packet_protocol.h"
#include "update/version_text.h"

namespace tarvik {

using namespace packet;

namespace {
constexpr uint64_t kImageDataOffset = kRecordHeaderSize;
}  // namespace

CPacketUpdateFlow::CPacketUpdateFlow(IUpdateWindow& window, CHid& hid, CDiag& diag, ISystem& system,
                                     CImageSelection& selection, UpdateContext& context,
                                     UpdateState& state)
    : m_window(window),
      m_hid(hid),
      m_diag(diag),
      m_system(system),
      m_selection(selection),
      m_context(context),
      m_state(state) {}

void CPacketUpdateFlow::EndAs(OutcomeResult result, std::string reason) {
  if (!m_end) m_end.emplace(result, std::move(reason));
}

void CPacketUpdateFlow::FailTransfer(std::string reason) {
  EndAs(OutcomeResult::kFailed, std::move(reason));
  m_window.ReportUpdateFailure();
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

std::string CPacketUpdateFlow::Where() const {
  return m_attempt ? StrFormat(N_("at %s"), m_attempt->Percent(PayloadSent()).c_str()) : std::string();
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

UpdateOutcome CPacketUpdateFlow::RunPacketUpdate() {
  IClock& clock = m_system.Clock();
  CUpdateAttempt attempt(clock, UpdateProtocol::kPacket, m_state.deviceVersion.load());
  m_attempt = &attempt;
  m_end.reset();
  m_dataPackets = 0;
  m_awaitingRequest = false;
  m_awaitingStartAnswer = false;
  m_transferStartMs.reset();
  m_updateDataSent.store(false);

  const int sent = SendShortFrame(m_hid, kTypeStartRequest, 0x00);
  if (sent == 0) {
    const uint32_t error = m_system.LastErrorCode();
    m_diag.Trace("send() failed with error code %d\n", static_cast<int>(error));
    EndAs(OutcomeResult::kFailed,
          StrFormat(N_("the start request could not be written (error %u)"), error));
    // The button was disabled by the press: set it again rather than leave it.
    m_window.RefreshUpdateButton();
  } else {
    m_awaitingStartAnswer = true;
    m_diag.Trace("send() is OK!\n");
    m_diag.Trace("Bytes Sent: %d\n", sent);

    uint64_t lastInput = clock.NowMs();
    int failedInARow = 0;
    do {
      const uint32_t result = ReceivePacket();
      m_window.BetweenReads();
      if (result == kWaitReceived) {
        lastInput = clock.NowMs();
        failedInARow = 0;
      } else if (result != kWaitTimeout) {
        ++failedInARow;
      } else {
        failedInARow = 0;
      }
      if (m_state.updateEnded.load()) break;
      if (m_state.stopRequested.load()) {
        EndAs(OutcomeResult::kInterrupted, StrFormat(N_("the update was stopped %s"), Where().c_str()));
        m_window.StopUpdate();
        break;
      }
      // A controller that is gone or silent ends the update instead of holding it for ever.
      const bool gone = failedInARow >= kFailedReadLimit ||
                        (m_state.removalNoticed.exchange(false) && !m_hid.IsDevicePathPresent());
      if (gone) {
        FailTransfer(StrFormat(N_("the controller was disconnected %s"), Where().c_str()));
        break;
      }
      if (clock.NowMs() - lastInput >= kControllerSilenceLimitMs) {
        FailTransfer(StrFormat(N_("the controller sent nothing for %u s %s"), kControllerSilenceLimitMs / 1000,
                               Where().c_str()));
        break;
      }
      // A controller that answers, but too slowly, does not hold the update for hours.
      const uint64_t limit = TransferLimitMs(m_context.record.desLen);
      if (m_transferStartMs && clock.NowMs() - *m_transferStartMs >= limit) {
        FailTransfer(StrFormat(N_("the transfer did not finish within %llu s %s"),
                               static_cast<unsigned long long>(limit / 1000), Where().c_str()));
        break;
      }
    } while (!m_state.updateEnded.load());

    m_window.RefreshUpdateButton();
  }
  m_diag.Trace("Exit Usb_UpdateThread\n");

  if (!m_end) {
    if (m_state.stopRequested.load()) {
      EndAs(OutcomeResult::kInterrupted, StrFormat(N_("the update was stopped %s"), Where().c_str()));
    } else {
      EndAs(OutcomeResult::kFailed, StrFormat(N_("the update ended without a result %s"), Where().c_str()));
    }
  }
  const UpdateOutcome outcome = attempt.Finish(m_end->first, m_end->second, PayloadSent());
  m_attempt = nullptr;
  m_window.OnUpdateOutcome(outcome);
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
        const StepResult selected = m_selection.SelectImage();
        if (selected.ok()) {
          m_updateDataSent.store(false);
          m_awaitingRequest = true;  // the header packet has gone out
          m_transferStartMs = m_system.Clock().NowMs();
          if (m_attempt) {
            m_attempt->SetImageVersion(GetLe32(m_context.firstHeader));
            m_attempt->SetPayloadTotal(m_context.record.desLen);
            m_attempt->Touch();
          }
          break;
        }
        EndAs(OutcomeFor(selected.status()), selected.reason());
        if (m_selection.RefusedImage()) {
          m_window.ReportUpdateFailure();
        } else {
          m_window.StopUpdate();
        }
      } else {
        m_window.StopUpdate();
        const std::string text = StrFormat("%s\n", m_window.Text(kTextNeedBootMode).c_str());
        m_diag.Trace("%s", text.c_str());
        EndAs(OutcomeResult::kFailed,
              N_("the controller must be put in boot mode first (hold the pair button while plugging it in)"));
        m_window.MessageBox(text, m_window.Text(kTextTitle), MsgBoxButtons::kOk);
      }
      break;
    }
    default:
      break;
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
    case kCmdFailure2:
      FailTransfer(StrFormat(N_("the controller reported failure 0x%02X after %u packets %s"), command,
                             m_dataPackets, Where().c_str()));
      break;
    default:
      break;
  }
}

void CPacketUpdateFlow::VersionStep(const uint8_t* body) {
  const uint32_t version = VersionOf(body);
  m_state.deviceVersion.store(version);
  m_diag.Trace("cur_devVersion 0x%x\n", version);
  if (version == kDeviceVersionNoFirmware) {
    // No valid firmware: the controller wants the connection instructions followed.
    m_window.MessageBox(StrFormat("%s", m_window.Text(kTextHelp).c_str()), m_window.Text(kTextTitle),
                        MsgBoxButtons::kOk);
    return;
  }
  const std::string title = m_window.Text(kTextTitle);
  if (BetaNumber(version) != 0) {
    m_window.SetTitle(StrFormat("%s(GamePad V%0.2f beta%d)", title.c_str(), VersionNumber(version),
                                static_cast<int>(BetaNumber(version))));
  } else {
    m_window.SetTitle(StrFormat("%s(GamePad V%0.2f)", title.c_str(), version / 100.0));
  }
}

void CPacketUpdateFlow::TransferStep() {
  UpdateRecordValues& record = m_context.record;
  CImageReader& file = m_context.imageFile;
  // Every data packet carries the next 32 bytes of the image, fewer only where
  // the image ends: the last one normally carries bytes beyond desLen, which
  // controllers expect (they write their flash in 32-byte units). Short of
  // desLen itself, the image ended early.
  const auto readPacket = [&](const char* what) -> std::optional<size_t> {
    const size_t needed =
        static_cast<size_t>(std::min<uint64_t>(kDataPayload, record.desLen - std::min(record.bytesSent, record.desLen)));
    const size_t n = file.Read(record.dataBuffer, kDataPayload);
    if (n >= needed) return n;
    FailTransfer(StrFormat(N_("the image %s ended %s, after %u of its %u bytes"), m_context.imagePath.c_str(), what,
                           record.bytesSent, record.desLen));
    return std::nullopt;
  };
  switch (m_state.transferState.load()) {
    case TransferState::kStarted: {
      // The image was read and checked at its selection: opening the snapshot
      // fails only when there is none.
      if (!file.Open()) {
        FailTransfer(N_("no image was read for the transfer"));
        return;
      }
      m_state.transferState.store(TransferState::kSending);
      file.Seek(kImageDataOffset);
      const std::optional<size_t> n = readPacket(N_("at its first packet"));
      if (!n) return;
      SendDataPacket(record.dataBuffer, static_cast<int>(*n));
      ++m_dataPackets;
      m_awaitingRequest = true;
      m_diag.Trace("update file is 0x%x\n", record.desLen);
      record.bytesSent += static_cast<uint32_t>(*n);
      m_window.StartUpdateTimer();
      m_window.OnUpdateStep({UpdatePhase::kSending, 0, PayloadSent(), record.desLen});
      break;
    }
    case TransferState::kSending: {
      // After a stop the image is closed: a late request gets no answer.
      if (!file.IsOpen()) return;
      const std::optional<size_t> n = readPacket(N_("early"));
      if (!n) return;
      SendDataPacket(record.dataBuffer, static_cast<int>(*n));
      ++m_dataPackets;
      m_awaitingRequest = true;
      record.bytesSent += static_cast<uint32_t>(*n);
      m_diag.Trace("\nSET_FIRMWARE_DATA read_pos %d offset 0x%x\n\n", static_cast<int>(*n), record.bytesSent);
      // The bar's range ends at 100; the bytes beyond desLen do not move it further.
      const uint64_t position =
          record.desLen == 0 ? 100 : std::min<uint64_t>(uint64_t{record.bytesSent} * 100 / record.desLen, 100);
      m_window.SetProgress(static_cast<int>(position));
      m_window.OnUpdateStep({UpdatePhase::kSending, 0, PayloadSent(), record.desLen});
      if (record.bytesSent < record.desLen) return;
      file.Close();
      m_diag.Trace("update successful\n");
      m_state.transferState.store(TransferState::kDone);
      m_updateDataSent.store(true);
      m_window.EnableUpdateButton(true);
      break;
    }
    case TransferState::kDone: {
      const int ended = SendFirmwarePacket(m_hid, m_diag, kCmdEnd, nullptr, 0);
      m_window.KillUpdateTimer();
      // Success only for this update's data sent in full and closed by the end
      // packet, not for a stray request.
      if (!m_updateDataSent.exchange(false)) break;
      if (ended == 0) {
        FailTransfer(N_("the end packet could not be written"));
        break;
      }
      if (FailureAlreadyReported()) break;
      EndAs(OutcomeResult::kUpgraded, "");
      m_window.ReportUpdateSuccess();
      break;
    }
  }
}

uint32_t CPacketUpdateFlow::PayloadSent() const {
  return std::min(m_context.record.bytesSent, m_context.record.desLen);
}

uint64_t CPacketUpdateFlow::TransferLimitMs(uint32_t desLen) {
  const uint64_t packets = uint64_t{desLen} / kDataPayload + 2;
  return std::max<uint64_t>(packets * kTransferMsPerPacket, kMinTransferLimitMs);
}

void CPacketUpdateFlow::PacketVersionQuery() {
  IClock& clock = m_system.Clock();
  m_inVersionQuery.store(true);
  SendFirmwarePacket(m_hid, m_diag, kCmdVersion, nullptr, 0);
  const uint64_t start = clock.NowMs();
  do {
    const uint32_t result = ReceivePacket();
    // A device that is gone fails every read at once: give up rather than spin.
    if (ReadFailedOutright(result)) break;
  } while (m_state.deviceVersion.load() == kDeviceVersionUnknown && !m_state.stopRequested.load() &&
           clock.NowMs() - start < kVersionQueryLimitMs);
  m_inVersionQuery.store(false);
}

void CPacketUpdateFlow::SendHeaderPacket() { tarvik::SendHeaderPacket(m_hid, m_diag, m_context.record); }

void CPacketUpdateFlow::SendDataPacket(const uint8_t* bytes, int count) {
  SendFirmwarePacket(m_hid, m_diag, kCmdData, bytes, count);
}

}  // namespace tarvik
