#include "base/system_error_text.h"

#include <cstring>

#ifndef _WIN32
#include <locale.h>
#endif

#include "base/text_mark.h"

namespace tarvik {

namespace {

// The system's texts a user meets most with an image or a journal, marked so
// that the catalogue can translate them.
[[maybe_unused]] constexpr const char* kCommonTexts[] = {
    N_("No such file or directory"),
    N_("Permission denied"),
    N_("Is a directory"),
    N_("Not a directory"),
    N_("Too many levels of symbolic links"),
    N_("File name too long"),
    N_("Input/output error"),
    N_("No space left on device"),
    N_("Read-only file system"),
    N_("Too many open files"),
};

}  // namespace

std::string SystemErrorText(int errorNumber) {
#ifdef _WIN32
  // The C runtime of Windows speaks English only.
  return std::strerror(errorNumber);
#else
  // strerror follows LC_MESSAGES and converts to LC_CTYPE's charset, which
  // turns a translation into question marks where the locale is missing.
  static const locale_t english = newlocale(LC_ALL_MASK, "C", nullptr);
  if (english == nullptr) return std::strerror(errorNumber);
  return strerror_l(errorNumber, english);
#endif
}

}  // namespace tarvik
