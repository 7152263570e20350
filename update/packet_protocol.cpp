#include "update/packet_protocol.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "device/chid.h"
#include "device/report_framing.h"
#include "diag/diag.h"
#include "update/firmware_image.h"

namespace tarvik {

using namespace packet;

int SendFirmwarePacket(CHid& hid, CDiag& diag, uint8_t command, const uint8_t* payload, int length) {
  if (length > kMaxFirmwarePayload) return 0;
  uint8_t frame[PayloadFrameSize(kMaxFirmwarePayload)];
  const size_t frameLength =
      EncodeFirmwarePacket(command, payload, length > 0 ? static_cast<size_t>(length) : 0, frame);

  // Each report gets its own staging buffer, so two senders never share one.
  uint8_t staging[kReportDataSize] = {};
  if (command != kCmdData) {
    diag.Trace("SendFirmwarePacket cmd %d\n", command);
    const size_t count = std::min(frameLength, kMaxFrameInReport);
    staging[kReportCount] = static_cast<uint8_t>(count);
    std::memcpy(staging + kReportFrame, frame, count);
    return hid.WriteHid(staging, static_cast<uint32_t>(count + kReportFrame));
  }

  size_t offset = 0;
  while (offset < frameLength) {
    const size_t piece = std::min<size_t>(frameLength - offset, kMaxPiece);
    std::memset(staging, 0, sizeof staging);
    staging[kReportCount] = static_cast<uint8_t>(piece);
    std::memcpy(staging + kReportFrame, frame + offset, piece);
    if (hid.WriteHid(staging, static_cast<uint32_t>(piece + kReportFrame)) == 0) {
      diag.Trace("WriteHid error\n");
      return 0;
    }
    diag.Trace("WriteHid %d btye sucessful\n", static_cast<int>(piece));
    offset += piece;
  }
  return 1;
}

int SendShortFrame(CHid& hid, uint8_t type, uint8_t value) {
  const auto report = ShortFrameReport(type, value);
  return hid.WriteHid(report.data(), static_cast<uint32_t>(report.size()));
}

bool ReopenAndSignal(CHid& hid) {
  if (hid.Mode() != ReportMode::kPacket) return false;
  if (!hid.OpenHid()) return false;
  // Count byte 5, then 00 50 01: the short frame's value 0 is the report's zero fill.
  const auto report = ShortFrameReport(kTypeMode2Signal, 0x00);
  return hid.WriteHid(report.data(), 4) != 0;
}

int SendHeaderPacket(CHid& hid, CDiag& diag, const RecordHeader& record) {
  uint8_t payload[kHeaderPayload] = {};
  PutLe32(payload + kHeaderVersion, record.version);
  PutLe32(payload + kHeaderDesAddress, record.desAddress);
  PutLe32(payload + kHeaderDesLen, record.desLen);
  return SendFirmwarePacket(hid, diag, kCmdHeader, payload, kHeaderPayload);
}

}  // namespace tarvik
