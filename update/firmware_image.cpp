#include "update/firmware_image.h"

#include "base/bytes.h"
#include "base/strformat.h"

namespace tarvik {

RecordHeader ParseRecordHeader(const uint8_t* bytes) {
  RecordHeader header;
  header.version = GetLe32(bytes + 0);
  header.desAddress = GetLe32(bytes + 4);
  header.desLen = GetLe32(bytes + 8);
  header.pid = GetLe16(bytes + 12);
  return header;
}

ImageScan ScanImageFile(CImageFile& file, const std::string& path,
                        const ImageRecordVisitor& onRecord) {
  ImageScan scan;
  if (!file.Open(path)) {
    scan.reason = "cannot open " + path + ": " + file.LastError();
    return scan;
  }
  const uint64_t length = file.Length();
  scan.fileLength = length;
  // 64-bit sums: a huge desLen must not wrap around and look like a fit.
  uint64_t position = 0;
  uint64_t sum = 0;
  if (length > 0) {
    do {
      if (sum >= length) break;
      uint8_t bytes[kRecordHeaderSize];
      if (!file.Seek(position) || file.Read(bytes, sizeof bytes) < sizeof bytes) {
        file.Close();
        scan.reason = StrFormat("%llu bytes at offset %llu do not form a record header",
                                static_cast<unsigned long long>(length - position),
                                static_cast<unsigned long long>(position));
        return scan;
      }
      ImageRecord record;
      record.offset = position;
      record.header = ParseRecordHeader(bytes);
      ++scan.recordCount;
      if (onRecord) onRecord(record);
      position += kRecordHeaderSize + uint64_t{record.header.desLen};
      sum += record.header.desLen;
    } while (position < length);
  }
  file.Close();
  if (length == 0) {
    scan.reason = "the file is empty";
  } else if (position > length) {
    scan.reason = StrFormat("record %llu runs past the end of the file",
                            static_cast<unsigned long long>(scan.recordCount));
  } else if (sum >= length || sum == 0) {
    scan.reason = "the image carries no payload";
  } else if (sum > 0xFFFFFFFFull) {
    scan.reason = "the image's payload is too large";
  } else {
    scan.payloadTotal = static_cast<uint32_t>(sum);
  }
  return scan;
}

ImageScan ScanImageFile(CImageFile& file, const std::string& path, std::vector<ImageRecord>& records,
                        size_t limit) {
  return ScanImageFile(file, path, [&](const ImageRecord& record) {
    if (records.size() < limit) records.push_back(record);
  });
}

}  // namespace tarvik
