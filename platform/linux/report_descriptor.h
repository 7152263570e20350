// HID report descriptors as hidraw hands them out (HIDIOCGRDESC): a walk over
// their items, and whether the device's reports carry a report ID.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tarvik {

struct ReportDescriptorItem {
  enum class Type : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };
  Type type = Type::kMain;
  uint8_t tag = 0;  // for long items: the long item's own tag
  bool longItem = false;
  const uint8_t* data = nullptr;
  size_t dataSize = 0;
};

// Calls `visit` for every item in order. False when the descriptor ends in the
// middle of an item; the items before it have been visited.
bool WalkReportDescriptor(const uint8_t* descriptor, size_t size,
                          const std::function<void(const ReportDescriptorItem&)>& visit);

// Whether the descriptor declares report IDs (a Report ID global item). hidraw
// keeps the report ID as the first byte of reads from such devices and leaves
// it out for the others.
bool UsesNumberedReports(const uint8_t* descriptor, size_t size);

}  // namespace tarvik
