#include "cli/console.h"

#include "platform/win32/win32_api.h"

#include <chrono>
#include <cstring>
#include <thread>

// Older SDK headers know it only for Windows 10 targets.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace tarvik {

namespace {

bool g_standardErrorIsTerminal = false;
bool g_erasesLines = false;

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

void PrepareConsole() {
  // The texts are UTF-8 (Chinese ones too): the console shows them as such.
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  g_standardErrorIsTerminal = IsConsole(error);
  if (g_standardErrorIsTerminal) {
    // Windows 10 and later understand the terminal's control sequences once
    // asked to; older consoles get the line padded with spaces instead.
    DWORD mode = 0;
    GetConsoleMode(error, &mode);
    g_erasesLines = SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  }
}

bool StandardErrorIsTerminal() { return g_standardErrorIsTerminal; }

bool StandardInputIsTerminal() {
  // A console input buffer has a mode; a file or a pipe has none.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

const char* EraseToLineEnd() { return g_erasesLines ? "\x1b[K" : "          "; }

bool TerminalMovesCursor() { return g_erasesLines; }

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 80;
}

void QuitAtOnce(const char* message, int status) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, static_cast<DWORD>(std::strlen(message)), &written, nullptr);
  ExitProcess(static_cast<UINT>(status));
}

AnswerReader::AnswerReader() = default;

AnswerReader::~AnswerReader() = default;

void AnswerReader::Wake() {
  m_woken.store(true);
  // A read of the console or a pipe cannot wait on anything else: the reading
  // thread's read is cancelled instead. Until it is inside the read there is
  // nothing to cancel, so this tries again for a while.
  for (int attempt = 0; attempt < 100; ++attempt) {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      if (!m_readingThread) return;
      if (CancelSynchronousIo(static_cast<HANDLE>(m_readingThread))) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool AnswerReader::ReadLine(std::string& answer) {
  HANDLE self = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_readingThread = self;
  }
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  bool line = false;
  while (!m_woken.load()) {
    char c = 0;
    DWORD got = 0;
    // Ctrl-C at the console also ends the read (ERROR_OPERATION_ABORTED).
    if (!ReadFile(input, &c, 1, &got, nullptr) || got == 0) break;
    if (c == '\n') {
      line = true;
      break;
    }
    if (c != '\r') answer.push_back(c);
  }
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_readingThread = nullptr;
  }
  if (self) CloseHandle(self);
  return line && !m_woken.load();
}

}  // namespace tarvik
