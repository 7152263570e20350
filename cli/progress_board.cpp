#include "cli/progress_board.h"

#include <algorithm>
#include <cstdint>

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

// Columns a character takes on a terminal: two for the wide East Asian
// ones (the Chinese texts), one for the others.
size_t ColumnsOf(uint32_t c) {
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
                    (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                    (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6);
  return wide ? 2 : 1;
}

// Cut to `columns` - 1 columns of the terminal: a UTF-8 sequence is never split.
std::string Fitted(const std::string& line, size_t columns) {
  const size_t limit = columns > 1 ? columns - 1 : 1;
  size_t used = 0;
  for (size_t i = 0; i < line.size();) {
    const auto lead = static_cast<unsigned char>(line[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    uint32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (size_t k = 1; k < length && i + k < line.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(line[i + k]) & 0x3F);
    used += ColumnsOf(c);
    if (used > limit) return line.substr(0, i);
    i += length;
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
