#include "cli/device_choice.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "device/report_framing.h"

namespace tarvik {

ControllerReport ProbeController(CliPlatform& platform, const ControllerTarget& target) {
  return platform.OpenSession(target)->Probe();
}

namespace {

std::string Canonical(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '-') continue;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

}  // namespace

bool ResolveDevice(CliPlatform& platform, const std::string& selector, ControllerEntry& chosen,
                   std::string& reason) {
  const std::vector<ControllerEntry> controllers = platform.Controllers();
  if (controllers.empty()) {
    reason = Tr(kNoControllerFound);
    return false;
  }
  uint32_t index = 0;
  if (!selector.empty() && std::all_of(selector.begin(), selector.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    index = static_cast<uint32_t>(std::min<size_t>(std::stoul(selector.substr(0, 9)), 1000000));
    if (index == 0 || index > controllers.size()) {
      reason = StrFormat(Tr("there is no controller %s: %zu connected (see list)"), selector.c_str(), controllers.size());
      return false;
    }
    chosen = controllers[index - 1];
    return true;
  }
  // A path, or the place list prints after "at".
  for (const ControllerEntry& c : controllers) {
    if (c.path == selector || (!c.location.empty() && c.location == selector)) {
      chosen = c;
      return true;
    }
  }
  const std::string uid = Canonical(selector);
  if (uid.size() == 24 && std::all_of(uid.begin(), uid.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
    for (const ControllerEntry& c : controllers) {
      if (c.reportMode != static_cast<int>(ReportMode::kBootCommand)) continue;
      const ControllerProbe probe = ProbeController(platform, platform.TargetFor(c));
      if (probe.present && probe.queried && probe.Uid() == uid) {
        chosen = c;
        return true;
      }
    }
  }
  reason = StrFormat(Tr("no connected controller matches --device %s (an index from list, a path, a place or a "
                        "boot-mode UID)"),
                     selector.c_str());
  return false;
}

bool TargetOfDevice(CliPlatform& platform, const std::string& selector, ControllerTarget& target,
                    std::string& error) {
  ControllerEntry chosen;
  if (!ResolveDevice(platform, selector, chosen, error)) {
    platform.FinishTranscript();
    return false;
  }
  target = platform.TargetFor(chosen);
  return true;
}

}  // namespace tarvik
