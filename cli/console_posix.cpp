#include "cli/console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace tarvik {

void PrepareConsole() {}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

const char* EraseToLineEnd() { return "\x1b[K"; }

bool TerminalMovesCursor() { return StandardErrorIsTerminal(); }

int TerminalColumns() {
  winsize size{};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void QuitAtOnce(const char* message, int status) {
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, message, std::strlen(message));
  ::_exit(status);
}

AnswerReader::AnswerReader() {
  if (::pipe(m_wake) != 0) m_wake[0] = m_wake[1] = -1;
}

AnswerReader::~AnswerReader() {
  for (int fd : m_wake) {
    if (fd >= 0) ::close(fd);
  }
}

void AnswerReader::Wake() {
  m_woken.store(true);
  if (m_wake[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(m_wake[1], &byte, 1);
  }
}

bool AnswerReader::ReadLine(std::string& answer) {
  for (;;) {
    if (m_woken.load()) return false;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    const int ready = ::poll(fds, m_wake[0] >= 0 ? 2 : 1, -1);
    if (ready < 0) continue;
    if (fds[1].revents != 0) return false;
    if (fds[0].revents == 0) continue;
    char c = 0;
    if (::read(STDIN_FILENO, &c, 1) <= 0) return false;
    if (c == '\n') return true;
    if (c != '\r') answer.push_back(c);
  }
}

}  // namespace tarvik
