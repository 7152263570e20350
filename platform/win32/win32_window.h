// What Windows-only code needs of the window host beyond the portable seam:
// the main window's handle, which device notifications are registered on.
#pragma once

#include "platform/win32/win32_api.h"

namespace tarvik::win32 {

class IWin32Window {
 public:
  virtual ~IWin32Window() = default;
  // The dialog while it exists (from WM_INITDIALOG on), else nullptr.
  virtual HWND DialogWindow() const = 0;
};

}  // namespace tarvik::win32
