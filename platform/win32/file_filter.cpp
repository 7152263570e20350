#include "platform/win32/file_filter.h"

#include "platform/win32/utf16.h"

namespace tarvik::win32 {

std::wstring FileFilterToWin32(std::string_view filter) {
  std::wstring result = Utf8ToWide(filter);
  if (result.empty()) return result;
  for (wchar_t& c : result) {
    if (c == L'|') c = L'\0';
  }
  // A filter written without its closing "||" still has to end the list, or
  // the dialog reads past the string.
  while (result.size() < 2 || result[result.size() - 1] != L'\0' ||
         result[result.size() - 2] != L'\0') {
    result.push_back(L'\0');
  }
  return result;
}

}  // namespace tarvik::win32
