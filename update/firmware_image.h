// The firmware image format: a chain of records laid end to end, each a
// 28-byte header and `desLen` payload bytes. Knows nothing of the device.
//
// An image is read whole once and checked before anything reaches a
// controller; the update then writes from that snapshot, so a file changed
// on disk afterwards changes nothing on the controller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "update/boot_protocol.h"
#include "update/update_result.h"

namespace tarvik {

// Images for these controllers are a few hundred KiB; anything this large is
// not one of them.
inline constexpr size_t kRecordHeaderSize = 28;
inline constexpr uint64_t kMaxImageBytes = uint64_t{64} << 20;
// Bit 31 of a destination address selects the ATmcu.
inline constexpr uint32_t kAtMcuAddressBit = boot::kAddressAtMcu;

// The address select of a microcontroller: 0 for the main mcu, the ATmcu
// bit for the ATmcu. The one place an address gets it.
constexpr uint32_t AddressSelectOf(ImageMcu mcu) { return mcu == ImageMcu::kAtMcu ? kAtMcuAddressBit : 0; }

struct RecordHeader {
  uint32_t version = 0;
  uint32_t desAddress = 0;
  uint32_t desLen = 0;
  uint16_t pid = 0;  // non-zero: main microcontroller; zero: ATmcu
};

RecordHeader ParseRecordHeader(const uint8_t* bytes);  // 28 bytes


struct ImageRecord {
  uint64_t offset = 0;  // of the header
  RecordHeader header;

  ImageMcu Mcu() const { return header.pid != 0 ? ImageMcu::kMain : ImageMcu::kAtMcu; }
  // Where the payload goes as the controller is told: an ATmcu record's
  // address carries the ATmcu bit.
  uint32_t Destination() const { return header.desAddress | AddressSelectOf(Mcu()); }
  uint64_t PayloadOffset() const { return offset + kRecordHeaderSize; }
  // A version-0 header ends the chain.
  bool EndsChain() const { return header.version == 0; }
};

struct ImageScan {
  uint32_t payloadTotal = 0;  // 0: rejected
  uint64_t fileLength = 0;
  uint64_t recordCount = 0;  // headers read, the empty ones included
  Reason reason;             // why it was rejected
  bool Accepted() const { return payloadTotal != 0; }
};

// The one check of an image's bytes, before anything is written. Accepted
// when the records tile the bytes exactly, carry some payload, and every
// record with payload would be written where its header says: no payload in
// a version-0 record and nothing after one (an empty version-0 header at the
// end is the chain's terminator), no main-mcu record reaching the ATmcu's
// bit 31, no record running past 2^32, no two records of one microcontroller
// overlapping. Records are numbered from 1 in the reasons. `records`, when
// given, gets every header of the chain in file order.
ImageScan CheckImageBytes(const uint8_t* data, uint64_t size, std::vector<ImageRecord>* records = nullptr);

// The records `protocol` writes of a checked image: the boot command protocol
// every record up to the terminator, the packet protocol the first record only.
std::vector<size_t> RecordsWrittenBy(UpdateProtocol protocol, const std::vector<ImageRecord>& records);

// How one protocol takes an image's bytes.
struct ProtocolTake {
  Reason refusal;  // empty: the protocol writes the image
  // Bytes after record 1 that the packet protocol does not take as records.
  uint64_t trailingBytes = 0;
  // How many of them go out in the last data packet.
  uint64_t trailingSent = 0;
  bool Taken() const { return refusal.Empty(); }
};

// The one rule of each protocol, which FirmwareImage::TakeBy gives.
// The boot command protocol takes an image whose records tile the file
// exactly and pass every check of CheckImageBytes.
// The packet protocol takes the first record alone. That record must carry
// payload, fit the file and pass the same checks. What follows it may be
// nothing, or an empty version-0 header. It may not be further records with
// payload that tile the rest of the file: those would be dropped. Anything
// else is trailing bytes. Data packets read the file 32 bytes at a time from
// offset 28 and never stop at desLen, so the last one carries the first of
// them. The controller keeps desLen bytes.
//
// An image read whole from a file and checked. Copies share the bytes, so
// handing an image on costs nothing whatever its size.
class FirmwareImage {
 public:
  FirmwareImage() = default;

  // Reads `path` whole (refusing more than kMaxImageBytes) and checks it.
  // Unreadable: Readable() is false and Scan().reason says why.
  static FirmwareImage Load(const std::string& path);
  static FirmwareImage FromBytes(std::vector<uint8_t> bytes, std::string path);

  bool Readable() const { return m_readable; }
  // Whether either protocol writes it.
  bool Accepted() const { return m_boot.Taken() || m_packet.Taken(); }
  // The tiling check of the whole file, which the boot command protocol applies.
  const ImageScan& Scan() const { return m_scan; }
  const std::string& Path() const { return m_path; }
  const std::vector<ImageRecord>& Records() const { return m_records; }
  const std::vector<uint8_t>& Bytes() const;
  // The first 28 bytes, zero where the file is shorter.
  const uint8_t* FirstHeader() const { return m_firstHeader; }
  // Empty when `protocol` writes the image, else why it would not.
  const Reason& CheckFor(UpdateProtocol protocol) const { return TakeBy(protocol).refusal; }
  const ProtocolTake& TakeBy(UpdateProtocol protocol) const {
    return protocol == UpdateProtocol::kPacket ? m_packet : m_boot;
  }
  // The payload the protocols write: every record's for the boot command
  // protocol, else the first record's; 0 when neither writes the image.
  uint32_t PayloadTotal() const;
  // The version word a microcontroller gets from the records `protocol` writes; false when none.
  bool VersionFor(UpdateProtocol protocol, ImageMcu mcu, uint32_t& version) const;

 private:
  // An image that could not be read: no protocol takes it.
  void Refuse(const Reason& reason);

  std::string m_path;
  std::shared_ptr<const std::vector<uint8_t>> m_bytes;
  std::vector<ImageRecord> m_records;
  ImageScan m_scan;
  ProtocolTake m_boot{Reason(ReasonCode::kNoImage)};
  ProtocolTake m_packet{Reason(ReasonCode::kNoImage)};
  uint8_t m_firstHeader[kRecordHeaderSize] = {};
  bool m_readable = false;
};

}  // namespace tarvik
