// The system seam in the page: the interface language from the browser's
// preferred languages, trace lines to the browser's console (when asked for
// with ?trace=1), threads on the module's workers, the given clock. The page
// trusts the keys built into the program. With simulated controllers it also
// trusts the demo key, which signs the sample images.
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"

namespace tarvik {

class WebSystem final : public ISystem {
 public:
  WebSystem(IClock& clock, bool trace, bool simulated) : m_clock(clock), m_trace(trace), m_simulated(simulated) {}

  uint16_t InterfaceLanguage() override;
  LocalTime LocalTimeNow() override;
  std::string CurrentDirectory() override { return "/"; }
  uint32_t LastErrorCode() override;
  void Trace(const std::string& line) override;
  bool TraceReceived() override { return m_trace; }
  std::string StringTableEntry(uint16_t id) override;
  std::unique_ptr<IThread> StartThread(std::function<void()> body) override;
  IClock& Clock() override { return m_clock; }
  std::vector<std::string> TrustedKeyTexts() override;

 private:
  IClock& m_clock;
  bool m_trace;
  bool m_simulated;
};

}  // namespace tarvik
