// The image scan on arbitrary file bytes. An accepted image's records tile the
// file exactly from offset 0 and its payload total is the sum of their
// desLen; a rejected one carries a reason. Either way the answer is the one a
// plain walk of the chain gives.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "fuzz/fuzz_support.h"
#include "update/firmware_image.h"

using namespace tarvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("tarvik-image", 0);
  fuzz::Check(fd >= 0, "memfd_create");
  fuzz::Check(ftruncate(fd, 0) == 0, "ftruncate");
  fuzz::Check(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size), "pwrite");
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  CImageFile file;
  std::vector<ImageRecord> records;
  const ImageScan scan = ScanImageFile(file, path, records);
  fuzz::Check(!file.IsOpen(), "the scan leaves the file open");
  fuzz::Check(scan.fileLength == size, "file length");

  // The chain as it lies in the bytes.
  uint64_t position = 0;
  uint64_t sum = 0;
  size_t headers = 0;
  bool truncatedHeader = false;
  while (position < size) {
    if (size - position < kRecordHeaderSize) {
      truncatedHeader = true;
      break;
    }
    const uint32_t desLen = GetLe32(data + position + 8);
    position += kRecordHeaderSize + uint64_t{desLen};
    sum += desLen;
    ++headers;
  }
  const bool tiles = size > 0 && !truncatedHeader && position == size;
  const bool expectAccepted = tiles && sum > 0 && sum <= 0xFFFFFFFFull;

  fuzz::Check(scan.Accepted() == expectAccepted, "acceptance differs from a walk of the chain");
  if (!scan.Accepted()) {
    fuzz::Check(!scan.reason.empty(), "a rejected image has no reason");
    return 0;
  }
  fuzz::Check(records.size() == headers && scan.recordCount == headers, "record count");
  uint64_t expectedOffset = 0;
  uint64_t total = 0;
  for (const ImageRecord& record : records) {
    fuzz::Check(record.offset == expectedOffset, "records do not follow each other");
    fuzz::Check(record.offset + kRecordHeaderSize <= size, "a header past the end");
    const RecordHeader parsed = ParseRecordHeader(data + record.offset);
    fuzz::Check(parsed.desLen == record.header.desLen && parsed.version == record.header.version &&
                    parsed.desAddress == record.header.desAddress && parsed.pid == record.header.pid,
                "a header differs from its bytes");
    expectedOffset += kRecordHeaderSize + uint64_t{record.header.desLen};
    total += record.header.desLen;
  }
  fuzz::Check(expectedOffset == size, "an accepted image's records do not end at its end");
  fuzz::Check(total == scan.payloadTotal, "payload total is not the sum of desLen");
  return 0;
}
