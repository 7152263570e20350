#include "platform/win32/win32_window_host.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <objbase.h>

#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32/file_filter.h"
#include "platform/win32/utf16.h"
#include "res/dialog_template.h"

namespace tarvik::win32 {

namespace {

// The call window's private message: tasks are queued.
constexpr UINT kMsgRunTasks = WM_APP + 1;

constexpr wchar_t kCallWindowClass[] = L"TarvikUpdateUiCalls";

// Room for long paths (\\?\ prefixes, deep folders); MAX_PATH would cut them.
constexpr size_t kFileNameCapacity = 32768;

std::wstring ApplicationName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

// The host opening a message box on this thread, for the box's hook.
thread_local Win32WindowHost* t_openingBox = nullptr;

bool IsProgressBar(HWND control) {
  wchar_t name[32] = {};
  GetClassNameW(control, name, 32);
  return std::wstring_view(name) == PROGRESS_CLASSW;
}

bool IsPushButton(HWND control) {
  wchar_t name[16] = {};
  GetClassNameW(control, name, 16);
  const LONG_PTR type = GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
  return std::wstring_view(name) == WC_BUTTONW && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

}  // namespace

Win32WindowHost::Win32WindowHost(HINSTANCE instance, int templateId)
    : m_instance(instance ? instance : GetModuleHandleW(nullptr)),
      m_templateId(templateId),
      m_tasks([this] { WakeUiThread(); },
              [this](DeviceChange change) {
                if (m_dialog) m_dialog->OnDeviceChange(change);
              }) {}

Win32WindowHost::~Win32WindowHost() = default;

int Win32WindowHost::RunModal(IDialogEvents& dialog) {
  m_dialog = &dialog;
  if (!CreateCallWindow()) {
    m_dialog = nullptr;
    return -1;
  }
  m_tasks.Open();
  // The annotation service is a COM object. The file dialog's shell parts
  // want a single-threaded apartment too.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const INT_PTR result =
      DialogBoxParamW(m_instance, MAKEINTRESOURCEW(m_templateId), nullptr,
                      &Win32WindowHost::DialogProc, reinterpret_cast<LPARAM>(this));
  m_annotations.Release();
  if (SUCCEEDED(com)) CoUninitialize();
  // Closed at WM_DESTROY already, unless the dialog never came up. Wakes
  // still on their way go with the window.
  m_tasks.Close();
  DestroyWindow(m_callWindow);
  m_callWindow = nullptr;
  m_dialog = nullptr;
  return static_cast<int>(result);
}

bool Win32WindowHost::CreateCallWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Win32WindowHost::CallWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kCallWindowClass;
  // A second host in the same process finds the class registered already.
  if (!RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;
  const HWND window = CreateWindowExW(0, kCallWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, GetModuleHandleW(nullptr), this);
  if (!window) return false;
  m_callWindow = window;
  return true;
}

void Win32WindowHost::WakeUiThread() { PostMessageW(m_callWindow, kMsgRunTasks, 0, 0); }

LRESULT CALLBACK Win32WindowHost::CallWindowProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* host = reinterpret_cast<Win32WindowHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (host && message == kMsgRunTasks) {
    host->m_tasks.RunQueued();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK Win32WindowHost::DialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lParam);
  auto* host = reinterpret_cast<Win32WindowHost*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!host || !host->m_dialog) return FALSE;
  return host->OnDialogMessage(window, message, wParam, lParam);
}

INT_PTR Win32WindowHost::OnDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // Set before the window's own start-up, which sets texts and icons on it.
      m_dialogWindow.store(window);
      for (const DialogControlTemplate& control : kUpdateDialogTemplate.controls) {
        if (IsLiveItem(control.id)) m_annotations.SetPoliteLiveRegion(GetDlgItem(window, control.id));
      }
      return m_dialog->OnInitDialog() ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint(window) ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      // One of the few dialog messages whose result is the return value itself.
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_DEVICECHANGE: {
      // The window hears of arrivals, removals and changed device nodes. A
      // query to remove a device is granted.
      switch (wParam & 0xFFFF) {
        case DBT_DEVNODES_CHANGED:
          m_dialog->OnDeviceChange(DeviceChange::kNodesChanged);
          break;
        case DBT_DEVICEARRIVAL:
          m_dialog->OnDeviceChange(DeviceChange::kArrival);
          break;
        case DBT_DEVICEREMOVECOMPLETE:
          m_dialog->OnDeviceChange(DeviceChange::kRemoval);
          break;
        default:
          break;
      }
      SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    case WM_TIMER:
      m_dialog->OnTimer(static_cast<uintptr_t>(wParam));
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDCANCEL) {
        // Esc; the close box arrives as WM_CLOSE.
        RequestClose();
        return TRUE;
      }
      // Only clicks of the window's own buttons. The dialog manager's IDOK for
      // Enter without a default button does not end this window.
      if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
        m_dialog->OnCommand(id);
      } else if (id == IDOK && lParam == 0) {
        PressFocusedButton(window);
      }
      return TRUE;
    }
    case WM_CLOSE:
      RequestClose();
      return TRUE;
    case WM_DESTROY:
      // Calls from here on would find the controls gone: the waiting ones are
      // answered, the queued ones dropped.
      m_tasks.Close();
      m_annotations.ClearAll();
      return FALSE;
    case WM_NCDESTROY:
      m_dialogWindow.store(nullptr);
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32WindowHost::PressFocusedButton(HWND window) {
  // The dialog manager makes a button the default when the focus moves to it
  // from another control. Wine's does not when the focus comes with the
  // window, and then Enter reaches the window as IDOK. Enter presses the
  // focused button, as it would the default one.
  const HWND focus = GetFocus();
  if (focus && IsChild(window, focus) && IsPushButton(focus) && IsWindowEnabled(focus)) {
    m_dialog->OnCommand(GetDlgCtrlID(focus));
  }
}

void Win32WindowHost::RequestClose() {
  const HWND window = m_dialogWindow.load();
  if (window && m_dialog->OnCloseRequest()) EndDialog(window, IDCANCEL);
}

void Win32WindowHost::EndModal(int result) {
  if (const HWND window = m_dialogWindow.load()) EndDialog(window, result);
}

HWND Win32WindowHost::Item(int id) const {
  const HWND window = m_dialogWindow.load();
  return window ? GetDlgItem(window, id) : nullptr;
}

void Win32WindowHost::SetWindowText(const std::string& text) {
  if (const HWND window = m_dialogWindow.load()) SetWindowTextW(window, Utf8ToWide(text).c_str());
}

void Win32WindowHost::SetItemText(int id, const std::string& text) {
  const HWND item = Item(id);
  if (!item) return;
  SetWindowTextW(item, Utf8ToWide(text).c_str());
  // A hidden live region is announced when it shows.
  if (IsLiveItem(id) && IsWindowVisible(item)) AccessibleAnnotations::AnnounceChange(item);
}

void Win32WindowHost::EnableItem(int id, bool enable) {
  const HWND item = Item(id);
  if (!item) return;
  EnableWindow(item, enable ? TRUE : FALSE);
  if (enable) KeepFocusInWindow(m_dialogWindow.load());
}

void Win32WindowHost::KeepFocusInWindow(HWND window) {
  // A control disabled while it has the focus leaves the focus to no control.
  // The dialog manager then gives it to the first control it can take, which
  // may be no tab stop, such as the progress bar.
  if (!window || GetActiveWindow() != window || !IsWindowEnabled(window)) return;
  const HWND focus = GetFocus();
  if (focus && IsChild(window, focus) && (GetWindowLongPtrW(focus, GWL_STYLE) & WS_TABSTOP) != 0) return;
  // SetFocus, as at the window's start: a button is drawn as it was then.
  const HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
  if (first && IsChild(window, first) && IsWindowEnabled(first) && IsWindowVisible(first)) SetFocus(first);
}

bool Win32WindowHost::IsItemEnabled(int id) {
  const HWND item = Item(id);
  return item && IsWindowEnabled(item);
}

void Win32WindowHost::ShowItem(int id, bool show) {
  const HWND item = Item(id);
  if (!item) return;
  // ShowWindow tells whether the control was visible before.
  const bool wasVisible = ShowWindow(item, show ? SW_SHOW : SW_HIDE) != FALSE;
  if (show && !wasVisible && IsLiveItem(id)) AccessibleAnnotations::AnnounceChange(item);
}

void Win32WindowHost::SetItemAccessibleName(int id, const std::string& name) {
  const HWND item = Item(id);
  if (!item) return;
  const std::wstring wide = Utf8ToWide(name);
  m_annotations.SetName(item, wide.c_str());
  // A progress bar draws no text. The standard accessible object reads its
  // text as its name where annotations go unread, as under Wine.
  if (IsProgressBar(item)) SetWindowTextW(item, wide.c_str());
}

bool Win32WindowHost::IsLiveItem(int id) const {
  if (m_templateId != kUpdateDialogTemplate.id) return false;
  for (const DialogControlTemplate& control : kUpdateDialogTemplate.controls) {
    if (control.id == id) return control.liveRegion;
  }
  return false;
}

void Win32WindowHost::SetProgressRange(int id, int low, int high) {
  const HWND item = Item(id);
  if (!item) return;
  if (low >= 0 && low <= 0xFFFF && high >= 0 && high <= 0xFFFF) {
    SendMessageW(item, PBM_SETRANGE, 0, MAKELPARAM(low, high));
  } else {
    SendMessageW(item, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
  }
}

void Win32WindowHost::SetProgressPos(int id, int pos) {
  // The control keeps the position inside its range itself.
  if (const HWND item = Item(id)) SendMessageW(item, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32WindowHost::SetIcon(int resourceId, bool big) {
  // A shared icon: the system keeps it for the life of the module.
  const HICON icon = LoadIconW(m_instance, MAKEINTRESOURCEW(resourceId));
  if (big) m_icon = icon;  // the minimised window draws its big icon
  if (const HWND window = m_dialogWindow.load()) {
    SendMessageW(window, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
}

bool Win32WindowHost::OnPaint(HWND window) {
  if (!::IsIconic(window)) return false;
  RECT client{};
  GetClientRect(window, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(window, &paint);
  SendMessageW(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  DrawIcon(dc, x, y, m_icon);
  EndPaint(window, &paint);
  return true;
}

MsgBoxAnswer Win32WindowHost::MessageBox(const std::string& text,
                                         const std::optional<std::string>& caption,
                                         MsgBoxButtons buttons) {
  const std::wstring title = caption ? Utf8ToWide(*caption) : ApplicationName();
  // The system does not tell a box's window. A hook on this thread sees it
  // made, so that CloseMessageBox can end it.
  m_boxes.push_back(OpenBox{text});
  Win32WindowHost* const outer = t_openingBox;
  t_openingBox = this;
  const HHOOK hook = SetWindowsHookExW(WH_CBT, &Win32WindowHost::BoxHookProc, nullptr, GetCurrentThreadId());
  const int answer = MessageBoxW(m_dialogWindow.load(), Utf8ToWide(text).c_str(), title.c_str(),
                                 buttons == MsgBoxButtons::kOk ? MB_OK : MB_OKCANCEL);
  if (hook) UnhookWindowsHookEx(hook);
  t_openingBox = outer;
  m_boxes.pop_back();
  return answer == IDOK ? MsgBoxAnswer::kOk : MsgBoxAnswer::kCancel;
}

LRESULT CALLBACK Win32WindowHost::BoxHookProc(int code, WPARAM wParam, LPARAM lParam) {
  // The first dialog window made after the box was asked for is the box.
  Win32WindowHost* const host = t_openingBox;
  if (code == HCBT_CREATEWND && host && !host->m_boxes.empty() && !host->m_boxes.back().window) {
    const HWND window = reinterpret_cast<HWND>(wParam);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring_view(name) == L"#32770") host->m_boxes.back().window = window;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void Win32WindowHost::CloseMessageBox(const std::string& text) {
  for (auto open = m_boxes.rbegin(); open != m_boxes.rend(); ++open) {
    if (open->text != text || !open->window || !IsWindowVisible(open->window)) continue;
    // The box is hidden at once. Its MessageBoxW returns once the calls above it have returned.
    EndDialog(open->window, IDCANCEL);
    return;
  }
}

std::optional<std::string> Win32WindowHost::OpenFileDialog(const FileDialogRequest& request) {
  const std::wstring filter = FileFilterToWin32(request.types);
  const std::wstring initialDirectory = Utf8ToWide(request.initialDirectory);
  std::vector<wchar_t> file(kFileNameCapacity, L'\0');

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = m_dialogWindow.load();
  dialog.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = initialDirectory.empty() ? nullptr : initialDirectory.c_str();
  // The dialog of the original updater: read-only files hidden, "*.*" as the
  // default extension, and the overwrite prompt, which an open dialog never shows.
  dialog.lpstrDefExt = L"*.*";
  dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return WideToUtf8(file.data());
}

void Win32WindowHost::SetTimer(uintptr_t timerId, uint32_t intervalMs) {
  if (const HWND window = m_dialogWindow.load()) ::SetTimer(window, timerId, intervalMs, nullptr);
}

void Win32WindowHost::KillTimer(uintptr_t timerId) {
  if (const HWND window = m_dialogWindow.load()) ::KillTimer(window, timerId);
}

bool Win32WindowHost::IsUiThread() { return m_tasks.IsUiThread(); }

bool Win32WindowHost::SendToUi(const std::function<void()>& op) { return m_tasks.Send(op); }

void Win32WindowHost::PostToUi(std::function<void()> op) { m_tasks.Post(std::move(op)); }

void Win32WindowHost::PostDeviceChange(DeviceChange change) { m_tasks.PostDeviceChange(change); }

}  // namespace tarvik::win32
