// The hidraw report descriptor walk on arbitrary bytes: every item lies inside
// the descriptor, items follow each other without gaps, a walk that succeeds
// covers every byte, and numbered reports are declared exactly when a Report
// ID item was visited.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "platform/linux/report_descriptor.h"

using namespace tarvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that a read past the end is caught.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  const uint8_t* begin = copy.get();
  const uint8_t* end = begin + size;

  const uint8_t* next = begin;
  bool reportId = false;
  const bool whole = WalkReportDescriptor(begin, size, [&](const ReportDescriptorItem& item) {
    fuzz::Check(item.data >= begin && item.data <= end, "item data outside the descriptor");
    fuzz::Check(item.dataSize <= static_cast<size_t>(end - item.data), "item data runs past the end");
    const size_t header = item.longItem ? 3 : 1;
    fuzz::Check(item.data == next + header, "items do not follow each other");
    fuzz::Check(item.longItem == (*next == 0xFE), "long item flag");
    if (!item.longItem) {
      static constexpr size_t kSizes[4] = {0, 1, 2, 4};
      fuzz::Check(item.dataSize == kSizes[*next & 3], "short item size");
      if (item.type == ReportDescriptorItem::Type::kGlobal && item.tag == 0x8) reportId = true;
    }
    next = item.data + item.dataSize;
  });
  if (whole) fuzz::Check(next == end, "a whole walk leaves bytes over");
  if (!whole) fuzz::Check(next < end, "a cut walk ends at the end");
  fuzz::Check(UsesNumberedReports(begin, size) == reportId, "numbered reports");
  return 0;
}
