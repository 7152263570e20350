// The file dialog's filter: the engine gives it in the framework's form
// "label|pattern|label|pattern||"; the Windows file dialog wants each part
// ended by a NUL and the list by a second NUL.
#pragma once

#include <string>
#include <string_view>

namespace tarvik::win32 {

// UTF-16, with the NULs inside the string. Empty when there is no filter.
std::wstring FileFilterToWin32(std::string_view filter);

}  // namespace tarvik::win32
