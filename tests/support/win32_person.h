// The person at the screen of a Windows dialog: finds windows with the window
// manager's own functions, clicks with BM_CLICK and answers message boxes and
// the file dialog as a person would. Everything goes through window messages,
// so the windows may belong to another thread or to another process.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/win32/win32_api.h"

namespace tarvik::win32::person {

// Polls `condition` every 10 ms until it holds or `limit` has passed.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(15));

std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);

// The visible dialog box (message box or file dialog) owned by `owner`.
HWND FindPopup(HWND owner);
HWND WaitForPopup(HWND owner, std::chrono::milliseconds limit = std::chrono::seconds(15));

// The file dialog's file-name box; message boxes have none.
HWND FileNameBox(HWND popup);
// A message box's text.
std::wstring MessageText(HWND box);

// Presses `button` of a dialog box and waits for the box to go.
void Answer(HWND popup, int button);
// Types `path` into the file dialog and presses Open.
void ChooseFile(HWND fileDialog, const std::wstring& path);

}  // namespace tarvik::win32::person
