// The system seam on Linux (and other POSIX systems).
#pragma once

#include "platform/system.h"

namespace tarvik {

class LinuxSystem final : public ISystem {
 public:
  explicit LinuxSystem(IClock& clock) : m_clock(clock) {}

  uint16_t GetUserDefaultUILanguage() override;
  LocalTime GetLocalTime() override;
  std::string GetCurrentDirectory() override;
  uint32_t GetLastError() override;
  // Trace lines go to standard error, one line per call.
  void OutputDebugString(const std::string& line) override;
  std::string LoadStringResource(uint16_t id) override;
  std::unique_ptr<IThread> StartThread(std::function<void()> body) override;
  IClock& Clock() override { return m_clock; }

 private:
  IClock& m_clock;
};

}  // namespace tarvik
