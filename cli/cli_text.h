// The command-line program's own texts in the interface language: English
// as written in the code, translated from the program's message catalogues
// where the interface language has one.
#pragma once

namespace tarvik {

// `english` in the interface language.
const char* Tr(const char* english);
// `singular` or `plural`, as `n` asks, in the interface language.
const char* TrN(const char* singular, const char* plural, unsigned long n);

}  // namespace tarvik
