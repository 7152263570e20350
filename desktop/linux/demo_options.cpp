#include "desktop/linux/demo_options.h"

namespace tarvik {

std::optional<SimLayout> DemoSimLayout(const std::string& modes, const std::vector<std::string>& settings,
                                       std::string& error) {
  SimOptions base;
  base.packet.onMode2Signal = SimSwitch::kReplug;
  return ParseSimLayout(modes, settings, error, base);
}

std::optional<SimOptions> DemoSimOptions(const std::string& mode, const std::vector<std::string>& settings,
                                         std::string& error) {
  const std::optional<SimLayout> layout = DemoSimLayout(mode, settings, error);
  if (!layout) return std::nullopt;
  return layout->controllers.front();
}

}  // namespace tarvik
