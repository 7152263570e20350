#include "res/string_table.h"

namespace tarvik {

std::string_view FindStringTableEntry(uint16_t id) {
  for (std::size_t i = 0; i < kStringTableSize; ++i) {
    if (kStringTable[i].id == id) return kStringTable[i].text;
  }
  return {};
}

}  // namespace tarvik
