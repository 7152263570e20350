#include "tests/support/win32_person.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace tarvik::win32::person {

using namespace std::chrono_literals;

namespace {

// WM_GETTEXT rather than GetWindowText: only the message reaches the text of
// another process's controls. Nothing when the window does not answer.
std::optional<std::wstring> ReadText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return std::nullopt;
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 5000, &copied)) {
    return std::nullopt;
  }
  text.resize(static_cast<size_t>(copied));
  return text;
}

// The visible dialog boxes owned by `owner`, until `take` says enough.
void EachPopup(HWND owner, const std::function<bool(HWND)>& take) {
  struct Search {
    HWND owner;
    const std::function<bool(HWND)>& take;
  } search{owner, take};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        if (GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window)) return TRUE;
        if (ClassOf(window) != L"#32770") return TRUE;
        return s->take(window) ? FALSE : TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
}

// Whether the focus on `window`'s thread is `window` or one of its descendants.
bool HasFocusIn(HWND window) {
  const HWND focus = FocusOf(window);
  return focus && (focus == window || IsChild(window, focus));
}

// A character typed into the focused control, as the system posts it.
bool TypeChar(HWND window, wchar_t character) {
  const HWND focus = FocusOf(window);
  return focus && PostMessageW(focus, WM_CHAR, character, 1);
}

// What is left of a wait that ends at `end`.
std::chrono::milliseconds Left(std::chrono::steady_clock::time_point end) {
  return std::max(0ms, std::chrono::duration_cast<std::chrono::milliseconds>(
                           end - std::chrono::steady_clock::now()));
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

std::wstring TextOf(HWND window) { return ReadText(window).value_or(std::wstring()); }

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

HWND FindPopup(HWND owner) {
  HWND found = nullptr;
  EachPopup(owner, [&](HWND popup) {
    found = popup;
    return true;
  });
  return found;
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

HWND FindMessageBox(HWND owner, const std::function<bool(const std::wstring&)>& accept) {
  HWND found = nullptr;
  EachPopup(owner, [&](HWND popup) {
    if (FileNameBox(popup)) return false;
    const std::wstring text = MessageText(popup);
    if (text.empty() || !accept(text)) return false;
    found = popup;
    return true;
  });
  return found;
}

HWND WaitForMessageBox(HWND owner, const std::function<bool(const std::wstring&)>& accept,
                       std::chrono::milliseconds limit) {
  HWND box = nullptr;
  WaitFor([&] { return (box = FindMessageBox(owner, accept)) != nullptr; }, limit);
  return box;
}

HWND WaitForFileDialog(HWND owner, std::chrono::milliseconds limit) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        EachPopup(owner, [&](HWND popup) {
          const HWND name = FileNameBox(popup);
          if (!name || !IsWindowVisible(name)) return false;
          found = popup;
          return true;
        });
        return found != nullptr;
      },
      limit);
  return found;
}

bool Answer(HWND popup, int button, std::chrono::milliseconds limit) {
  PostMessageW(popup, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(popup, button)));
  return WaitFor([&] { return !IsWindow(popup) || !IsWindowVisible(popup); }, limit);
}

namespace {

bool Gone(HWND dialog) { return !IsWindow(dialog) || !IsWindowVisible(dialog); }

// A box of the dialog's own, such as a file it cannot open. No one answers it.
bool Complains(HWND dialog) {
  return FindMessageBox(dialog, [](const std::wstring&) { return true; }) != nullptr;
}

// After Open was pressed: true once the dialog has gone, or once the name
// changed under it, to be typed again. False when it complains or time runs out.
bool OpenTaken(HWND fileDialog, HWND name, const std::wstring& path, std::chrono::steady_clock::time_point end) {
  const bool settled = WaitFor(
      [&] {
        if (Gone(fileDialog) || Complains(fileDialog)) return true;
        const std::optional<std::wstring> text = ReadText(name);
        return text && *text != path;
      },
      Left(end));
  return settled && (Gone(fileDialog) || !Complains(fileDialog));
}

}  // namespace

bool ChooseFile(HWND fileDialog, const std::wstring& path, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  const auto gone = [&] { return Gone(fileDialog); };
  HWND name = nullptr;
  if (!WaitFor([&] { return gone() || (name = FileNameBox(fileDialog)) != nullptr; }, Left(end))) {
    return false;
  }
  while (!gone()) {
    // A dialog still setting itself up can clear what was typed: typed until read back.
    const bool typed = WaitFor(
        [&] {
          if (gone() || ReadText(name) == path) return true;
          SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                              SMTO_ABORTIFHUNG, 5000, nullptr);
          return false;
        },
        Left(end));
    if (!typed) return false;
    if (gone()) break;
    PostMessageW(fileDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(fileDialog, IDOK)));
    // Open ends the dialog. It is pressed again only where the name changed under it.
    if (!OpenTaken(fileDialog, name, path, end)) return false;
  }
  return true;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool PressKey(HWND window, UINT key) {
  const HWND focus = FocusOf(window);
  if (!focus) return false;
  // A stroke has a repeat count of 1 and the key's scan code. A release also sets the previous-state and
  // transition bits.
  const LPARAM down = 1 | static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
  const LPARAM up = down | LPARAM{1} << 30 | LPARAM{1} << 31;
  return PostMessageW(focus, WM_KEYDOWN, key, down) && PostMessageW(focus, WM_KEYUP, key, up);
}

bool AnswerByKeyboard(HWND popup, UINT key, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  const auto gone = [&] { return !IsWindow(popup) || !IsWindowVisible(popup); };
  if (!WaitFor([&] { return HasFocusIn(popup); }, Left(end)) || !PressKey(popup, key)) return false;
  return WaitFor(gone, Left(end));
}

bool ChooseFileByKeyboard(HWND fileDialog, const std::wstring& path, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  const auto gone = [&] { return Gone(fileDialog); };
  HWND name = nullptr;
  // Keys go where the focus is: typing waits for the file-name box to have it.
  const auto nameFocused = [&] { return (name = FileNameBox(fileDialog)) != nullptr && HasFocusIn(name); };
  if (!WaitFor([&] { return gone() || nameFocused(); }, Left(end))) return false;
  while (!gone()) {
    // Each character is read back before the next is typed. A dialog still
    // setting itself up can change the box under the typing: then the box is
    // emptied with End and Backspace, and the typing starts again.
    for (size_t typed = 0; typed < path.size() && !gone();) {
      if (!TypeChar(fileDialog, path[typed])) return false;
      const std::wstring before = path.substr(0, typed);
      const std::wstring after = path.substr(0, typed + 1);
      std::wstring text;
      if (!WaitFor([&] { return gone() || (text = TextOf(name)) != before; }, Left(end))) return false;
      if (gone()) break;
      if (text == after) {
        ++typed;
        continue;
      }
      PressKey(fileDialog, VK_END);
      for (size_t i = 0; i < text.size(); ++i) TypeChar(fileDialog, L'\b');
      if (!WaitFor([&] { return gone() || TextOf(name).empty(); }, Left(end))) return false;
      typed = 0;
    }
    if (gone()) break;
    if (!PressKey(fileDialog, VK_RETURN)) return false;
    // Enter opens the file and ends the dialog. It is pressed again only where the name changed under it.
    if (!OpenTaken(fileDialog, name, path, end)) return false;
  }
  return true;
}

}  // namespace tarvik::win32::person
