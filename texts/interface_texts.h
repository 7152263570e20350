// The programs' own texts in the interface language: English as written in
// the code, translated from the message catalogue (po/zh_CN.po) when the run
// speaks Simplified Chinese. The command line, the windows and the page
// share it. The window's table texts (res/text_table.h) are apart.
#pragma once

#include <cstdint>

#include "base/text_mark.h"

namespace tarvik {

// Picks the language of the run's texts from the interface language id the
// system seam gives (the one the window's text table goes by): Simplified
// Chinese for 2052, English for every other. Call once, before any text.
// Returns the id the run speaks: 2052, or 1033 where Chinese was asked for
// but its catalogue cannot be found (then the window's texts are English too).
uint16_t ChooseTextLanguage(uint16_t interfaceLanguage);
// Whether the run speaks Chinese.
bool TextsInChinese();

// `english` in the interface language.
const char* Tr(const char* english);
// `singular` or `plural`, as `n` asks, in the interface language.
const char* TrN(const char* singular, const char* plural, unsigned long n);

}  // namespace tarvik
