// System seam: the few operating-system services the engine needs besides the
// HID bus and the window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace tarvik {

struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// A started thread. Join waits for its end; destroying an unjoined thread joins it.
class IThread {
 public:
  virtual ~IThread() = default;
  virtual void Join() = 0;
};

class ISystem {
 public:
  virtual ~ISystem() = default;
  // The user's interface language as a Windows language id (2052 Chinese (PRC), 1033 English (US)).
  virtual uint16_t InterfaceLanguage() = 0;
  virtual LocalTime LocalTimeNow() = 0;
  // The process's current directory (UTF-8, no trailing separator).
  virtual std::string CurrentDirectory() = 0;
  // The calling thread's last system error code (0 when none).
  virtual uint32_t LastErrorCode() = 0;
  // One debugger trace line, UTF-8, handed over unchanged.
  virtual void Trace(const std::string& line) = 0;
  // Whether a trace line handed over now reaches anyone (standard error, a
  // debugger, a transcript); when not, it need not be formatted at all.
  virtual bool TraceReceived() { return true; }
  // The string-table entry `id` (UTF-8); empty when the entry is missing.
  virtual std::string StringTableEntry(uint16_t id) = 0;
  virtual std::unique_ptr<IThread> StartThread(std::function<void()> body) = 0;
  virtual IClock& Clock() = 0;
  // The texts of the public key files a person or a shop added on this
  // machine, whose signatures on images are trusted. None by default.
  virtual std::vector<std::string> TrustedKeyTexts() { return {}; }
};

}  // namespace tarvik
