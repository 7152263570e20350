// Dialog template 102, the main window: sizes and positions in dialog units.
// The desktop hosts build the window from it; the Windows build also carries
// it as a dialog resource.
#pragma once

#include "res/resource.h"

namespace tarvik {

enum class ControlKind { kProgress, kPushButton, kStaticCentred, kStaticLeft };

struct DialogControlTemplate {
  int id;
  ControlKind kind;
  int x, y, cx, cy;
  bool border;
  bool tabStop;
  bool liveRegion;   // a screen reader speaks its changed text once the user is idle
  const char* text;  // template text, replaced at initialisation
};

struct DialogTemplate {
  int id;
  int cx, cy;
  const char* fontFace;
  int fontPoints;
  DialogControlTemplate controls[4];
};

inline constexpr DialogTemplate kUpdateDialogTemplate = {
    IDD_UPDATE_DIALOG,
    244,
    138,
    "宋体",
    9,
    {
        {IDC_PROGRESS, ControlKind::kProgress, 7, 7, 230, 14, true, false, false, ""},
        {IDC_USB_UPDATE, ControlKind::kPushButton, 7, 109, 230, 22, false, true, false, "USB_Update"},
        {IDC_STATIC_NOTICE, ControlKind::kStaticCentred, 59, 91, 85, 12, false, false, true,
         "Firmware upgraded!"},
        {IDC_HELP_TEXT, ControlKind::kStaticLeft, 7, 25, 230, 55, false, false, false, "静态"},
    },
};

}  // namespace tarvik
