// Reading the packet frame inside an output report, for tests that look at
// what the host sent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/packet_layout.h"

namespace tarvik::test {

// The frame bytes of an output report: after the report ID and the count byte.
inline const uint8_t* FrameOfReport(const uint8_t* report) { return report + 1 + packet::kReportFrame; }

// True when the report carries a firmware packet with `command` (any command when negative).
inline bool IsFirmwarePacket(const uint8_t* report, size_t size, int command = -1) {
  if (size < 1 + packet::kReportFrame + packet::kShortFrameSize) return false;
  const uint8_t* frame = FrameOfReport(report);
  return packet::IsPacketFrame(frame) && packet::FrameType(frame) == packet::kTypeFirmware &&
         (command < 0 || packet::BodyCommand(packet::FrameBody(frame)) == command);
}

}  // namespace tarvik::test
