// The person at TarvikUpdate.exe's window, from a process of its own, for the
// kernel test's guest, where the window runs under Wine on a controller
// played on a USB gadget. Waits for the window to show a controller's
// firmware version in its title, presses "USB Update", picks IMAGE in the
// file dialog, confirms the version change, waits for the message box that
// ends the update, answers it and closes the window. Prints what it saw:
//   DIALOG-TITLE <title>     DIALOG-CONFIRM <question>
//   DIALOG-RESULT <text>     DIALOG-NOTICE <shown|hidden>
//   DIALOG-ASKED <question>  (a question on closing, answered Cancel)
// and "DIALOG-FAIL <why>" where the window did not do its part.
//
//   win32_dialog_person IMAGE [SECONDS]
//
// SECONDS (default 300) bounds each wait for the program: Wine under
// software emulation is slow to start. Exits 0 when the update ended with
// "Firmware upgraded!".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/win32/utf16.h"
#include "platform/win32/win32_api.h"
#include "res/resource.h"
#include "tests/support/win32_person.h"

namespace {

using namespace tarvik::win32;
using namespace tarvik::win32::person;

void Say(const char* what, const std::wstring& text) {
  std::printf("%s %s\n", what, WideToUtf8(text).c_str());
  std::fflush(stdout);
}

int Fail(const char* why) {
  std::printf("DIALOG-FAIL %s\n", why);
  return 1;
}

// The updater's own window: a dialog box with no owner whose title names the program.
HWND FindUpdaterWindow() {
  HWND found = nullptr;
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        if (GetWindow(window, GW_OWNER) || !IsWindowVisible(window)) return TRUE;
        if (ClassOf(window) != L"#32770" || TextOf(window).rfind(L"Tarvik Update", 0) != 0) {
          return TRUE;
        }
        *reinterpret_cast<HWND*>(context) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// A message box's text, once it has one: a box can show before its text is
// set when the machine is slow.
std::wstring SettledText(HWND box) {
  std::wstring text;
  WaitFor([&] { return !(text = MessageText(box)).empty(); }, std::chrono::seconds(10));
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Fail("usage: win32_dialog_person IMAGE [SECONDS]");
  const std::wstring image = argv[1];
  const std::chrono::seconds limit(argc > 2 ? std::wcstol(argv[2], nullptr, 10) : 300);

  HWND window = nullptr;
  if (!WaitFor([&] { return (window = FindUpdaterWindow()) != nullptr; }, limit)) {
    return Fail("the window did not appear");
  }
  // The title shows the firmware version once the controller has answered.
  const bool found = WaitFor([&] { return TextOf(window).find(L"(Fw v") != std::wstring::npos; },
                             limit);
  Say("DIALOG-TITLE", TextOf(window));
  if (!found) return Fail("the title never showed a controller's version");

  const HWND button = GetDlgItem(window, IDC_USB_UPDATE);
  if (!WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, limit)) {
    return Fail("\"USB Update\" stayed disabled");
  }
  PostMessageW(button, BM_CLICK, 0, 0);
  const HWND files = WaitForPopup(window, limit);
  if (!files || !FileNameBox(files)) return Fail("no file dialog");
  ChooseFile(files, image);
  const HWND confirm = WaitForPopup(window, limit);
  if (!confirm) return Fail("no question about the version change");
  Say("DIALOG-CONFIRM", SettledText(confirm));
  Answer(confirm, IDOK);

  const HWND outcome = WaitForPopup(window, limit);
  if (!outcome) return Fail("the update did not end within the time allowed");
  const std::wstring result = SettledText(outcome);
  Say("DIALOG-RESULT", result);
  Answer(outcome, IDOK);
  // The notice below the progress bar shows once the box is answered, and the
  // button comes back when the update has ended.
  const HWND notice = GetDlgItem(window, IDC_STATIC_NOTICE);
  const bool shown =
      WaitFor([&] { return IsWindowVisible(notice) != FALSE; }, std::chrono::seconds(10));
  Say("DIALOG-NOTICE", shown ? L"shown" : L"hidden");
  if (!WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, limit)) {
    return Fail("\"USB Update\" stayed disabled after the update");
  }
  // The button comes back a moment before the worker has wound up: a close
  // in that moment asks whether to stop the update. The person says no and
  // closes again.
  const auto end = std::chrono::steady_clock::now() + limit;
  while (IsWindow(window)) {
    if (std::chrono::steady_clock::now() > end) return Fail("the window did not close");
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitFor([&] { return !IsWindow(window) || FindPopup(window); }, std::chrono::seconds(10))) {
      if (const HWND question = IsWindow(window) ? FindPopup(window) : nullptr) {
        Say("DIALOG-ASKED", SettledText(question));
        Answer(question, IDCANCEL);
        std::this_thread::sleep_for(std::chrono::seconds(1));
      }
    }
  }
  return result == L"\n Firmware upgraded! \n" ? 0 : 1;
}
