#include "desktop/linux/demo_options.h"

namespace tarvik {

std::optional<SimOptions> DemoSimOptions(const std::string& mode, const std::vector<std::string>& settings,
                                         std::string& error) {
  SimOptions options;
  options.packet.onMode2Signal = SimSwitch::kReplug;
  const std::optional<SimMode> simMode = ParseSimMode(mode);
  if (!simMode) {
    error = "--simulate takes boot, packet1, packet2 or none";
    return std::nullopt;
  }
  options.mode = *simMode;
  for (const std::string& setting : settings) {
    if (!ApplySimSetting(setting, options, error)) return std::nullopt;
  }
  return options;
}

}  // namespace tarvik
