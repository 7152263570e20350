#include <windows.h>

#include <cstdlib>

#include "cli/history.h"
#include "platform/win32/utf16.h"

namespace tarvik {

std::string EnvironmentText(const char* name) {
  const wchar_t* value = _wgetenv(win32::Utf8ToWide(name).c_str());
  return value != nullptr ? win32::WideToUtf8(value) : "";
}

std::string StateDirectoryJournal() {
  const std::string local = EnvironmentText("LOCALAPPDATA");
  return local.empty() ? "" : local + "\\TarvikUpdate\\history.jsonl";
}

bool AppendWhole(const std::filesystem::path& file, const std::string& line, std::string& problem) {
  // Append access with one WriteFile: lines of other processes never land inside this one.
  const HANDLE handle = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    problem = "error " + std::to_string(GetLastError());
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) || written != line.size()) {
    problem = "error " + std::to_string(GetLastError());
  }
  CloseHandle(handle);
  return problem.empty();
}

}  // namespace tarvik
