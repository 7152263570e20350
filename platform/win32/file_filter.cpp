#include "platform/win32/file_filter.h"

#include "platform/win32/utf16.h"

namespace tarvik::win32 {

std::wstring FileFilterToWin32(const std::vector<FileType>& types) {
  std::wstring result;
  if (types.empty()) return result;
  for (const FileType& type : types) {
    result += Utf8ToWide(type.label);
    result.push_back(L'\0');
    result += Utf8ToWide(type.pattern);
    result.push_back(L'\0');
  }
  result.push_back(L'\0');
  return result;
}

}  // namespace tarvik::win32
