#include "update/firmware_version.h"

#include "base/strformat.h"

namespace tarvik {

std::string FormatVersionShort(uint32_t version) {
  if (BetaNumber(version) != 0) {
    return StrFormat("%.2f beta%u", VersionNumber(version), BetaNumber(version));
  }
  return StrFormat("%.2f", VersionNumber(version));
}

int CompareVersions(uint32_t a, uint32_t b) {
  const auto key = [](uint32_t v) {
    return (uint64_t{v & 0xFFFFu} << 17) | (BetaNumber(v) == 0 ? 0x10000u : BetaNumber(v));
  };
  return key(a) < key(b) ? -1 : key(a) > key(b) ? 1 : 0;
}

}  // namespace tarvik
