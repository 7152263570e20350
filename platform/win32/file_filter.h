// The Windows file dialog's filter: each label and pattern ended by a NUL,
// and the list by a second NUL.
#pragma once

#include <string>
#include <vector>

#include "platform/window_host.h"

namespace tarvik::win32 {

// UTF-16, with the NULs inside the string. Empty when there is no filter.
std::wstring FileFilterToWin32(const std::vector<FileType>& types);

}  // namespace tarvik::win32
