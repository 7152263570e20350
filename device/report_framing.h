// HID report framing by report mode: the report's first byte (report ID) and
// its size. Payloads never contain the first byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvik {

inline constexpr size_t kOutputReportBufferSize = 65;
inline constexpr size_t kReadBufferSize = 128;
inline constexpr size_t kMaxPayload = 64;

// The report mode of a device-table row; the value is the row's mode number.
enum class ReportMode : uint8_t {
  kNone = 0,        // no supported controller matched
  kPacketNumbered = 1,  // packet protocol, 64-byte reports numbered 0x81
  kPacket = 2,      // packet protocol, 65-byte reports
  kBootCommand = 3  // boot command protocol, 65-byte reports
};

struct ReportFraming {
  uint8_t firstByte;
  size_t outputSize;  // 0: the caller's length decides
  size_t inputSize;
};

inline constexpr ReportFraming FramingForMode(ReportMode mode) {
  switch (mode) {
    case ReportMode::kPacketNumbered:
      return {0x81, 64, 64};
    case ReportMode::kPacket:
    case ReportMode::kBootCommand:
      return {0x00, 65, 65};
    case ReportMode::kNone:
      // Only while no supported controller matched; reads take a full-size report.
      return {0x03, 0, 65};
  }
  return {0x03, 0, 65};
}

}  // namespace tarvik
