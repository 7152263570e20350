// The system seam on Windows. Tests derive from it to choose the language.
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"

namespace tarvik::win32 {

class Win32System : public ISystem {
 public:
  explicit Win32System(IClock& clock) : m_clock(clock) {}

  uint16_t InterfaceLanguage() override;
  LocalTime LocalTimeNow() override;
  // A drive's root keeps its separator ("C:\"): "C:" alone would name the
  // drive's current directory instead.
  std::string CurrentDirectory() override;
  uint32_t LastErrorCode() override;
  // To the debugger, as the line is (the engine ends its lines itself).
  void Trace(const std::string& line) override;
  // From the string table of the executable's resources.
  std::string StringTableEntry(uint16_t id) override;
  std::unique_ptr<IThread> StartThread(std::function<void()> body) override;
  IClock& Clock() override { return m_clock; }
  // The "*.pub" files in the "trusted-keys" folder beside the program, then
  // the keys given to TrustAlso.
  std::vector<std::string> TrustedKeyTexts() override;
  // Adds a public key file's text to the keys this machine trusts.
  void TrustAlso(std::string keyText) { m_alsoTrusted.push_back(std::move(keyText)); }

 private:
  IClock& m_clock;
  std::vector<std::string> m_alsoTrusted;
};

}  // namespace tarvik::win32
