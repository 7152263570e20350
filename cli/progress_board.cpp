#include "cli/progress_board.h"

#include <algorithm>

#include "cli/console.h"

namespace tarvik {

namespace {

// The cursor rests at the start of the line below the board.
void CursorUp(FILE* out, size_t lines) {
  if (lines > 0) std::fprintf(out, "\x1b[%zuA", lines);
}

void CursorDown(FILE* out, size_t lines) {
  if (lines > 0) std::fprintf(out, "\x1b[%zuB", lines);
}

// Cut to `columns` - 1 characters of the terminal: a UTF-8 sequence is never split.
std::string Fitted(const std::string& line, size_t columns) {
  const size_t limit = columns > 1 ? columns - 1 : 1;
  size_t shown = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const bool starts = (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
    if (starts && ++shown > limit) return line.substr(0, i);
  }
  return line;
}

}  // namespace

ProgressBoard::ProgressBoard(FILE* board, FILE* above, int columns)
    : m_board(board), m_above(above), m_columns(static_cast<size_t>(std::max(columns, 20))) {}

void ProgressBoard::EraseLocked() {
  CursorUp(m_board, m_drawn.size());
  std::fputs("\r\x1b[J", m_board);
  m_drawn.clear();
}

void ProgressBoard::DrawAllLocked() {
  for (const auto& [key, line] : m_lines) {
    std::fprintf(m_board, "%s\x1b[K\n", Fitted(line, m_columns).c_str());
    m_drawn.push_back(key);
  }
  std::fflush(m_board);
}

void ProgressBoard::Set(int key, const std::string& line) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_closed) return;
  const auto it = m_lines.find(key);
  if (it != m_lines.end() && it->second == line) return;
  m_lines[key] = line;
  const auto drawn = std::find(m_drawn.begin(), m_drawn.end(), key);
  if (drawn == m_drawn.end()) {
    // A new line: the board is drawn again whole, in the order of its keys.
    EraseLocked();
    DrawAllLocked();
    return;
  }
  // Only this line changes: up to it, rewritten, back below the board.
  const size_t up = static_cast<size_t>(m_drawn.end() - drawn);
  CursorUp(m_board, up);
  std::fprintf(m_board, "\r%s\x1b[K", Fitted(line, m_columns).c_str());
  CursorDown(m_board, up);
  std::fputc('\r', m_board);
  std::fflush(m_board);
}

void ProgressBoard::Remove(int key, const std::function<void()>& print) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_lines.erase(key);
  if (!m_closed) EraseLocked();
  std::fflush(m_board);
  print();
  std::fflush(m_above);
  if (!m_closed) DrawAllLocked();
}

void ProgressBoard::Close() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_closed) return;
  EraseLocked();
  std::fflush(m_board);
  m_closed = true;
}

std::unique_ptr<ProgressBoard> MakeFleetProgressBoard(bool quiet) {
  if (quiet || !StandardErrorIsTerminal() || !TerminalMovesCursor()) return nullptr;
  return std::make_unique<ProgressBoard>(stderr, stdout, TerminalColumns());
}

}  // namespace tarvik
