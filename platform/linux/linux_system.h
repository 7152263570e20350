// The system seam on Linux (and other POSIX systems).
#pragma once

#include "platform/system.h"

namespace tarvik {

class LinuxSystem final : public ISystem {
 public:
  explicit LinuxSystem(IClock& clock) : m_clock(clock) {}

  uint16_t InterfaceLanguage() override;
  LocalTime LocalTimeNow() override;
  std::string CurrentDirectory() override;
  uint32_t LastErrorCode() override;
  // Trace lines go to standard error, one line per call, unless switched off.
  void Trace(const std::string& line) override;
  void SetTraceToStandardError(bool on) { m_traceToStderr = on; }
  bool TraceReceived() override { return m_traceToStderr; }
  std::string StringTableEntry(uint16_t id) override;
  std::unique_ptr<IThread> StartThread(std::function<void()> body) override;
  IClock& Clock() override { return m_clock; }
  // /etc/tarvik-update/trusted-keys, then the user's own folder under
  // $XDG_CONFIG_HOME (~/.config where it is not set).
  // Then the keys given to TrustAlso.
  std::vector<std::string> TrustedKeyTexts() override;
  // Adds a public key file's text to the keys this machine trusts.
  void TrustAlso(std::string keyText) { m_alsoTrusted.push_back(std::move(keyText)); }

  // Timer slack of the threads started here (nanoseconds).
  static constexpr unsigned long kWorkerTimerSlackNs = 1000;
  // Gives the calling thread, and the threads it starts from now on, that
  // timer slack: the boot protocol's 5 ms polls wait on the real clock, and
  // the kernel's default 50 us of slack on every sleep would add up over
  // thousands of chunks, or be spent spinning.
  static void UseFineTimerSlack();

 private:
  IClock& m_clock;
  bool m_traceToStderr = true;
  std::vector<std::string> m_alsoTrusted;
};

}  // namespace tarvik
