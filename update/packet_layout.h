// The firmware packet protocol's wire layout, both directions: the packet
// frame, the firmware packet body, the header packet's payload, and how a
// frame rides in an HID report (a count byte, then the frame bytes). Offsets
// are into the frame, the body or the report data (after the report ID).
// All multi-byte fields are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

namespace tarvik::packet {

// Packet frame.
inline constexpr size_t kFrameLead = 0;        // 1 byte, always 0x00; other frames are ignored
inline constexpr size_t kFrameType = 1;        // 1 byte
inline constexpr size_t kFrameBodyLength = 2;  // 2 bytes: bytes that follow this field
inline constexpr size_t kFrameBody = 4;
inline constexpr size_t kFrameHeaderSize = kFrameBody;

inline constexpr uint8_t kTypeFirmware = 0x16;
inline constexpr uint8_t kTypeStartAnswer = 0x19;
inline constexpr uint8_t kTypeStartRequest = 0x1A;
inline constexpr uint8_t kTypeReceiveFailure = 0x1D;
inline constexpr uint8_t kTypeMode2Signal = 0x50;

// Firmware packet body: the command, then, only with a payload, its length and the payload.
inline constexpr size_t kBodyCommand = 0;        // 1 byte
inline constexpr size_t kBodyPayloadLength = 1;  // 2 bytes
inline constexpr size_t kBodyPayload = 3;
// A version report's version word sits at the payload's place.
inline constexpr size_t kBodyVersion = kBodyPayload;  // 4 bytes

inline constexpr uint8_t kCmdData = 0x00;
inline constexpr uint8_t kCmdHeader = 0x01;
inline constexpr uint8_t kCmdEnd = 0x02;
inline constexpr uint8_t kCmdVersion = 0x04;
inline constexpr uint8_t kCmdDataRequest = 0x14;
inline constexpr uint8_t kCmdFailure1 = 0x15;
inline constexpr uint8_t kCmdFailure2 = 0x18;

// Header packet payload: the first twelve bytes of the first record header.
inline constexpr size_t kHeaderVersion = 0;     // 4 bytes
inline constexpr size_t kHeaderDesAddress = 4;  // 4 bytes
inline constexpr size_t kHeaderDesLen = 8;      // 4 bytes
inline constexpr int kHeaderPayload = 28;
inline constexpr int kDataPayload = 32;

// Frame sizes.
inline constexpr size_t kShortFrameSize = kFrameBody + 1;  // 00 type 01 00 value
inline constexpr size_t PayloadFrameSize(size_t payload) { return kFrameBody + kBodyPayload + payload; }
inline constexpr int kMaxPiece = 39;  // frame bytes of one data-packet report
static_assert(PayloadFrameSize(kDataPayload) == kMaxPiece, "a full data packet is one piece");
static_assert(PayloadFrameSize(kHeaderPayload) == 35, "the header packet is 35 frame bytes");

// Carriage in a report's data.
inline constexpr size_t kReportCount = 0;  // 1 byte: frame bytes that follow
inline constexpr size_t kReportFrame = 1;
inline constexpr size_t kReportDataSize = 64;
inline constexpr size_t kMaxFrameInReport = kReportDataSize - kReportFrame;
static_assert(PayloadFrameSize(kHeaderPayload) <= kMaxFrameInReport - 1,
              "the header packet fits one report in both report modes");

// A received report (response buffer): the stated frame length, then the frame.
inline constexpr size_t kResponseLength = 0;
inline constexpr size_t kResponseFrame = 1;

// Report data of a short frame: 05 00 type 01 00 value.
inline constexpr std::array<uint8_t, kReportFrame + kShortFrameSize> ShortFrameReport(uint8_t type,
                                                                                      uint8_t value) {
  return {static_cast<uint8_t>(kShortFrameSize), 0x00, type, 0x01, 0x00, value};
}

// Writes a firmware packet frame into `frame` (at least PayloadFrameSize(length)
// bytes); no payload (length 0) gives the 5-byte frame 00 16 01 00 command.
inline size_t EncodeFirmwarePacket(uint8_t command, const uint8_t* payload, size_t length,
                                   uint8_t* frame) {
  frame[kFrameLead] = 0x00;
  frame[kFrameType] = kTypeFirmware;
  if (length == 0 || payload == nullptr) {
    PutLe16(frame + kFrameBodyLength, 1);
    frame[kFrameBody + kBodyCommand] = command;
    return kShortFrameSize;
  }
  PutLe16(frame + kFrameBodyLength, static_cast<uint16_t>(length + kBodyPayload));
  frame[kFrameBody + kBodyCommand] = command;
  PutLe16(frame + kFrameBody + kBodyPayloadLength, static_cast<uint16_t>(length));
  for (size_t i = 0; i < length; ++i) frame[kFrameBody + kBodyPayload + i] = payload[i];
  return PayloadFrameSize(length);
}

// Reading a received frame (at least kFrameBody + kBodyVersion + 4 bytes).
inline bool IsPacketFrame(const uint8_t* frame) { return frame[kFrameLead] == 0x00; }
inline uint8_t FrameType(const uint8_t* frame) { return frame[kFrameType]; }
inline const uint8_t* FrameBody(const uint8_t* frame) { return frame + kFrameBody; }
inline uint8_t BodyCommand(const uint8_t* body) { return body[kBodyCommand]; }
inline uint32_t VersionOf(const uint8_t* body) { return GetLe32(body + kBodyVersion); }

}  // namespace tarvik::packet
