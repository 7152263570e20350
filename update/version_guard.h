// The version guard: each record a protocol writes of an image against the
// firmware its own microcontroller runs. Releases order by their number, a
// beta before the release of the same number; older wins over same, and
// "same" holds only when every microcontroller written already runs its
// record's version.
#pragma once

#include <cstdint>
#include <string>

#include "update/firmware_image.h"
#include "update/firmware_version.h"

namespace tarvik {

struct VersionGuard {
  int order = 1;         // <0: something older, 0: all the same, >0: an upgrade
  std::string older;     // what is older, when something is
  std::string same;      // what the controller already runs
  std::string atDetail;  // the ATmcu's versions, when the image writes the ATmcu
};

// `atCurrent` counts only in boot mode (the packet protocol writes the main
// microcontroller alone).
VersionGuard GuardVersions(const FirmwareImage& image, UpdateProtocol protocol, uint32_t mainCurrent,
                           uint32_t atCurrent);

}  // namespace tarvik
