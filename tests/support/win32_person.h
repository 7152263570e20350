// The person at the screen of a Windows dialog: finds windows with the window
// manager's own functions, clicks with BM_CLICK or uses the keyboard, and
// answers message boxes and the file dialog as a person would. Everything goes
// through window messages, so the windows may belong to another thread or to
// another process.
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

// The visible message box owned by `owner` whose text passes `accept`. A box
// counts once it has a text: it can show before its text is set. The file
// dialog is no message box.
HWND FindMessageBox(HWND owner, const std::function<bool(const std::wstring&)>& accept);
HWND WaitForMessageBox(HWND owner, const std::function<bool(const std::wstring&)>& accept,
                       std::chrono::milliseconds limit = std::chrono::seconds(15));
// The visible file dialog owned by `owner`, once its file-name box is there.
HWND WaitForFileDialog(HWND owner, std::chrono::milliseconds limit = std::chrono::seconds(15));

// Presses `button` of a dialog box and waits for the box to go. False when it
// is still there after `limit`.
bool Answer(HWND popup, int button, std::chrono::milliseconds limit = std::chrono::seconds(5));
// Types `path` into the file dialog until the file-name box reads it back,
// presses Open and waits for the dialog to go. Where the box's text changes
// under it before the dialog has gone, types it again and presses Open again.
// False when the dialog is still there after `limit`.
bool ChooseFile(HWND fileDialog, const std::wstring& path,
                std::chrono::milliseconds limit = std::chrono::seconds(15));

// The keyboard. Keys go to the control with the focus on the thread of the
// window given, through that thread's message queue, as the system posts them.

// The control with the keyboard focus on `window`'s thread, or nullptr.
HWND FocusOf(HWND window);
// Presses and releases `key` on the focused control. False when no control has the focus.
bool PressKey(HWND window, UINT key);
// Waits for the focus to be in `popup`, presses `key` and waits for the box to
// go. Enter presses the focused button or else the default one. False when it
// is still there after `limit`.
bool AnswerByKeyboard(HWND popup, UINT key = VK_RETURN,
                      std::chrono::milliseconds limit = std::chrono::seconds(5));
// ChooseFile by keyboard: types `path` into the focused file-name box one
// character at a time until it reads back, then presses Enter.
bool ChooseFileByKeyboard(HWND fileDialog, const std::wstring& path,
                          std::chrono::milliseconds limit = std::chrono::seconds(15));

}  // namespace tarvik::win32::person
