#include "update/firmware_image.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "update/image_file.h"
#include "update/packet_layout.h"

namespace tarvik {

namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

// The tiling walk: the records lie end to end from offset 0 and the last
// payload ends at the last byte. 64-bit sums, so that a huge desLen cannot
// wrap around and look like a fit.
bool WalkChain(const uint8_t* data, uint64_t size, ImageScan& scan, std::vector<ImageRecord>& records) {
  scan.fileLength = size;
  uint64_t position = 0;
  uint64_t sum = 0;
  while (size > 0 && sum < size) {
    if (size - position < kRecordHeaderSize) {
      scan.reason = Reason(ReasonCode::kHeaderIncomplete);
      scan.reason.bytes = size - position;
      scan.reason.offset = position;
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
    scan.reason = Reason(ReasonCode::kImageEmpty);
  } else if (position > size) {
    scan.reason = Reason(ReasonCode::kRecordPastEnd);
    scan.reason.record = static_cast<int>(scan.recordCount);
  } else if (sum >= size || sum == 0) {
    scan.reason = Reason(ReasonCode::kNoPayload);
  } else if (sum > 0xFFFFFFFFull) {
    scan.reason = Reason(ReasonCode::kPayloadTooLarge);
  } else {
    scan.payloadTotal = static_cast<uint32_t>(sum);
    return true;
  }
  return false;
}

// Where each record's payload would land, record by record.
Reason CheckRecordContents(const std::vector<ImageRecord>& records) {
  struct Range {
    uint64_t start;
    uint64_t end;
    int number;
  };
  std::vector<Range> ranges[2];
  for (size_t i = 0; i < records.size(); ++i) {
    const ImageRecord& record = records[i];
    const int number = static_cast<int>(i + 1);
    const uint32_t desLen = record.header.desLen;
    Reason reason;
    reason.record = number;
    reason.bytes = desLen;
    reason.address = record.header.desAddress;
    reason.mcu = record.Mcu();
    if (record.EndsChain()) {
      if (desLen != 0) {
        reason.code = ReasonCode::kTerminatorCarriesPayload;
        return reason;
      }
      if (i + 1 != records.size()) {
        reason.code = ReasonCode::kRecordAfterTerminator;
        reason.record = number + 1;
        reason.otherRecord = number;
        return reason;
      }
      continue;
    }
    const uint64_t start = record.Destination();
    const uint64_t end = start + desLen;
    if (end > kAddressSpace) {
      reason.code = ReasonCode::kRecordPastAddressSpace;
      return reason;
    }
    if (record.Mcu() == ImageMcu::kMain && (start >= kAtMcuAddressBit || end > kAtMcuAddressBit)) {
      reason.code = ReasonCode::kMainRecordOnAtMcu;
      return reason;
    }
    if (desLen != 0) ranges[static_cast<int>(record.Mcu())].push_back({start, end, number});
  }
  for (int m = 0; m < 2; ++m) {
    std::vector<Range>& list = ranges[m];
    std::sort(list.begin(), list.end(), [](const Range& a, const Range& b) { return a.start < b.start; });
    for (size_t i = 1; i < list.size(); ++i) {
      if (list[i].start < list[i - 1].end) {
        Reason overlap(ReasonCode::kRecordsOverlap);
        overlap.record = std::min(list[i - 1].number, list[i].number);
        overlap.otherRecord = std::max(list[i - 1].number, list[i].number);
        overlap.mcu = static_cast<ImageMcu>(m);
        overlap.address = static_cast<uint32_t>(list[i].start);
        return overlap;
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

ImageScan CheckImageBytes(const uint8_t* data, uint64_t size, std::vector<ImageRecord>* records) {
  ImageScan scan;
  std::vector<ImageRecord> walked;
  if (WalkChain(data, size, scan, walked)) {
    scan.reason = CheckRecordContents(walked);
    if (!scan.reason.Empty()) scan.payloadTotal = 0;
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
  int withPayload = 0;  // its number in the image, 0: none
  ImageRecord dropped;
};

RestOfChain WalkRest(const uint8_t* data, uint64_t size, uint64_t from) {
  RestOfChain rest;
  uint64_t position = from;
  for (int number = 2; position < size; ++number) {
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
      take.refusal = Reason(ReasonCode::kPacketDropsRecord).Mcu(rest.dropped.Mcu());
      take.refusal.record = rest.withPayload;
      take.refusal.bytes = rest.dropped.header.desLen;
    }
    return take;
  }
  if (desLen == 0) {
    take.refusal = rest.tiles ? scan.reason : Reason(ReasonCode::kPacketRecordEmpty);
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

FirmwareImage FirmwareImage::Load(const std::string& path) {
  FirmwareImage image;
  image.m_path = path;
  CImageFile file;
  if (!file.Open(path)) {
    image.Refuse(Reason(file.LastError()).Path(path));
    return image;
  }
  const uint64_t length = file.Length();
  if (length > kMaxImageBytes) {
    image.m_scan.fileLength = length;
    Reason tooLarge(ReasonCode::kImageTooLarge);
    tooLarge.bytes = length;
    tooLarge.total = kMaxImageBytes;
    image.Refuse(tooLarge.Path(path));
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
  // A refusal names the file it is about.
  if (!image.m_scan.reason.Empty()) image.m_scan.reason.path = image.m_path;
  image.m_boot.refusal = image.m_scan.reason;
  image.m_packet = TakeForPacket(kept.data(), kept.size(), image.m_scan);
  if (!image.m_packet.refusal.Empty()) image.m_packet.refusal.path = image.m_path;
  return image;
}

const std::vector<uint8_t>& FirmwareImage::Bytes() const {
  static const std::vector<uint8_t> kNone;
  return m_bytes ? *m_bytes : kNone;
}

void FirmwareImage::Refuse(const Reason& reason) {
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
