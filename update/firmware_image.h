// The firmware image format: a chain of records laid end to end, each a
// 28-byte header and `desLen` payload bytes. Knows nothing of the device.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/image_file.h"
#include "update/update_context.h"

namespace tarvik {

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
};

struct ImageScan {
  uint32_t payloadTotal = 0;  // 0: rejected
  uint64_t fileLength = 0;
  uint64_t recordCount = 0;  // headers read, the empty ones included
  std::string reason;        // why it was rejected
  bool Accepted() const { return payloadTotal != 0; }
};

// Walks the chain of the image at `path` with `file` (opened and closed here),
// handing each record header to `onRecord` as it is read; memory does not
// grow with the file. Accepted when the records tile the file exactly and
// carry some payload. Records are numbered from 1 in the reasons.
using ImageRecordVisitor = std::function<void(const ImageRecord&)>;
ImageScan ScanImageFile(CImageFile& file, const std::string& path,
                        const ImageRecordVisitor& onRecord = {});

// The scan, keeping at most `limit` records.
ImageScan ScanImageFile(CImageFile& file, const std::string& path, std::vector<ImageRecord>& records,
                        size_t limit = SIZE_MAX);

}  // namespace tarvik
