#include "update/version_guard.h"

namespace tarvik {

VersionGuard GuardVersions(const FirmwareImage& image, UpdateProtocol protocol, uint32_t mainCurrent,
                           uint32_t atCurrent) {
  VersionGuard guard;
  const bool bootMode = protocol == UpdateProtocol::kBoot;
  bool anyOlder = false;
  bool allSame = true;
  bool anyWritten = false;
  for (const ImageMcu mcu : {ImageMcu::kMain, ImageMcu::kAtMcu}) {
    uint32_t target = 0;
    if (!image.VersionFor(protocol, mcu, target)) continue;
    if (!bootMode && mcu == ImageMcu::kAtMcu) continue;
    anyWritten = true;
    const uint32_t current = mcu == ImageMcu::kMain ? mainCurrent : atCurrent;
    const int order = CompareVersions(target, current);
    if (mcu == ImageMcu::kAtMcu) {
      guard.writesAt = true;
      guard.imageAt = target;
      guard.currentAt = current;
    }
    if (order < 0 && !anyOlder) {
      anyOlder = true;
      guard.older = Reason(ReasonCode::kOlderThanController).Mcu(mcu);
      guard.older.imageVersion = target;
      guard.older.controllerVersion = current;
    }
    allSame = allSame && order == 0;
  }
  guard.order = anyOlder ? -1 : anyWritten && allSame ? 0 : 1;
  guard.same = Reason(ReasonCode::kSameVersion);
  guard.same.controllerVersion = mainCurrent;
  guard.same.writesAt = guard.writesAt;
  guard.same.controllerAtVersion = atCurrent;
  return guard;
}

}  // namespace tarvik
