#include "platform/linux/report_descriptor.h"

namespace tarvik {

namespace {
constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr uint8_t kReportIdTag = 0x8;  // global item 1000 nn 01
}  // namespace

bool WalkReportDescriptor(const uint8_t* descriptor, size_t size,
                          const std::function<void(const ReportDescriptorItem&)>& visit) {
  size_t at = 0;
  while (at < size) {
    const uint8_t prefix = descriptor[at];
    ReportDescriptorItem item;
    size_t header = 1;
    if (prefix == kLongItemPrefix) {
      // Long item: prefix, data size, tag, data. No standard tag is long, but a
      // vendor may use them, and their data must not be read as items.
      if (size - at < 3) return false;
      item.longItem = true;
      item.type = ReportDescriptorItem::Type::kReserved;
      item.dataSize = descriptor[at + 1];
      item.tag = descriptor[at + 2];
      header = 3;
    } else {
      static constexpr size_t kShortSizes[4] = {0, 1, 2, 4};
      item.dataSize = kShortSizes[prefix & 0x03];
      item.type = static_cast<ReportDescriptorItem::Type>((prefix >> 2) & 0x03);
      item.tag = static_cast<uint8_t>(prefix >> 4);
    }
    if (size - at - header < item.dataSize) return false;
    item.data = descriptor + at + header;
    visit(item);
    at += header + item.dataSize;
  }
  return true;
}

bool UsesNumberedReports(const uint8_t* descriptor, size_t size) {
  bool numbered = false;
  // In a descriptor cut short, the Report ID items before the cut still decide.
  WalkReportDescriptor(descriptor, size, [&](const ReportDescriptorItem& item) {
    if (!item.longItem && item.type == ReportDescriptorItem::Type::kGlobal &&
        item.tag == kReportIdTag) {
      numbered = true;
    }
  });
  return numbered;
}

}  // namespace tarvik
