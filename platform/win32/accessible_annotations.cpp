#include "platform/win32/accessible_annotations.h"

#include <algorithm>

namespace tarvik::win32 {

namespace {

// UI Automation's LiveSetting property. The MinGW headers of Debian 12 lack it.
constexpr GUID kLiveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
// LiveSetting's value Polite.
constexpr LONG kPolite = 1;
// EVENT_OBJECT_LIVEREGIONCHANGED. The headers give it only to programs for
// Windows 8 and later. Older systems pass it on to no one.
constexpr DWORD kEventLiveRegionChanged = 0x8019;

}  // namespace

AccessibleAnnotations::~AccessibleAnnotations() { Release(); }

IAccPropServices* AccessibleAnnotations::Service() {
  if (!m_serviceTried) {
    m_serviceTried = true;
    void* service = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                   &service))) {
      m_service = static_cast<IAccPropServices*>(service);
    }
  }
  return m_service;
}

void AccessibleAnnotations::Remember(HWND control, const MSAAPROPID& property) {
  const auto entry = std::make_pair(control, property);
  if (std::find(m_annotated.begin(), m_annotated.end(), entry) == m_annotated.end()) m_annotated.push_back(entry);
}

void AccessibleAnnotations::SetName(HWND control, const wchar_t* name) {
  IAccPropServices* const service = Service();
  if (!control || !service) return;
  if (SUCCEEDED(service->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, name))) {
    Remember(control, PROPID_ACC_NAME);
  }
}

void AccessibleAnnotations::SetPoliteLiveRegion(HWND control) {
  IAccPropServices* const service = Service();
  if (!control || !service) return;
  VARIANT polite{};
  polite.vt = VT_I4;
  polite.lVal = kPolite;
  if (SUCCEEDED(service->SetHwndProp(control, OBJID_CLIENT, CHILDID_SELF, kLiveSettingProperty, polite))) {
    Remember(control, kLiveSettingProperty);
  }
}

void AccessibleAnnotations::AnnounceChange(HWND control) {
  if (control) NotifyWinEvent(kEventLiveRegionChanged, control, OBJID_CLIENT, CHILDID_SELF);
}

void AccessibleAnnotations::ClearAll() {
  if (m_service) {
    for (auto& [control, property] : m_annotated) {
      m_service->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF, &property, 1);
    }
  }
  m_annotated.clear();
}

void AccessibleAnnotations::Release() {
  ClearAll();
  if (m_service) m_service->Release();
  m_service = nullptr;
  m_serviceTried = false;
}

}  // namespace tarvik::win32
