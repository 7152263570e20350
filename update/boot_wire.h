// The boot command protocol's information block and reply as structures, for
// everyone who reads or writes them: the command channel and the information
// query, the command-line program, and the simulated controller. Offsets and
// codes are those of update/boot_protocol.h; all fields little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "update/boot_protocol.h"

namespace tarvik::boot {

// One microcontroller's 46-byte information block. Every byte belongs to one
// field, so Parse and Serialize are exact inverses.
struct InfoBlock {
  uint16_t pid = 0;
  uint16_t unused = 0;   // bytes 2 and 3, which no host interprets
  uint32_t version = 0;  // low 16 bits: version * 100; high 16 bits: beta number
  std::array<uint32_t, 3> uid{};
  std::array<uint32_t, 3> bootId{};
  uint32_t bootIdAddr = 0;
  uint32_t appIdAddr = 0;
  uint32_t verAddr = 0;  // where the firmware's version word is stamped
  uint16_t revision = 0;

  static InfoBlock Parse(const uint8_t* bytes) {
    InfoBlock block;
    block.pid = GetLe16(bytes + kInfoPid);
    block.unused = GetLe16(bytes + kInfoPid + 2);
    block.version = GetLe32(bytes + kInfoVersion);
    for (size_t i = 0; i < 3; ++i) {
      block.uid[i] = GetLe32(bytes + kInfoUid + 4 * i);
      block.bootId[i] = GetLe32(bytes + kInfoBootId + 4 * i);
    }
    block.bootIdAddr = GetLe32(bytes + kInfoBootIdAddr);
    block.appIdAddr = GetLe32(bytes + kInfoAppIdAddr);
    block.verAddr = GetLe32(bytes + kInfoVerAddr);
    block.revision = GetLe16(bytes + kInfoRevision);
    return block;
  }

  // Writes all kInfoBlockSize bytes.
  void Serialize(uint8_t* out) const {
    PutLe16(out + kInfoPid, pid);
    PutLe16(out + kInfoPid + 2, unused);
    PutLe32(out + kInfoVersion, version);
    for (size_t i = 0; i < 3; ++i) {
      PutLe32(out + kInfoUid + 4 * i, uid[i]);
      PutLe32(out + kInfoBootId + 4 * i, bootId[i]);
    }
    PutLe32(out + kInfoBootIdAddr, bootIdAddr);
    PutLe32(out + kInfoAppIdAddr, appIdAddr);
    PutLe32(out + kInfoVerAddr, verAddr);
    PutLe16(out + kInfoRevision, revision);
  }

  // Byte 6: the beta number's low byte, as the step log shows it.
  uint8_t BetaLow() const { return static_cast<uint8_t>(version >> 16); }

  // Every one of the 46 bytes 0xFF, as an unprogrammed microcontroller answers.
  bool Erased() const {
    bool all = pid == 0xFFFF && unused == 0xFFFF && version == 0xFFFFFFFFu && bootIdAddr == 0xFFFFFFFFu &&
               appIdAddr == 0xFFFFFFFFu && verAddr == 0xFFFFFFFFu && revision == 0xFFFF;
    for (size_t i = 0; i < 3; ++i) all = all && uid[i] == 0xFFFFFFFFu && bootId[i] == 0xFFFFFFFFu;
    return all;
  }

  bool operator==(const InfoBlock&) const = default;
};

// A 64-byte reply as the controller sends it (after the report ID).
struct BootReply {
  static constexpr size_t kUnusedSize = kReplyData - (kReplyCommand + 2);  // bytes 6 to 17

  uint8_t lead = 0x00;
  uint8_t marker = kMarker;
  uint16_t status = kStatusDone;
  uint16_t echo = 0;  // the command the reply answers
  std::array<uint8_t, kUnusedSize> unused{};
  std::array<uint8_t, kInfoBlockSize> data{};  // the information block for kCmdGetInfo

  static BootReply Parse(const uint8_t* bytes) {
    BootReply reply;
    reply.lead = bytes[kReplyLead];
    reply.marker = bytes[kReplyMarker];
    reply.status = GetLe16(bytes + kReplyStatus);
    reply.echo = GetLe16(bytes + kReplyCommand);
    for (size_t i = 0; i < kUnusedSize; ++i) reply.unused[i] = bytes[kReplyCommand + 2 + i];
    for (size_t i = 0; i < kInfoBlockSize; ++i) reply.data[i] = bytes[kReplyData + i];
    return reply;
  }

  // Writes all kReplySize bytes.
  void Serialize(uint8_t* out) const {
    out[kReplyLead] = lead;
    out[kReplyMarker] = marker;
    PutLe16(out + kReplyStatus, status);
    PutLe16(out + kReplyCommand, echo);
    for (size_t i = 0; i < kUnusedSize; ++i) out[kReplyCommand + 2 + i] = unused[i];
    for (size_t i = 0; i < kInfoBlockSize; ++i) out[kReplyData + i] = data[i];
  }

  // Done with `command`: lead byte 0, the marker, status 0 and the command's echo.
  bool Acknowledges(uint16_t command) const { return WellFormed() && status == kStatusDone && echo == command; }
  // Still working on `command` (an erase that has not finished).
  bool Busy(uint16_t command) const { return WellFormed() && status == kStatusBusy && echo == command; }

  InfoBlock Info() const { return InfoBlock::Parse(data.data()); }

  bool operator==(const BootReply&) const = default;

 private:
  bool WellFormed() const { return lead == 0x00 && marker == kMarker; }
};

}  // namespace tarvik::boot
