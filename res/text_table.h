// LoadText, which picks the text of an index in the user's language.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"
#include "res/text_index.h"

namespace tarvik {

inline constexpr uint16_t kLangChinesePrc = 2052;
inline constexpr uint16_t kChineseStringBase = 129;
inline constexpr uint16_t kEnglishStringBase = 238;

// Only Chinese (PRC) selects the Chinese texts; every other language the English ones.
uint16_t StringIdForText(uint16_t languageId, int textIndex);

// The text in the user's current interface language; empty when the table lacks it.
std::string LoadText(ISystem& system, int textIndex);

}  // namespace tarvik
