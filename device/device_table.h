// The supported controllers: {vendor ID, product ID, report mode}, tried in this order.
#pragma once

#include <array>
#include <cstdint>

#include "device/report_framing.h"

namespace tarvik {

struct DeviceTableRow {
  uint16_t vendorId;
  uint16_t productId;
  ReportMode mode;
};

inline constexpr std::array<DeviceTableRow, 3> kDeviceTable{{
    {0x5A3C, 0x7E21, ReportMode::kPacketNumbered},  // firmware packet protocol, numbered reports (ID 0x81)
    {0x5A3C, 0x7E22, ReportMode::kPacket},  // firmware packet protocol
    {0x5A3C, 0x7E23, ReportMode::kBootCommand},  // boot command protocol
}};

// The row of a supported controller's IDs; nullptr for any other device.
inline constexpr const DeviceTableRow* FindDeviceTableRow(uint16_t vendorId, uint16_t productId) {
  for (const DeviceTableRow& row : kDeviceTable) {
    if (row.vendorId == vendorId && row.productId == productId) return &row;
  }
  return nullptr;
}

}  // namespace tarvik
