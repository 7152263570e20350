#include "transcript/redaction.h"

#include <algorithm>
#include <cstddef>

#include "base/bytes.h"
#include "platform/digest.h"
#include "update/boot_protocol.h"
#include "update/packet_layout.h"

namespace tarvik {

namespace {

// Report ID, then the frame (boot mode) or the count byte and the frame (packet modes).
constexpr size_t kBootFrame = 1;
constexpr size_t kPacketFrame = 1 + packet::kReportFrame;

void Zero(std::vector<uint8_t>& report, size_t from, size_t count) {
  if (from >= report.size()) return;
  std::fill_n(report.begin() + static_cast<std::ptrdiff_t>(from), std::min(count, report.size() - from), uint8_t{0});
}

}  // namespace

bool RedactOutputReport(std::vector<uint8_t>& report) {
  // A boot-mode data write: marker, command 3, its data length, then the data.
  const size_t boot = kBootFrame;
  if (report.size() > boot + boot::kFrameData && report[0] == 0x00 && report[boot + boot::kFrameMarker] == boot::kMarker &&
      GetLe16(&report[boot + boot::kFrameCommand]) == boot::kCmdWriteData) {
    const uint32_t length = std::min<uint32_t>(GetLe32(&report[boot + boot::kFrameDataLength]), boot::kMaxData);
    Zero(report, boot + boot::kFrameData, length);
    return true;
  }
  // A packet-protocol data packet: a firmware frame with the data command, then its payload.
  const size_t frame = kPacketFrame;
  if (report.size() > frame + packet::kFrameBody + packet::kBodyPayload &&
      report[frame + packet::kFrameLead] == 0x00 && report[frame + packet::kFrameType] == packet::kTypeFirmware &&
      report[frame + packet::kFrameBody + packet::kBodyCommand] == packet::kCmdData) {
    const size_t length = GetLe16(&report[frame + packet::kFrameBody + packet::kBodyPayloadLength]);
    Zero(report, frame + packet::kFrameBody + packet::kBodyPayload, length);
    return true;
  }
  return false;
}

bool RedactInputReport(std::vector<uint8_t>& report) {
  // A boot-mode reply to the information request: the block follows the reply's header.
  const size_t reply = kBootFrame;
  const size_t uid = reply + boot::kReplyData + boot::kInfoUid;
  if (report.size() < uid + 12 || report[0] != 0x00 || report[reply + boot::kReplyMarker] != boot::kMarker ||
      GetLe16(&report[reply + boot::kReplyCommand]) != boot::kCmdGetInfo) {
    return false;
  }
  const std::string digest = Sha256Hex(&report[uid], 12);
  const auto nibble = [&](size_t at) {
    const char c = at < digest.size() ? digest[at] : '0';
    return static_cast<uint8_t>(c >= 'a' ? c - 'a' + 10 : c - '0');
  };
  for (size_t i = 0; i < 12; ++i) report[uid + i] = static_cast<uint8_t>(nibble(2 * i) << 4 | nibble(2 * i + 1));
  return true;
}

std::string RedactText(const std::string& text) {
  const std::string digest = Sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return "sha256:" + digest.substr(0, 16);
}

std::string ReportDigest(const std::vector<uint8_t>& report) { return Sha256Hex(report.data(), report.size()); }

}  // namespace tarvik
