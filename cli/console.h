// The terminal the command-line front end talks to, for each platform
// (console_posix.cpp, console_win32.cpp): whether standard error can show a
// progress bar, answers read from standard input that Ctrl-C can cut short,
// and the last words of a process that quits at once.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace tarvik {

// Makes the console ready for the program's UTF-8 output. Call first in main.
void PrepareConsole();

// Whether standard error is a terminal that redraws a line in place.
bool StandardErrorIsTerminal();
// Whether standard input is a terminal someone can answer a question on.
bool StandardInputIsTerminal();
// What ends a redrawn line: it clears what a longer earlier line left.
const char* EraseToLineEnd();
// Whether standard error's terminal moves its cursor and clears lines on the
// terminal's control sequences (then several lines can be redrawn in place).
bool TerminalMovesCursor();
// The width of standard error's terminal, in characters (80 when unknown).
int TerminalColumns();

// Writes `message` on standard error and ends the process with `status` at
// once, without running destructors; safe from a signal watch.
[[noreturn]] void QuitAtOnce(const char* message, int status);

// Reads one answer line from standard input; Wake, from any thread, makes a
// read in progress (or the next one) give up.
class AnswerReader {
 public:
  AnswerReader();
  ~AnswerReader();
  AnswerReader(const AnswerReader&) = delete;
  AnswerReader& operator=(const AnswerReader&) = delete;

  // The line without its line end. False when woken, or when the input ended
  // before a whole line (then `answer` holds what came).
  bool ReadLine(std::string& answer);
  void Wake();
  bool Woken() const { return m_woken.load(); }

 private:
  std::atomic<bool> m_woken{false};
#ifdef _WIN32
  std::mutex m_lock;
  void* m_readingThread = nullptr;  // the thread inside ReadLine, while it reads
#else
  int m_wake[2] = {-1, -1};  // written by Wake
#endif
};

}  // namespace tarvik
