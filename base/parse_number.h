// Numbers as people type them in settings: decimal or 0x-prefixed hex,
// nothing else (no sign, no blanks, no suffix).
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace tarvik {

inline bool ParseUnsigned(const std::string& text, uint32_t limit, uint32_t& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  if (first == last) return false;
  uint32_t parsed = 0;
  const auto [end, error] = std::from_chars(first, last, parsed, hex ? 16 : 10);
  if (error != std::errc() || end != last || parsed > limit) return false;
  value = parsed;
  return true;
}

inline bool ParseUnsigned(const std::string& text, uint32_t& value) {
  return ParseUnsigned(text, UINT32_MAX, value);
}

}  // namespace tarvik
