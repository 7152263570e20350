// Text indices of the window's texts and LoadText, which picks the user's language.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace tarvik {

enum TextIndex : int {
  kTextSearch = 0,
  kTextUpdate = 1,
  kTextUpdatingStop = 2,
  kTextFileType = 3,
  kTextUpgraded = 4,
  kTextFw = 5,
  kTextTitle = 6,
  kTextUpdateFailure = 7,
  kTextSearchingBluetooth = 8,
  kTextWarning = 9,
  kTextOpenBluetoothError = 10,
  kTextNeedBootMode = 11,
  kTextUsbUpdate = 12,
  kTextUpgradeToLatest = 13,
  kTextHelp = 14,
  kTextCurrentIs = 15,
  kTextResetHint = 16,
};

inline constexpr uint16_t kLangChinesePrc = 2052;
inline constexpr uint16_t kChineseStringBase = 129;
inline constexpr uint16_t kEnglishStringBase = 238;

// Only Chinese (PRC) selects the Chinese texts; every other language the English ones.
uint16_t StringIdForText(uint16_t languageId, int textIndex);

// The text in the user's current interface language; empty when the table lacks it.
std::string LoadText(ISystem& system, int textIndex);

}  // namespace tarvik
