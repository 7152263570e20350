// The user's interface language on Linux, as the Windows language id that
// GetUserDefaultUILanguage would give for the same locale.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace tarvik {

inline constexpr uint16_t kLangEnglishUs = 1033;

// "zh_CN.UTF-8" -> 2052, "zh_TW" -> 1028, "en_US" -> 1033, ...; 1033 when unknown.
uint16_t LanguageIdFromLocale(std::string_view locale);

// The locale that names the interface language: the first entry of LANGUAGE
// when set, else LC_ALL, else LC_MESSAGES, else LANG; empty values are skipped.
uint16_t LanguageIdFromEnvironment(const std::function<const char*(const char*)>& getEnv);

}  // namespace tarvik
