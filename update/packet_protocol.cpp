#include "update/packet_protocol.h"

#include <cstdint>

#include "device/chid.h"

namespace tarvik {

bool ReopenAndSignal(CHid& hid) {
  if (hid.CurrentReportMode() != 2) return false;
  if (!hid.OpenHid()) return false;
  // Count byte 5, then the short frame 00 50 01 00 00; the rest of the report is zero.
  const uint8_t signal[4] = {0x05, 0x00, 0x50, 0x01};
  return hid.WriteHid(signal, sizeof signal) != 0;
}

}  // namespace tarvik
