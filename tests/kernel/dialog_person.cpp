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
// software emulation is slow to start. Each box is told by its text, not by
// being the next one to show. Exits 0 when the update ended with
// "Firmware upgraded!".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

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

int Fail(const std::string& why) {
  std::printf("DIALOG-FAIL %s\n", why.c_str());
  std::fflush(stdout);
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

// The question before an update: "Fw 1.31 and current is 1.20".
bool IsVersionQuestion(const std::wstring& text) {
  return text.rfind(L"Fw ", 0) == 0 && text.find(L" and current is ") != std::wstring::npos;
}

bool AnyText(const std::wstring&) { return true; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Fail("usage: win32_dialog_person IMAGE [SECONDS]");
  const std::wstring image = argv[1];
  const std::chrono::seconds limit(argc > 2 ? std::wcstol(argv[2], nullptr, 10) : 300);
  const std::string within = " within " + std::to_string(limit.count()) + " s";

  HWND window = nullptr;
  if (!WaitFor([&] { return (window = FindUpdaterWindow()) != nullptr; }, limit)) {
    return Fail("the window did not appear" + within);
  }
  // The title shows the firmware version once the controller has answered.
  const bool found = WaitFor([&] { return TextOf(window).find(L"(Fw v") != std::wstring::npos; },
                             limit);
  Say("DIALOG-TITLE", TextOf(window));
  if (!found) return Fail("the title did not show a controller's version" + within);

  const HWND button = GetDlgItem(window, IDC_USB_UPDATE);
  if (!WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, limit)) {
    return Fail("\"USB Update\" stayed disabled" + within);
  }
  PostMessageW(button, BM_CLICK, 0, 0);
  const HWND files = WaitForFileDialog(window, limit);
  if (!files) return Fail("no file dialog with a file-name box" + within);
  if (!ChooseFile(files, image, limit)) {
    Say("DIALOG-FILE-NAME", TextOf(FileNameBox(files)));
    if (const HWND box = FindMessageBox(files, AnyText)) Say("DIALOG-FILE-BOX", MessageText(box));
    return Fail("the file dialog did not take the image" + within);
  }
  // The box after the file dialog must be the question; another box ends the update.
  const HWND confirm = WaitForMessageBox(window, AnyText, limit);
  if (!confirm) return Fail("no question about the version change" + within);
  const std::wstring question = MessageText(confirm);
  Say("DIALOG-CONFIRM", question);
  if (!IsVersionQuestion(question)) {
    return Fail("the box after the file dialog is not the version question");
  }
  if (!Answer(confirm, IDOK, limit)) return Fail("the version question stayed after OK" + within);

  const HWND outcome = WaitForMessageBox(
      window, [](const std::wstring& text) { return !IsVersionQuestion(text); }, limit);
  if (!outcome) return Fail("the update did not end" + within);
  const std::wstring result = MessageText(outcome);
  Say("DIALOG-RESULT", result);
  if (!Answer(outcome, IDOK, limit)) return Fail("the result box stayed after OK" + within);
  // The notice below the progress bar shows once the box is answered, and the
  // button comes back when the update has ended.
  const HWND notice = GetDlgItem(window, IDC_STATIC_NOTICE);
  const bool shown = WaitFor([&] { return IsWindowVisible(notice) != FALSE; }, limit);
  Say("DIALOG-NOTICE", shown ? L"shown" : L"hidden");
  if (!WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, limit)) {
    return Fail("\"USB Update\" stayed disabled after the update" + within);
  }
  // The button comes back a moment before the worker has wound up: a close
  // in that moment asks whether to stop the update. The person says no and
  // closes again.
  const auto end = std::chrono::steady_clock::now() + limit;
  while (IsWindow(window)) {
    if (std::chrono::steady_clock::now() > end) return Fail("the window did not close" + within);
    PostMessageW(window, WM_CLOSE, 0, 0);
    HWND asked = nullptr;
    WaitFor([&] { return !IsWindow(window) || (asked = FindMessageBox(window, AnyText)); }, limit);
    if (asked) {
      Say("DIALOG-ASKED", MessageText(asked));
      if (!Answer(asked, IDCANCEL, limit)) return Fail("the question on closing stayed" + within);
    }
  }
  return result == L"\n Firmware upgraded! \n" ? 0 : 1;
}
