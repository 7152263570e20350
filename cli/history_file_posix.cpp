#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/system_error_text.h"
#include "texts/interface_texts.h"
#include "cli/history.h"

namespace tarvik {

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string StateDirectoryJournal() {
  // The XDG base directories: a relative XDG_STATE_HOME is to be ignored.
  std::string state = EnvironmentText("XDG_STATE_HOME");
  if (state.empty() || state[0] != '/') {
    const std::string home = EnvironmentText("HOME");
    if (home.empty()) return "";
    state = home + "/.local/state";
  }
  return state + "/tarvik-update/history.jsonl";
}

bool AppendWhole(const std::filesystem::path& file, const std::string& line, std::string& problem) {
  // O_APPEND with one write: lines of other processes never land inside this one.
  const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    problem = SystemErrorText(errno);
    return false;
  }
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(line.size())) problem = written < 0 ? SystemErrorText(errno) : Tr("short write");
  close(fd);
  return problem.empty();
}

}  // namespace tarvik
