// Trace lines on standard error, for the system seams whose trace a user may
// ask to see: one whole line at a time, whichever thread writes.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace tarvik {

inline void WriteTraceLineToStandardError(const std::string& line) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  std::fputs(line.c_str(), stderr);
  if (line.empty() || line.back() != '\n') std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace tarvik
