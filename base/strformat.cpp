#include "base/strformat.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tarvik {
namespace {

// The conversions the trace and the step log use in every exchange (%d %i
// %u %x %X %c %s %%, with no flags, width, precision or length), without the C
// library's general formatter. False for any other format, which then goes to it.
bool FormatPlain(const char* format, std::va_list args, std::string& out) {
  const char* plain = format;  // start of the characters not yet appended
  for (const char* p; (p = std::strchr(plain, '%')) != nullptr;) {
    out.append(plain, p);
    char digits[24];
    switch (*++p) {
      case '%':
        out.push_back('%');
        break;
      case 'd':
      case 'i':
        out.append(digits, std::to_chars(digits, digits + sizeof digits, va_arg(args, int)).ptr);
        break;
      case 'u':
        out.append(digits, std::to_chars(digits, digits + sizeof digits, va_arg(args, unsigned)).ptr);
        break;
      case 'x':
      case 'X': {
        char* end = std::to_chars(digits, digits + sizeof digits, va_arg(args, unsigned), 16).ptr;
        if (*p == 'X') {
          for (char* d = digits; d != end; ++d) {
            if (*d >= 'a') *d = static_cast<char>(*d - 'a' + 'A');
          }
        }
        out.append(digits, end);
        break;
      }
      case 'c':
        out.push_back(static_cast<char>(va_arg(args, int)));
        break;
      case 's': {
        const char* text = va_arg(args, const char*);
        if (text == nullptr) return false;
        out.append(text);
        break;
      }
      default:
        return false;
    }
    plain = p + 1;
  }
  out.append(plain);
  return true;
}

}  // namespace

void StrFormatVInto(std::string& out, const char* format, std::va_list args) {
  out.clear();
  {
    std::va_list plain;
    va_copy(plain, args);
    const bool formatted = FormatPlain(format, plain, out);
    va_end(plain);
    if (formatted) return;
  }
  out.clear();
  // Most lines fit the first buffer: formatted once.
  char line[256];
  std::va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(line, sizeof line, format, args);
  if (needed <= 0 || static_cast<size_t>(needed) < sizeof line) {
    va_end(again);
    if (needed > 0) out.assign(line, static_cast<size_t>(needed));
    return;
  }
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, again);
  va_end(again);
  out.assign(buffer.data(), static_cast<size_t>(needed));
}

std::string StrFormatV(const char* format, std::va_list args) {
  std::string text;
  StrFormatVInto(text, format, args);
  return text;
}

std::string StrFormat(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string result = StrFormatV(format, args);
  va_end(args);
  return result;
}

}  // namespace tarvik
