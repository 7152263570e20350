// The image check on arbitrary bytes. An accepted image's records tile the
// bytes exactly from offset 0, its payload total is the sum of their desLen,
// and every record with payload is written where its header says; a rejected
// one carries a reason. The answer is checked against a plain walk of the
// chain and a pairwise look at the records, written apart from the check.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "texts/reason_texts.h"
#include "base/bytes.h"
#include "fuzz/fuzz_support.h"
#include "update/firmware_image.h"

using namespace tarvik;

namespace {

struct Walked {
  uint64_t offset;
  uint32_t version;
  uint32_t desAddress;
  uint32_t desLen;
  bool main;
};

// Whether every record would land where its header says.
bool WrittenAsChecked(const std::vector<Walked>& records) {
  for (size_t i = 0; i < records.size(); ++i) {
    const Walked& r = records[i];
    if (r.version == 0) {
      if (r.desLen != 0 || i + 1 != records.size()) return false;
      continue;
    }
    const uint64_t start = r.main ? r.desAddress : (r.desAddress | 0x80000000u);
    const uint64_t end = start + r.desLen;
    if (end > (uint64_t{1} << 32)) return false;
    if (r.main && end > 0x80000000u) return false;
    if (r.main && start >= 0x80000000u) return false;
    for (size_t j = 0; j < i; ++j) {
      const Walked& o = records[j];
      if (o.main != r.main || o.version == 0 || o.desLen == 0 || r.desLen == 0) continue;
      const uint64_t oStart = o.main ? o.desAddress : (o.desAddress | 0x80000000u);
      if (start < oStart + o.desLen && oStart < end) return false;
    }
  }
  return true;
}

// The packet protocol sends record 1 alone: it takes the image when record 1
// has payload, lies in the file and is written as checked, and no record
// with payload follows it in a chain that fills the file. Whatever else
// follows is trailing bytes; the last data packet carries the first of them.
void CheckPacketTake(const uint8_t* data, size_t size, const std::vector<Walked>& walked, bool tiles) {
  const FirmwareImage image = FirmwareImage::FromBytes(std::vector<uint8_t>(data, data + size), "");
  const ProtocolTake& take = image.TakeBy(UpdateProtocol::kPacket);
  fuzz::Check(take.Taken() || !EnglishReasonText(take.refusal).empty(), "a refusal without a reason");
  const bool firstFits = !walked.empty() && kRecordHeaderSize + uint64_t{walked[0].desLen} <= size;
  bool laterPayload = false;
  for (size_t i = 1; i < walked.size(); ++i) laterPayload = laterPayload || walked[i].desLen != 0;
  const bool expectTaken = firstFits && walked[0].desLen != 0 &&
                           WrittenAsChecked(std::vector<Walked>{walked[0]}) && !(tiles && laterPayload);
  fuzz::Check(take.Taken() == expectTaken, "the packet protocol's take differs from a look at record 1");
  if (!take.Taken()) return;
  const uint64_t after = size - kRecordHeaderSize - walked[0].desLen;
  const bool terminator = after == kRecordHeaderSize && walked.size() == 2 && walked[1].version == 0 &&
                          walked[1].desLen == 0;
  fuzz::Check(take.trailingBytes == (terminator ? 0 : after), "trailing bytes miscounted");
  // What the data packets read beyond desLen: 32 at a time, two at least.
  uint64_t read = 0;
  do read += 32;
  while (read < 64 || read < walked[0].desLen);
  const uint64_t beyond = std::min<uint64_t>(read, size - kRecordHeaderSize) - walked[0].desLen;
  fuzz::Check(take.trailingBytes == 0 || take.trailingSent == beyond, "trailing bytes sent miscounted");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<ImageRecord> records;
  const ImageScan scan = CheckImageBytes(data, size, &records);
  fuzz::Check(scan.fileLength == size, "file length");

  // The chain as it lies in the bytes.
  std::vector<Walked> walked;
  uint64_t position = 0;
  uint64_t sum = 0;
  bool truncatedHeader = false;
  while (position < size) {
    if (size - position < kRecordHeaderSize) {
      truncatedHeader = true;
      break;
    }
    const uint8_t* h = data + position;
    walked.push_back({position, GetLe32(h), GetLe32(h + 4), GetLe32(h + 8), GetLe16(h + 12) != 0});
    position += kRecordHeaderSize + uint64_t{walked.back().desLen};
    sum += walked.back().desLen;
  }
  const bool tiles = size > 0 && !truncatedHeader && position == size;
  const bool expectAccepted = tiles && sum > 0 && sum <= 0xFFFFFFFFull && WrittenAsChecked(walked);

  fuzz::Check(scan.Accepted() == expectAccepted, "acceptance differs from a walk of the chain");
  CheckPacketTake(data, size, walked, tiles);
  if (!scan.Accepted()) {
    fuzz::Check(!EnglishReasonText(scan.reason).empty(), "a rejected image has no reason");
    return 0;
  }
  fuzz::Check(records.size() == walked.size() && scan.recordCount == walked.size(), "record count");
  for (size_t i = 0; i < records.size(); ++i) {
    const RecordHeader& h = records[i].header;
    fuzz::Check(records[i].offset == walked[i].offset, "records do not follow each other");
    fuzz::Check(h.desLen == walked[i].desLen && h.version == walked[i].version &&
                    h.desAddress == walked[i].desAddress && (h.pid != 0) == walked[i].main,
                "a header differs from its bytes");
  }
  fuzz::Check(sum == scan.payloadTotal, "payload total is not the sum of desLen");
  fuzz::Check(FirmwareImage::FromBytes(std::vector<uint8_t>(data, data + size), "").TakeBy(UpdateProtocol::kBoot).Taken(),
              "boot mode refuses an accepted image");
  return 0;
}
