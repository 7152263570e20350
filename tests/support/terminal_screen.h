// What a terminal shows after a program's output: enough of a terminal for
// the lines the command line redraws in place.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarvik::test {

// What a terminal shows after `bytes`: the control sequences the board uses
// (cursor up and down, erase to the line's end and to the screen's end), a
// carriage return, and a line feed that also returns, as a terminal's output
// processing has it.
inline std::vector<std::string> Screen(const std::string& bytes) {
  std::vector<std::string> rows(1);
  size_t row = 0, col = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
      size_t end = i + 2;
      while (end < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[end]))) ++end;
      const size_t n = end > i + 2 ? std::strtoul(bytes.substr(i + 2, end - i - 2).c_str(), nullptr, 10) : 1;
      switch (bytes[end]) {
        case 'A': row = n > row ? 0 : row - n; break;
        case 'B': row += n; break;
        case 'K': rows[row].resize(std::min(rows[row].size(), col)); break;
        case 'J':
          rows[row].resize(std::min(rows[row].size(), col));
          rows.resize(row + 1);
          break;
        default: ADD_FAILURE() << "unexpected control sequence " << bytes.substr(i, end - i + 1);
      }
      i = end;
    } else if (c == '\r') {
      col = 0;
    } else if (c == '\n') {
      ++row;
      col = 0;
    } else {
      if (rows[row].size() <= col) rows[row].resize(col + 1, ' ');
      rows[row][col++] = c;
    }
    if (rows.size() <= row) rows.resize(row + 1);
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  return rows;
}

}  // namespace tarvik::test
