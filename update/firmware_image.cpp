#include "update/firmware_image.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "base/strformat.h"
#include "base/text_mark.h"
#include "update/image_file.h"
#include "update/packet_layout.h"

namespace tarvik {

namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

unsigned long long Ull(uint64_t value) { return static_cast<unsigned long long>(value); }

// The tiling walk: the records lie end to end from offset 0 and the last
// payload ends at the last byte. 64-bit sums, so that a huge desLen cannot
// wrap around and look like a fit.
bool WalkChain(const uint8_t* data, uint64_t size, ImageScan& scan, std::vector<ImageRecord>& records) {
  scan.fileLength = size;
  uint64_t position = 0;
  uint64_t sum = 0;
  while (size > 0 && sum < size) {
    if (size - position < kRecordHeaderSize) {
      scan.reason = StrFormat(N_("%llu bytes at offset %llu do not form a record header"), Ull(size - position),
                              Ull(position));
      return false;
    }
    ImageRecord record;
    record.offset = position;
    record.header = ParseRecordHeader(data + position);
    records.push_back(record);
    ++scan.recordCount;
    position += kRecordHeaderSize + uint64_t{record.header.desLen};
    sum += record.header.desLen;
    if (position >= size) break;
  }
  if (size == 0) {
    scan.reason = N_("the file is empty");
  } else if (position > size) {
    scan.reason = StrFormat(N_("record %llu runs past the end of the file"), Ull(scan.recordCount));
  } else if (sum >= size || sum == 0) {
    scan.reason = N_("the image carries no payload");
  } else if (sum > 0xFFFFFFFFull) {
    scan.reason = N_("the image's payload is too large");
  } else {
    scan.payloadTotal = static_cast<uint32_t>(sum);
    return true;
  }
  return false;
}

// Where each record's payload would land, record by record.
std::string CheckRecordContents(const std::vector<ImageRecord>& records) {
  struct Range {
    uint64_t start;
    uint64_t end;
    size_t number;
  };
  std::vector<Range> ranges[2];
  for (size_t i = 0; i < records.size(); ++i) {
    const ImageRecord& record = records[i];
    const size_t number = i + 1;
    const uint32_t desLen = record.header.desLen;
    if (record.EndsChain()) {
      if (desLen != 0) {
        return StrFormat(N_("record %zu has version 0, which ends the chain, but carries %u bytes that would never "
                            "be written"),
                         number, desLen);
      }
      if (number != records.size()) {
        return StrFormat(N_("record %zu follows the version-0 header of record %zu, which ends the chain: it would "
                            "never be written"),
                         number + 1, number);
      }
      continue;
    }
    const uint64_t start = record.Destination();
    const uint64_t end = start + desLen;
    const char* mcu = McuName(record.Mcu());
    if (end > kAddressSpace) {
      return StrFormat(N_("record %zu (%s, %u bytes at 0x%08X) runs past the end of the address space"), number, mcu,
                       desLen, record.header.desAddress);
    }
    if (record.Mcu() == ImageMcu::kMain && (start >= kAtMcuAddressBit || end > kAtMcuAddressBit)) {
      return StrFormat(N_("record %zu (main mcu, %u bytes at 0x%08X) reaches 0x80000000 and up, where addresses "
                          "select the ATmcu"),
                       number, desLen, record.header.desAddress);
    }
    if (desLen != 0) ranges[static_cast<int>(record.Mcu())].push_back({start, end, number});
  }
  for (int m = 0; m < 2; ++m) {
    std::vector<Range>& list = ranges[m];
    std::sort(list.begin(), list.end(), [](const Range& a, const Range& b) { return a.start < b.start; });
    for (size_t i = 1; i < list.size(); ++i) {
      if (list[i].start < list[i - 1].end) {
        const size_t first = std::min(list[i - 1].number, list[i].number);
        const size_t second = std::max(list[i - 1].number, list[i].number);
        return StrFormat("records %zu and %zu overlap on the %s from 0x%08llX", first, second,
                         McuName(static_cast<ImageMcu>(m)), Ull(list[i].start));
      }
    }
  }
  return {};
}

}  // namespace

RecordHeader ParseRecordHeader(const uint8_t* bytes) {
  RecordHeader header;
  header.version = GetLe32(bytes + 0);
  header.desAddress = GetLe32(bytes + 4);
  header.desLen = GetLe32(bytes + 8);
  header.pid = GetLe16(bytes + 12);
  return header;
}

std::string ImageRejection(const std::string& path, const std::string& problem) {
  return StrFormat(N_("%s is not a valid image: %s"), path.c_str(), problem.c_str());
}

const char* McuName(ImageMcu mcu) { return mcu == ImageMcu::kMain ? N_("main mcu") : "ATmcu"; }

ImageScan CheckImageBytes(const uint8_t* data, uint64_t size, std::vector<ImageRecord>* records) {
  ImageScan scan;
  std::vector<ImageRecord> walked;
  if (WalkChain(data, size, scan, walked)) {
    scan.reason = CheckRecordContents(walked);
    if (!scan.reason.empty()) scan.payloadTotal = 0;
  }
  if (records) *records = std::move(walked);
  return scan;
}

std::vector<size_t> RecordsWrittenBy(UpdateProtocol protocol, const std::vector<ImageRecord>& records) {
  std::vector<size_t> written;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].EndsChain()) break;
    written.push_back(i);
    // The controller announces one record and asks for its data alone.
    if (protocol == UpdateProtocol::kPacket) break;
  }
  return written;
}

namespace {

// What follows record 1, read as a chain of records: whether it runs to the
// file's last byte, and its first record with payload.
struct RestOfChain {
  bool tiles = false;
  size_t withPayload = 0;  // its number in the image, 0: none
  ImageRecord dropped;
};

RestOfChain WalkRest(const uint8_t* data, uint64_t size, uint64_t from) {
  RestOfChain rest;
  uint64_t position = from;
  for (size_t number = 2; position < size; ++number) {
    if (size - position < kRecordHeaderSize) return rest;
    const RecordHeader header = ParseRecordHeader(data + position);
    if (header.desLen != 0 && rest.withPayload == 0) {
      rest.withPayload = number;
      rest.dropped.offset = position;
      rest.dropped.header = header;
    }
    position += kRecordHeaderSize + uint64_t{header.desLen};
  }
  rest.tiles = position == size;
  return rest;
}

ProtocolTake TakeForPacket(const uint8_t* data, uint64_t size, const ImageScan& scan) {
  ProtocolTake take;
  const uint32_t desLen = size >= kRecordHeaderSize ? GetLe32(data + 8) : 0;
  const uint64_t recordEnd = kRecordHeaderSize + uint64_t{desLen};
  // Record 1 must lie whole in the file: the walk of the chain says why not.
  if (size < kRecordHeaderSize || recordEnd > size) {
    take.refusal = scan.reason;
    return take;
  }
  const RestOfChain rest = WalkRest(data, size, recordEnd);
  if (rest.tiles && rest.withPayload != 0) {
    // Records the controller would never be sent.
    if (!scan.Accepted()) {
      take.refusal = scan.reason;
    } else {
      take.refusal = StrFormat(N_("a controller in report mode 1 or 2 takes only the first record, and record %zu "
                                  "(%s, %u bytes) would be dropped"),
                               rest.withPayload, McuName(rest.dropped.Mcu()), rest.dropped.header.desLen);
    }
    return take;
  }
  if (desLen == 0) {
    take.refusal = rest.tiles ? scan.reason
                              : N_("a controller in report mode 1 or 2 takes only the first record, which carries "
                                   "no payload");
    return take;
  }
  ImageRecord first;
  first.header = ParseRecordHeader(data);
  take.refusal = CheckRecordContents({first});
  if (!take.Taken()) return take;
  const uint64_t after = size - recordEnd;
  const bool terminator = after == kRecordHeaderSize && GetLe32(data + recordEnd) == 0 &&
                          GetLe32(data + recordEnd + 8) == 0;
  if (after == 0 || terminator) return take;
  // The first data packet goes out without a completion test, so at least two
  // do; then whole packets until desLen is reached.
  constexpr uint64_t kPiece = packet::kDataPayload;
  const uint64_t read = std::max<uint64_t>(2 * kPiece, (uint64_t{desLen} + kPiece - 1) / kPiece * kPiece);
  take.trailingBytes = after;
  take.trailingSent = std::min(after, read - desLen);
  return take;
}

}  // namespace

ProtocolTake CheckImageForProtocol(UpdateProtocol protocol, const uint8_t* data, uint64_t size) {
  const ImageScan scan = CheckImageBytes(data, size);
  if (protocol == UpdateProtocol::kPacket) return TakeForPacket(data, size, scan);
  ProtocolTake take;
  take.refusal = scan.reason;
  return take;
}

FirmwareImage FirmwareImage::Load(const std::string& path) {
  FirmwareImage image;
  image.m_path = path;
  CImageFile file;
  if (!file.Open(path)) {
    image.Refuse(StrFormat(N_("cannot open %s: %s"), path.c_str(), file.LastError().c_str()));
    return image;
  }
  const uint64_t length = file.Length();
  if (length > kMaxImageBytes) {
    image.m_scan.fileLength = length;
    image.Refuse(StrFormat(N_("%s holds %llu bytes, more than the %llu MiB an image can have"), path.c_str(),
                           Ull(length), Ull(kMaxImageBytes >> 20)));
    return image;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  // One read, and no more than was measured: a file that grows meanwhile is
  // taken as it was.
  const size_t got = bytes.empty() ? 0 : file.Read(bytes.data(), bytes.size());
  file.Close();
  bytes.resize(got);
  return FromBytes(std::move(bytes), path);
}

FirmwareImage FirmwareImage::FromBytes(std::vector<uint8_t> bytes, std::string path) {
  FirmwareImage image;
  image.m_path = std::move(path);
  image.m_bytes = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
  image.m_readable = true;
  const std::vector<uint8_t>& kept = *image.m_bytes;
  if (!kept.empty()) std::memcpy(image.m_firstHeader, kept.data(), std::min(kept.size(), kRecordHeaderSize));
  image.m_scan = CheckImageBytes(kept.data(), kept.size(), &image.m_records);
  image.m_boot.refusal = image.m_scan.reason;
  image.m_packet = TakeForPacket(kept.data(), kept.size(), image.m_scan);
  return image;
}

const std::vector<uint8_t>& FirmwareImage::Bytes() const {
  static const std::vector<uint8_t> kNone;
  return m_bytes ? *m_bytes : kNone;
}

void FirmwareImage::Refuse(const std::string& reason) {
  m_scan.reason = reason;
  m_boot.refusal = reason;
  m_packet.refusal = reason;
}

uint32_t FirmwareImage::PayloadTotal() const {
  if (m_boot.Taken()) return m_scan.payloadTotal;
  return m_packet.Taken() ? m_records.front().header.desLen : 0;
}

bool FirmwareImage::VersionFor(UpdateProtocol protocol, ImageMcu mcu, uint32_t& version) const {
  bool found = false;
  if (!TakeBy(protocol).Taken()) return false;
  for (const size_t i : RecordsWrittenBy(protocol, m_records)) {
    // Each record stamps its own version: the last one written counts.
    if (protocol == UpdateProtocol::kPacket || m_records[i].Mcu() == mcu) {
      version = m_records[i].header.version;
      found = true;
    }
  }
  return found;
}

}  // namespace tarvik
