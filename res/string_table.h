// The program's string table (UTF-8), generated at build time from
// res/text_table.json, the one source of the window's texts. The Windows build
// carries the same table as a string-table resource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarvik {

struct StringTableEntry {
  uint16_t id;
  const char* text;
};

extern const StringTableEntry kStringTable[];
extern const std::size_t kStringTableSize;

// The entry with `id`, or an empty view when the table has none.
std::string_view FindStringTableEntry(uint16_t id);

}  // namespace tarvik
