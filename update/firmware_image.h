// The firmware image format: a chain of records laid end to end, each a
// 28-byte header and `desLen` payload bytes. Knows nothing of the device.
#pragma once

#include <cstdint>
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
  std::vector<ImageRecord> records;
  std::string reason;  // why it was rejected
  bool Accepted() const { return payloadTotal != 0; }
};

// Walks the chain of the image at `path` with `file` (opened and closed here).
// Accepted when the records tile the file exactly and carry some payload.
ImageScan ScanImageFile(CImageFile& file, const std::string& path);

}  // namespace tarvik
