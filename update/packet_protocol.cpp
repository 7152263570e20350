#include "update/packet_protocol.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/cupdate_dlg.h"
#include "base/bytes.h"
#include "device/chid.h"
#include "diag/diag.h"

namespace tarvik {

using namespace packet;

namespace {
// A report's data: the count byte and up to 63 frame bytes.
constexpr size_t kStagingSize = 64;
}  // namespace

int SendFirmwarePacket(CHid& hid, CDiag& diag, uint8_t command, const uint8_t* payload, int length) {
  std::vector<uint8_t> frame;
  frame.push_back(0x00);
  frame.push_back(kTypeFirmware);
  if (length <= 0 || !payload) {
    frame.push_back(0x01);
    frame.push_back(0x00);
    frame.push_back(command);
  } else {
    const uint16_t body = static_cast<uint16_t>(length + 3);
    frame.push_back(static_cast<uint8_t>(body));
    frame.push_back(static_cast<uint8_t>(body >> 8));
    frame.push_back(command);
    frame.push_back(static_cast<uint8_t>(length));
    frame.push_back(static_cast<uint8_t>(length >> 8));
    frame.insert(frame.end(), payload, payload + length);
  }

  // Each report gets its own staging buffer, so two senders never share one.
  uint8_t staging[kStagingSize] = {};
  if (command != kCmdData) {
    diag.Trace("SendFirmwarePacket cmd %d\n", command);
    const size_t count = std::min(frame.size(), kStagingSize - 1);
    staging[0] = static_cast<uint8_t>(count);
    std::memcpy(staging + 1, frame.data(), count);
    return hid.WriteHid(staging, static_cast<uint32_t>(count + 1));
  }

  size_t offset = 0;
  while (offset < frame.size()) {
    const size_t piece = std::min<size_t>(frame.size() - offset, kMaxPiece);
    std::memset(staging, 0, sizeof staging);
    staging[0] = static_cast<uint8_t>(piece);
    std::memcpy(staging + 1, frame.data() + offset, piece);
    if (hid.WriteHid(staging, static_cast<uint32_t>(piece + 1)) == 0) {
      diag.Trace("WriteHid error\n");
      return 0;
    }
    diag.Trace("WriteHid %d btye sucessful\n", static_cast<int>(piece));
    offset += piece;
  }
  return 1;
}

int SendShortFrame(CHid& hid, uint8_t type, uint8_t value) {
  const uint8_t staging[6] = {0x05, 0x00, type, 0x01, 0x00, value};
  return hid.WriteHid(staging, sizeof staging);
}

bool ReopenAndSignal(CHid& hid) {
  if (hid.CurrentReportMode() != 2) return false;
  if (!hid.OpenHid()) return false;
  // Count byte 5, then the short frame 00 50 01 00 00; the rest of the report is zero.
  const uint8_t signal[4] = {0x05, 0x00, kTypeMode2Signal, 0x01};
  return hid.WriteHid(signal, sizeof signal) != 0;
}

void CUpdateDlg::SendHeaderPacket() {
  // Version, address and length as in the record header; the rest is zero.
  uint8_t payload[kHeaderPayload] = {};
  PutLe32(payload + 0, m_context.record.version);
  PutLe32(payload + 4, m_context.record.desAddress);
  PutLe32(payload + 8, m_context.record.desLen);
  SendFirmwarePacket(m_hid, m_diag, kCmdHeader, payload, kHeaderPayload);
}

void CUpdateDlg::SendDataPacket(const uint8_t* bytes, int count) {
  SendFirmwarePacket(m_hid, m_diag, kCmdData, bytes, count);
}

}  // namespace tarvik
