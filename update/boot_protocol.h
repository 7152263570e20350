// The boot command protocol's wire layout: the 64-byte command frame the host
// sends and the 64-byte reply it validates, and the 46-byte information block.
// Offsets are into the payload, after the HID report ID. All fields little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvik::boot {

// Command frame.
inline constexpr size_t kFrameSize = 64;
inline constexpr size_t kFrameMarker = 0;       // 1 byte, always kMarker
inline constexpr size_t kFrameCommand = 1;      // 2 bytes
inline constexpr size_t kFrameReserved = 3;     // 2 bytes, 0
inline constexpr size_t kFrameDataLength = 5;   // 4 bytes, capped at kMaxData
inline constexpr size_t kFrameTotalLength = 9;  // 4 bytes
inline constexpr size_t kFrameAddress = 13;     // 4 bytes, bit 31 selects the ATmcu
inline constexpr size_t kFrameData = 17;        // 0 to 46 bytes
inline constexpr size_t kMaxData = 46;
static_assert(kFrameData + kMaxData == 63, "header and data fill 63 of the 64 frame bytes");

inline constexpr uint8_t kMarker = 0x05;

// Reply.
inline constexpr size_t kReplyLead = 0;     // 1 byte, must be 0x00
inline constexpr size_t kReplyMarker = 1;   // 1 byte, must be kMarker
inline constexpr size_t kReplyStatus = 2;   // 2 bytes
inline constexpr size_t kReplyCommand = 4;  // 2 bytes, the command answered
inline constexpr size_t kReplyData = 18;    // 46 bytes: the information block for kCmdGetInfo
inline constexpr size_t kReplySize = 64;
static_assert(kReplyData + kMaxData == kReplySize, "the information block ends the reply");

inline constexpr uint16_t kStatusDone = 0;
inline constexpr uint16_t kStatusBusy = 16;

// Command codes.
inline constexpr uint16_t kCmdWriteValue = 2;  // stamps the version word
inline constexpr uint16_t kCmdWriteData = 3;
inline constexpr uint16_t kCmdErase = 4;
inline constexpr uint16_t kCmdReset = 7;
inline constexpr uint16_t kCmdGetInfo = 192;

inline constexpr uint32_t kAddressMain = 0;
inline constexpr uint32_t kAddressAtMcu = 0x80000000u;

inline constexpr uint32_t kEraseUnit = 0x8000;  // erase lengths round up to this

// Information block, 46 bytes.
inline constexpr size_t kInfoBlockSize = 46;
inline constexpr size_t kInfoPid = 0;         // 2 bytes
inline constexpr size_t kInfoVersion = 4;     // 4 bytes: version word
inline constexpr size_t kInfoBetaLow = 6;     // 1 byte: the beta number's low byte
inline constexpr size_t kInfoUid = 8;         // 3 x 4 bytes
inline constexpr size_t kInfoBootId = 20;     // 3 x 4 bytes
inline constexpr size_t kInfoBootIdAddr = 32; // 4 bytes
inline constexpr size_t kInfoAppIdAddr = 36;  // 4 bytes
inline constexpr size_t kInfoVerAddr = 40;    // 4 bytes
inline constexpr size_t kInfoRevision = 44;   // 2 bytes
static_assert(kInfoRevision + 2 == kInfoBlockSize, "revision ends the block");

}  // namespace tarvik::boot
