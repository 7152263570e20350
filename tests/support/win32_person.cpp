#include "tests/support/win32_person.h"

#include <thread>

namespace tarvik::win32::person {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// WM_GETTEXT rather than GetWindowText: only the message reaches the text of
// another process's controls.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return {};
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 5000, &copied)) {
    return {};
  }
  text.resize(static_cast<size_t>(copied));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

HWND FindPopup(HWND owner) {
  struct Search {
    HWND owner;
    HWND found;
  } search{owner, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        if (GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window)) return TRUE;
        if (ClassOf(window) != L"#32770") return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForPopup(HWND owner, std::chrono::milliseconds limit) {
  HWND popup = nullptr;
  WaitFor([&] { return (popup = FindPopup(owner)) != nullptr; }, limit);
  return popup;
}

HWND FileNameBox(HWND popup) {
  const HWND combo = GetDlgItem(popup, 0x47C);      // cmb13
  return combo ? combo : GetDlgItem(popup, 0x480);  // edt1
}

std::wstring MessageText(HWND box) {
  struct Search {
    std::wstring text;
  } search;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        if (ClassOf(child) != L"Static") return TRUE;
        s->text = TextOf(child);
        return s->text.empty();
      },
      reinterpret_cast<LPARAM>(&search));
  return search.text;
}

void Answer(HWND popup, int button) {
  PostMessageW(popup, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(popup, button)));
  WaitFor([&] { return !IsWindow(popup) || !IsWindowVisible(popup); }, 5s);
}

void ChooseFile(HWND fileDialog, const std::wstring& path) {
  SendMessageTimeoutW(FileNameBox(fileDialog), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG, 5000, nullptr);
  Answer(fileDialog, IDOK);
}

}  // namespace tarvik::win32::person
