#include "app/window_texts.h"

#include "base/strformat.h"

namespace tarvik {

std::string FormatBootVersionTitle(const std::string& title, uint32_t version, uint16_t revision) {
  if (version == 0xFFFFFFFFu) version = 0;
  if (revision == 0xFFFFu) revision = 0;
  if (BetaNumber(version) != 0) {
    return StrFormat("%s (Fw v%0.2f beta%d r%d)", title.c_str(), VersionNumber(version),
                     static_cast<int>(BetaNumber(version)), static_cast<int>(revision));
  }
  return StrFormat("%s (Fw v%0.2f r%d)", title.c_str(), version / 100.0, static_cast<int>(revision));
}

std::string FormatPacketVersionTitle(const std::string& title, uint32_t version) {
  if (BetaNumber(version) != 0) {
    return StrFormat("%s(GamePad V%0.2f beta%d)", title.c_str(), VersionNumber(version),
                     static_cast<int>(BetaNumber(version)));
  }
  return StrFormat("%s(GamePad V%0.2f)", title.c_str(), version / 100.0);
}

std::string VersionTitle(const std::string& title, const ControllerVersions& versions) {
  if (versions.protocol == UpdateProtocol::kBoot) {
    return FormatBootVersionTitle(title, versions.main.Word(), versions.revision);
  }
  if (versions.main.Word() == FirmwareVersion::kNoFirmwareWord) return title;
  return FormatPacketVersionTitle(title, versions.main.Word());
}

std::string FormatVersionConfirmation(const std::string& fwText, uint32_t fileVersion,
                                      const std::string& currentIsText, uint32_t deviceVersion) {
  const double fileNumber = VersionNumber(fileVersion);
  const int fileBeta = static_cast<int>(BetaNumber(fileVersion));
  const double deviceNumber = VersionNumber(deviceVersion);
  const int deviceBeta = static_cast<int>(BetaNumber(deviceVersion));
  const char* fw = fwText.c_str();
  const char* current = currentIsText.c_str();
  if (fileBeta != 0 && deviceBeta != 0) {
    return StrFormat("%s %.02f beta%d %s %.02f beta%d\n", fw, fileNumber, fileBeta, current,
                     deviceNumber, deviceBeta);
  }
  if (fileBeta != 0) {
    return StrFormat("%s %.02f beta%d %s %.02f\n", fw, fileNumber, fileBeta, current, deviceNumber);
  }
  if (deviceBeta != 0) {
    return StrFormat("%s %.02f %s %.02f beta%d\n", fw, fileNumber, current, deviceNumber, deviceBeta);
  }
  return StrFormat("%s %.02f %s %.02f\n", fw, fileNumber, current, deviceNumber);
}

}  // namespace tarvik
