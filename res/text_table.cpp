#include "res/text_table.h"

namespace tarvik {

uint16_t StringIdForText(uint16_t languageId, int textIndex) {
  const int base = languageId == kLangChinesePrc ? kChineseStringBase : kEnglishStringBase;
  return static_cast<uint16_t>(base + textIndex);
}

std::string LoadText(ISystem& system, int textIndex) {
  // The language is asked for at every call: nothing is cached.
  return system.StringTableEntry(StringIdForText(system.InterfaceLanguage(), textIndex));
}

}  // namespace tarvik
