#include "diag/diag.h"

#include <cstdarg>
#include <cstdio>

#include "base/strformat.h"

namespace tarvik {

CDiag::CDiag(ISystem& system) : m_system(system) {}

std::string CDiag::LogPath(const std::string& name) {
  // Resolved against the current directory at each entry, as a relative path would be.
  std::string dir = m_system.CurrentDirectory();
  if (dir.empty()) return name;
  if (dir.back() != '/' && dir.back() != '\\') dir.push_back('/');
  return dir + name;
}

void CDiag::SetLogFileName(std::string name) {
  std::lock_guard<std::mutex> lock(m_logLock);
  m_logFileName = std::move(name);
}

void CDiag::CheckLogEnabled() {
  if (std::FILE* file = std::fopen(LogPath(kLogFileName).c_str(), "rb")) {
    m_logEnabled.store(true);
    std::fclose(file);
  }
}

void CDiag::AppendEntry(const std::string& entry) {
  // Support reads the file on Windows machines: line ends are CR LF everywhere.
  std::string bytes;
  bytes.reserve(entry.size() + 8);
  for (char c : entry) {
    if (c == '\n') bytes.push_back('\r');
    bytes.push_back(c);
  }
  std::lock_guard<std::mutex> lock(m_logLock);
  std::FILE* file = std::fopen(LogPath(m_logFileName).c_str(), "ab");
  if (!file) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

void CDiag::WriteLog(const char* format, ...) {
  if (!m_logEnabled.load()) return;
  std::va_list args;
  va_start(args, format);
  std::string entry = StrFormatV(format, args);
  va_end(args);
  AppendEntry(entry);
}

void CDiag::WriteLogTimestamp() {
  const LocalTime now = m_system.LocalTimeNow();
  WriteLog("%04d-%02d-%02d %02d:%02d:%02d\n", now.year, now.month, now.day, now.hour, now.minute,
           now.second);
}

void CDiag::Trace(const char* format, ...) {
  if (!m_system.TraceReceived()) return;
  // Formatted into storage each thread keeps: a line per report, without an allocation.
  thread_local std::string line;
  std::va_list args;
  va_start(args, format);
  StrFormatVInto(line, format, args);
  va_end(args);
  m_system.Trace(line);
}

void CDiag::TraceText(const std::string& text) { m_system.Trace(text); }

}  // namespace tarvik
