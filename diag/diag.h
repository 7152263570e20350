// The step log (log.txt in the current directory, written only when the file
// existed when the main window was built) and the always-on debugger trace.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/system.h"

namespace tarvik {

inline constexpr const char* kLogFileName = "log.txt";

class CDiag {
 public:
  explicit CDiag(ISystem& system);
  CDiag(const CDiag&) = delete;
  CDiag& operator=(const CDiag&) = delete;

  // Switches the log on for the life of this object when log.txt can be opened now.
  void CheckLogEnabled();
  // Where the entries go, beside log.txt (default: log.txt itself). With
  // several controllers each one's window writes a file of its own.
  void SetLogFileName(std::string name);
  bool IsLogEnabled() const { return m_logEnabled.load(); }

  // Appends one entry; every "\n" lands in the file as CR LF. Entries from
  // different threads never interleave. A failed open loses the entry.
  void WriteLog(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
  // "%04d-%02d-%02d %02d:%02d:%02d\n" from the local time.
  void WriteLogTimestamp();

  // One formatted trace line to the platform's debugger output.
  void Trace(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
  // A text handed to the debugger output as it is, without formatting.
  void TraceText(const std::string& text);

 private:
  std::string LogPath(const std::string& name);
  void AppendEntry(const std::string& entry);

  ISystem& m_system;
  std::atomic<bool> m_logEnabled{false};
  std::mutex m_logLock;
  std::string m_logFileName = kLogFileName;  // guarded by m_logLock
};

}  // namespace tarvik
