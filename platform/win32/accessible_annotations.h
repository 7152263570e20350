// What screen readers read of the dialog's controls beyond their texts. The
// system's annotation service adds a name or a live setting to a control's
// standard accessible object. The service is a COM object: the thread that
// calls needs an apartment. Where the system has no service, or it declines
// a property, nothing is added.
#pragma once

#include <utility>
#include <vector>

#include "platform/win32/win32_api.h"

#include <oleacc.h>

namespace tarvik::win32 {

class AccessibleAnnotations {
 public:
  AccessibleAnnotations() = default;
  ~AccessibleAnnotations();
  AccessibleAnnotations(const AccessibleAnnotations&) = delete;
  AccessibleAnnotations& operator=(const AccessibleAnnotations&) = delete;

  // The name a screen reader reads for `control`, in place of its text.
  void SetName(HWND control, const wchar_t* name);
  // Makes `control` a polite live region for UI Automation. After
  // AnnounceChange a reader speaks its new text once the user is idle.
  void SetPoliteLiveRegion(HWND control);
  // Tells screen readers that a live region's text has changed.
  static void AnnounceChange(HWND control);
  // Takes back every annotation while the controls still exist.
  void ClearAll();
  // Lets the service go. Call before the thread leaves its apartment.
  void Release();

 private:
  IAccPropServices* Service();
  void Remember(HWND control, const MSAAPROPID& property);

  IAccPropServices* m_service = nullptr;
  bool m_serviceTried = false;
  // Each annotated control with the property it was given.
  std::vector<std::pair<HWND, MSAAPROPID>> m_annotated;
};

}  // namespace tarvik::win32
