// Frames of the firmware packet protocol, carried in HID reports as a count
// byte followed by that many frame bytes.
#pragma once

#include <cstdint>

namespace tarvik {

class CHid;
class CDiag;

namespace packet {
inline constexpr uint8_t kTypeFirmware = 0x16;
inline constexpr uint8_t kTypeStartAnswer = 0x19;
inline constexpr uint8_t kTypeStartRequest = 0x1A;
inline constexpr uint8_t kTypeReceiveFailure = 0x1D;
inline constexpr uint8_t kTypeMode2Signal = 0x50;

inline constexpr uint8_t kCmdData = 0x00;
inline constexpr uint8_t kCmdHeader = 0x01;
inline constexpr uint8_t kCmdEnd = 0x02;
inline constexpr uint8_t kCmdVersion = 0x04;
inline constexpr uint8_t kCmdDataRequest = 0x14;
inline constexpr uint8_t kCmdFailure1 = 0x15;
inline constexpr uint8_t kCmdFailure2 = 0x18;

inline constexpr int kMaxPiece = 39;  // frame bytes of one data-packet report
inline constexpr int kHeaderPayload = 28;
inline constexpr int kDataPayload = 32;
}  // namespace packet

// Builds a firmware packet and writes it: one report for commands other than
// data (result: the write's), pieces of at most 39 frame bytes for data.
int SendFirmwarePacket(CHid& hid, CDiag& diag, uint8_t command, const uint8_t* payload, int length);

// The short frame 00 type 01 00 value in one report; the write's result.
int SendShortFrame(CHid& hid, uint8_t type, uint8_t value);

// Report mode 2 only: reopens the device and writes the mode-2 signal. True
// when the mode is 2 and both the reopen and the write succeeded.
bool ReopenAndSignal(CHid& hid);

}  // namespace tarvik
