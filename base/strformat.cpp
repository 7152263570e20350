#include "base/strformat.h"

#include <cstdio>
#include <vector>

namespace tarvik {

std::string StrFormatV(const char* format, std::va_list args) {
  std::va_list probe;
  va_copy(probe, args);
  const int needed = std::vsnprintf(nullptr, 0, format, probe);
  va_end(probe);
  if (needed <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(needed));
}

std::string StrFormat(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string result = StrFormatV(format, args);
  va_end(args);
  return result;
}

}  // namespace tarvik
