// The packet-protocol update: the controller drives, the host answers each of
// its data requests with the next 32 bytes of the image. Also the version
// query of packet-protocol controllers, which shares the frame dispatch.
#include "app/cupdate_dlg.h"
#include "app/text_table.h"
#include "base/bytes.h"
#include "base/strformat.h"
#include "update/packet_protocol.h"
#include "update/version_text.h"

namespace tarvik {

using namespace packet;

namespace {
constexpr uint64_t kImageDataOffset = kRecordHeaderSize;
}  // namespace

uint32_t CUpdateDlg::ReceivePacket() {
  const uint32_t result = m_hid.ReadHid(m_packetResponse, sizeof m_packetResponse);
  if (result != kWaitReceived) {
    m_diag.Trace("recv() failed with error code 0x%x\n", result);
    SendShortFrame(m_hid, kTypeReceiveFailure, 0x00);
    return result;
  }
  m_diag.Trace(" %d Bytes received from sender\n", m_packetResponse[0]);
  HandleInputFrame(m_packetResponse + 1);
  return result;
}

void CUpdateDlg::RunPacketUpdate() {
  IClock& clock = m_system.Clock();
  m_updateDataSent.store(false);
  const int sent = SendShortFrame(m_hid, kTypeStartRequest, 0x00);
  if (sent == 0) {
    m_diag.Trace("send() failed with error code %d\n", static_cast<int>(m_system.GetLastError()));
    // The button was disabled by the press: set it again rather than leave it.
    RefreshUpdateButton();
    m_diag.Trace("Exit Usb_UpdateThread\n");
    return;
  }
  m_diag.Trace("send() is OK!\n");
  m_diag.Trace("Bytes Sent: %d\n", sent);

  uint64_t lastInput = clock.NowMs();
  int failedInARow = 0;
  do {
    const uint32_t result = ReceivePacket();
    if (result == kWaitReceived) {
      lastInput = clock.NowMs();
      failedInARow = 0;
    } else if (result != kWaitTimeout) {
      ++failedInARow;
    } else {
      failedInARow = 0;
    }
    if (m_stopFlag.load() != 0) break;
    if (m_abort.load()) {
      StopUpdate();
      break;
    }
    // A controller that is gone or silent ends the update instead of holding it for ever.
    const bool gone = failedInARow >= kFailedReadLimit ||
                      (m_removalNoticed.exchange(false) && !m_hid.IsDevicePathPresent());
    if (gone || clock.NowMs() - lastInput >= kControllerSilenceLimitMs) {
      ReportUpdateFailure();
      break;
    }
  } while (m_stopFlag.load() == 0);

  RefreshUpdateButton();
  m_diag.Trace("Exit Usb_UpdateThread\n");
}

void CUpdateDlg::HandleInputFrame(const uint8_t* frame) {
  if (frame[0] != 0x00) return;
  switch (frame[1]) {
    case kTypeFirmware:
      HandleFirmwarePacket(frame + 4);
      break;
    case kTypeStartAnswer:
      if (m_hid.CurrentReportMode() == 1) {
        if (!SelectImage()) {
          if (m_imageRefused.load()) {
            ReportUpdateFailure();
          } else {
            StopUpdate();
          }
        }
      } else {
        StopUpdate();
        const std::string text = StrFormat("%s\n", LoadText(kTextNeedBootMode).c_str());
        m_diag.Trace("%s", text.c_str());
        MessageBox(text, LoadText(kTextTitle), MsgBoxButtons::kOk);
      }
      break;
    default:
      break;
  }
}

void CUpdateDlg::HandleFirmwarePacket(const uint8_t* body) {
  switch (body[0]) {
    case kCmdVersion:
      PacketVersionStep(body);
      break;
    case kCmdDataRequest:
      PacketTransferStep();
      break;
    case kCmdFailure1:
    case kCmdFailure2:
      ReportUpdateFailure();
      break;
    default:
      break;
  }
}

void CUpdateDlg::PacketVersionStep(const uint8_t* body) {
  const uint32_t version = GetLe32(body + 3);
  m_deviceVersion.store(version);
  m_diag.Trace("cur_devVersion 0x%x\n", version);
  if (version == 0xFFFFFFFFu) {
    // No valid firmware: the controller wants the connection instructions followed.
    MessageBox(StrFormat("%s", LoadText(kTextHelp).c_str()), LoadText(kTextTitle), MsgBoxButtons::kOk);
    return;
  }
  const std::string title = LoadText(kTextTitle);
  if (BetaNumber(version) != 0) {
    SetWindowText(StrFormat("%s(GamePad V%0.2f beta%d)", title.c_str(), VersionNumber(version),
                            static_cast<int>(BetaNumber(version))));
  } else {
    SetWindowText(StrFormat("%s(GamePad V%0.2f)", title.c_str(), version / 100.0));
  }
}

void CUpdateDlg::PacketTransferStep() {
  UpdateRecordValues& record = m_context.record;
  CImageFile& file = m_context.imageFile;
  switch (m_transferState.load()) {
    case 1: {
      if (!file.Open(m_context.imagePath)) return;  // the next request tries again
      m_transferState.store(2);
      file.Seek(kImageDataOffset);
      const size_t n = file.Read(record.dataBuffer, kDataPayload);
      SendDataPacket(record.dataBuffer, static_cast<int>(n));
      m_diag.Trace("update file is 0x%x\n", record.desLen);
      record.bytesSent += static_cast<uint32_t>(n);
      SetTimer(kUpdateTimerId, kUpdateTimerIntervalMs);
      break;
    }
    case 2: {
      // After a stop the file is closed: a late request gets no answer.
      if (!file.IsOpen()) return;
      const size_t n = file.Read(record.dataBuffer, kDataPayload);
      SendDataPacket(record.dataBuffer, static_cast<int>(n));
      record.bytesSent += static_cast<uint32_t>(n);
      m_diag.Trace("\nSET_FIRMWARE_DATA read_pos %d offset 0x%x\n\n", static_cast<int>(n), record.bytesSent);
      const uint64_t position =
          record.desLen == 0 ? 100 : uint64_t{record.bytesSent} * 100 / record.desLen;
      SetProgressPos(IDC_PROGRESS, static_cast<int>(std::min<uint64_t>(position, INT32_MAX)));
      if (record.bytesSent < record.desLen) return;
      file.Close();
      m_diag.Trace("update successful\n");
      m_transferState.store(3);
      m_updateDataSent.store(true);
      m_updateButton.EnableWindow(true);
      break;
    }
    case 3:
      SendFirmwarePacket(m_hid, m_diag, kCmdEnd, nullptr, 0);
      KillTimer(kUpdateTimerId);
      // Success only for this update's data sent in full, not for a stray request.
      if (m_updateDataSent.exchange(false)) ReportUpdateSuccess();
      break;
    default:
      break;
  }
}

void CUpdateDlg::PacketVersionQuery() {
  IClock& clock = m_system.Clock();
  SendFirmwarePacket(m_hid, m_diag, kCmdVersion, nullptr, 0);
  const uint64_t start = clock.NowMs();
  do {
    const uint32_t result = ReceivePacket();
    // A device that is gone fails every read at once: give up rather than spin.
    if (result != kWaitReceived && result != kWaitTimeout) break;
  } while (m_deviceVersion.load() == kDeviceVersionUnknown && !m_abort.load() &&
           clock.NowMs() - start < kVersionQueryLimitMs);
}

}  // namespace tarvik
