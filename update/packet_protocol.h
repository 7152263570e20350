// Sending the firmware packet protocol's frames, carried in HID reports as a
// count byte followed by that many frame bytes (update/packet_layout.h).
#pragma once

#include <cstdint>

#include "update/packet_layout.h"

namespace tarvik {

class CHid;
class CDiag;
struct RecordHeader;

// Builds a firmware packet and writes it: one report for commands other than
// data (result: the write's), pieces of at most 39 frame bytes for data
// (result: 1 when every piece was written, else 0). A payload of more than
// kMaxFirmwarePayload bytes is not sent (result 0).
inline constexpr int kMaxFirmwarePayload = 256;
int SendFirmwarePacket(CHid& hid, CDiag& diag, uint8_t command, const uint8_t* payload, int length);

// The short frame 00 type 01 00 value in one report; the write's result.
int SendShortFrame(CHid& hid, uint8_t type, uint8_t value);

// Report mode 2 only: reopens the device and writes the mode-2 signal. True
// when the mode is 2 and both the reopen and the write succeeded.
bool ReopenAndSignal(CHid& hid);

// The header packet: version, address and length of the record as in its
// header; the rest of the 28 bytes is zero.
int SendHeaderPacket(CHid& hid, CDiag& diag, const RecordHeader& record);

}  // namespace tarvik
