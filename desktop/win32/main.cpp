// TarvikUpdate.exe: the updater's window on Windows, on the real HID devices.
#include "platform/win32/win32_api.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/cupdate_app.h"
#include "platform/win32/setupapi_hid_bus.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_window_host.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  // The dialog's progress bar is a common control: its class must be
  // registered before the dialog is built from its template.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
  // The file dialog hosts shell components, which expect a single-threaded apartment.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  tarvik::win32::Win32Clock clock;
  tarvik::win32::Win32System system(clock);
  tarvik::win32::SetupApiHidBus bus;
  tarvik::win32::Win32WindowHost host(instance);
  tarvik::CUpdateApp app(tarvik::PlatformServices{bus, host, system});
  app.InitInstance();

  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
