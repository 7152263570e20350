// The version guard: each record a protocol writes of an image against the
// firmware its own microcontroller runs. Releases order by their number, a
// beta before the release of the same number; older wins over same, and
// "same" holds only when every microcontroller written already runs its
// record's version.
#pragma once

#include <cstdint>

#include "update/firmware_image.h"
#include "update/firmware_version.h"
#include "update/update_reason.h"

namespace tarvik {

struct VersionGuard {
  int order = 1;  // <0: something older, 0: all the same, >0: an upgrade
  // The first microcontroller whose record is older, with both versions.
  Reason older;
  // What the controller already runs, the ATmcu's too where the image writes it.
  Reason same;
  // The image writes the ATmcu: its record's version and the ATmcu's own.
  bool writesAt = false;
  uint32_t imageAt = 0;
  uint32_t currentAt = 0;
};

// `atCurrent` counts only in boot mode (the packet protocol writes the main
// microcontroller alone).
VersionGuard GuardVersions(const FirmwareImage& image, UpdateProtocol protocol, uint32_t mainCurrent,
                           uint32_t atCurrent);

}  // namespace tarvik
