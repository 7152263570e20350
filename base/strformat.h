// printf-style formatting into std::string. The system's texts, log entries and
// trace lines are all built from printf formats, so one helper serves them all.
#pragma once

#include <cstdarg>
#include <string>

namespace tarvik {

std::string StrFormat(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string StrFormatV(const char* format, std::va_list args);
// The same into `out`, whose storage is reused (it is cleared first).
void StrFormatVInto(std::string& out, const char* format, std::va_list args);

}  // namespace tarvik
