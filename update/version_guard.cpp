#include "update/version_guard.h"

#include "base/strformat.h"
#include "base/text_mark.h"
#include "update/firmware_version.h"

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
    const std::string to = FormatVersionShort(target);
    const std::string from = FormatVersionShort(current);
    if (mcu == ImageMcu::kAtMcu) guard.atDetail = StrFormat(N_("ATmcu %s and current is %s"), to.c_str(), from.c_str());
    if (order < 0 && !anyOlder) {
      anyOlder = true;
      guard.older =
          StrFormat(mcu == ImageMcu::kMain ? N_("the image (%s) is older than the controller's firmware (%s)")
                                           : N_("the image's ATmcu record (%s) is older than the ATmcu's firmware (%s)"),
                    to.c_str(), from.c_str());
    }
    allSame = allSame && order == 0;
  }
  guard.order = anyOlder ? -1 : anyWritten && allSame ? 0 : 1;
  guard.same = guard.atDetail.empty()
                   ? StrFormat(N_("the controller already runs %s"), FormatVersionShort(mainCurrent).c_str())
                   : StrFormat(N_("the controller already runs %s (ATmcu %s)"), FormatVersionShort(mainCurrent).c_str(),
                               FormatVersionShort(atCurrent).c_str());
  return guard;
}

}  // namespace tarvik
