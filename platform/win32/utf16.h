// Text crosses into the Windows API as UTF-16 and comes back as UTF-8, at this
// edge only: the engine and the seams speak UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tarvik::win32 {

// Invalid UTF-8 becomes U+FFFD; embedded NULs are kept.
std::wstring Utf8ToWide(std::string_view text);
// Unpaired surrogates become U+FFFD; embedded NULs are kept.
std::string WideToUtf8(std::wstring_view text);

}  // namespace tarvik::win32
