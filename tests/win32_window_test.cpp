// The Windows window host driving the real dialog (template 102 of the linked
// resources). A second thread plays the user (tests/support/win32_person.h).
// Needs a display (Xvfb under Wine). Screenshots of the main window go to TARVIK_SCREENSHOT_DIR, or to
// "screenshots" in the working directory, as BMPs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32_api.h"

#include <commctrl.h>
#include <dbt.h>
#include <oleacc.h>

#include "app/cupdate_dlg.h"
#include "app/window_texts.h"
#include "res/text_table.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_window_host.h"
#include "res/resource.h"
#include "sim/sim_boot_controller.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_setup.h"
#include "tests/support/fake_system.h"
#include "tests/support/image_builder.h"
#include "tests/support/win32_person.h"
#include "texts/interface_texts.h"

namespace tarvik::win32 {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The person at the screen (tests/support/win32_person.h).

using namespace person;

int ProgressPos(HWND dialog) {
  return static_cast<int>(SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));
}

// ---------------------------------------------------------------------------
// The screen reader: what MSAA's standard accessible object of a window says.

// The reading thread's COM apartment.
struct ComApartment {
  ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComApartment() { CoUninitialize(); }
};

struct Accessible {
  std::wstring name;
  long role = 0;
};

Accessible Read(HWND window) {
  Accessible read;
  IAccessible* object = nullptr;
  const HRESULT found =
      AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&object));
  if (FAILED(found)) return read;
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  if (object->get_accName(self, &name) == S_OK && name) read.name = name;
  SysFreeString(name);
  VARIANT role{};
  if (object->get_accRole(self, &role) == S_OK && role.vt == VT_I4) read.role = role.lVal;
  object->Release();
  return read;
}

// What a screen reader reads at each live-region event, heard on the dialog's thread.
struct Heard {
  std::mutex lock;
  std::vector<std::wstring> texts;
  size_t Count() {
    std::lock_guard<std::mutex> hold(lock);
    return texts.size();
  }
};
Heard* g_heard = nullptr;

void CALLBACK HearLiveRegion(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
  if (!g_heard || object != OBJID_CLIENT || child != CHILDID_SELF) return;
  std::wstring name = Read(window).name;
  std::lock_guard<std::mutex> hold(g_heard->lock);
  g_heard->texts.push_back(std::move(name));
}

// ---------------------------------------------------------------------------
// Screenshots: the window as the screen shows it, as a BMP (the test script
// turns them into PNGs).

// Decided before any test runs: the file dialog moves the current directory.
const fs::path kScreenshotDirectory = [] {
  const wchar_t* configured = _wgetenv(L"TARVIK_SCREENSHOT_DIR");
  return configured && *configured ? fs::path(configured) : fs::absolute(L"screenshots");
}();

// Writes what the screen shows of `window` (frame included) as `name`.bmp.
void SaveScreenshot(HWND window, const std::wstring& name) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  std::this_thread::sleep_for(300ms);  // the X server catches up with the painting
  RECT frame;
  ASSERT_TRUE(GetWindowRect(window, &frame));
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = frame.right - frame.left;
  header.biHeight = -(frame.bottom - frame.top);  // top-down rows
  header.biPlanes = 1;
  header.biBitCount = 32;
  const DWORD imageSize = static_cast<DWORD>(header.biWidth * -header.biHeight * 4);
  void* bits = nullptr;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                          DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  const bool copied = bitmap && BitBlt(memory, 0, 0, header.biWidth, -header.biHeight, screen,
                                       frame.left, frame.top, SRCCOPY);
  GdiFlush();
  if (copied) {
    // The screen has no alpha: a 32-bit bitmap would read as transparent.
    auto* pixels = static_cast<uint8_t*>(bits);
    for (DWORD i = 3; i < imageSize; i += 4) pixels[i] = 0xFF;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + imageSize;
    fs::create_directories(kScreenshotDirectory);
    std::ofstream out(kScreenshotDirectory / (name + L".bmp"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(static_cast<const char*>(bits), imageSize);
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  EXPECT_TRUE(copied);
}

// ---------------------------------------------------------------------------
// A session: the dialog runs on the test's thread, the person on another.

class Session {
 public:
  // Runs `dialog` modally in `host` while `person` acts on its window; if the
  // person gives up, the window is ended for them.
  static int Run(Win32WindowHost& host, IDialogEvents& dialog, std::function<void(HWND)> person) {
    std::thread user([&] {
      HWND window = nullptr;
      if (!WaitFor([&] { return (window = host.DialogWindow()) != nullptr; })) {
        ADD_FAILURE() << "the dialog did not appear";
        return;
      }
      person(window);
      if (WaitFor([&] { return host.DialogWindow() == nullptr; }, 10s)) return;
      ADD_FAILURE() << "the dialog is still open after the session";
      while (host.DialogWindow()) {
        if (const HWND popup = FindPopup(window)) Answer(popup, IDCANCEL);
        host.PostToUi([&host] { host.EndModal(-2); });
        std::this_thread::sleep_for(200ms);
      }
    });
    const int result = host.RunModal(dialog);
    user.join();
    return result;
  }
};

// A window made of callbacks; unset ones do nothing.
struct ScriptedDialog final : IDialogEvents {
  std::function<void()> onInit;
  std::function<void(DeviceChange)> onDeviceChange;
  std::function<void(int)> onCommand;
  std::function<bool()> onClose;

  bool OnInitDialog() override {
    if (onInit) onInit();
    return true;
  }
  void OnDeviceChange(DeviceChange change) override {
    if (onDeviceChange) onDeviceChange(change);
  }
  void OnTimer(uintptr_t) override {}
  void OnCommand(int id) override {
    if (onCommand) onCommand(id);
  }
  bool IsBusy() const override { return false; }
  bool OnCloseRequest() override { return onClose ? onClose() : true; }
};

class Win32HostTest : public ::testing::Test {
 protected:
  Win32WindowHost host;
  ScriptedDialog dialog;
};

TEST_F(Win32HostTest, ControlsAreTheTemplatesAndTheProgressBarClamps) {
  dialog.onInit = [&] {
    host.SetWindowText("Tarvik 固件");
    host.SetItemText(IDC_HELP_TEXT, "1. 按住配对键\r\n2.");
    host.ShowItem(IDC_STATIC_NOTICE, false);  // id -1 addresses the notice
    host.EnableItem(IDC_USB_UPDATE, false);
    host.SetProgressRange(IDC_PROGRESS, 0, 100);
    host.SetProgressPos(IDC_PROGRESS, 128);
  };
  Session::Run(host, dialog, [&](HWND window) {
    EXPECT_EQ(TextOf(window), L"Tarvik 固件");
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_HELP_TEXT)), L"1. 按住配对键\r\n2.");
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_USB_UPDATE)), L"USB_Update");
    const HWND notice = GetDlgItem(window, IDC_STATIC_NOTICE);
    EXPECT_EQ(TextOf(notice), L"Firmware upgraded!");
    EXPECT_FALSE(IsWindowVisible(notice));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_USB_UPDATE)));
    EXPECT_EQ(ProgressPos(window), 100);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW, WS_EX_APPWINDOW);
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
}

TEST_F(Win32HostTest, ClicksAndDeviceNoticesReachTheWindowAndClosingIsItsDecision) {
  std::vector<int> commands;
  std::vector<DeviceChange> events;
  std::atomic<int> closeRequests{0};
  dialog.onCommand = [&](int id) { commands.push_back(id); };
  dialog.onDeviceChange = [&](DeviceChange event) { events.push_back(event); };
  dialog.onClose = [&] { return ++closeRequests == 3; };
  const int result = Session::Run(host, dialog, [&](HWND window) {
    PostMessageW(GetDlgItem(window, IDC_USB_UPDATE), BM_CLICK, 0, 0);
    // The system's event numbers, the high bits of the first one aside, and one the window does not hear.
    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, 0xABCD0000u | DBT_DEVICEREMOVECOMPLETE, 0), TRUE);
    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, 0), TRUE);
    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), TRUE);
    PostMessageW(window, WM_CLOSE, 0, 0);           // the close box: refused
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);  // Esc: refused
    EXPECT_TRUE(WaitFor([&] { return host.DialogWindow() != nullptr && closeRequests == 2; }));
    PostMessageW(window, WM_CLOSE, 0, 0);  // agreed
  });
  EXPECT_EQ(commands, std::vector<int>{IDC_USB_UPDATE});
  EXPECT_EQ(events, (std::vector<DeviceChange>{DeviceChange::kRemoval, DeviceChange::kNodesChanged}));
  EXPECT_EQ(closeRequests, 3);
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(Win32HostTest, TheStepLineIsALiveRegionReadByItsText) {
  Heard heard;
  HWINEVENTHOOK hook = nullptr;
  constexpr DWORD kLiveRegionChanged = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED
  dialog.onInit = [&] {
    g_heard = &heard;
    hook = SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, nullptr, &HearLiveRegion, GetCurrentProcessId(),
                           GetCurrentThreadId(), WINEVENT_OUTOFCONTEXT);
  };
  // Each step, then how many announcements the reader has heard. Hidden, the
  // line is announced once it shows. The help text is no live region.
  const std::pair<std::function<void()>, size_t> steps[] = {
      {[&] {
         host.ShowItem(IDC_STATIC_NOTICE, false);
         host.SetItemText(IDC_STATIC_NOTICE, "Writing record 1...");
         host.SetItemText(IDC_HELP_TEXT, "1. 按住配对键");
         host.ShowItem(IDC_STATIC_NOTICE, true);
       },
       1},
      {[&] { host.SetItemText(IDC_STATIC_NOTICE, "Writing record 2..."); }, 2},
  };
  Session::Run(host, dialog, [&](HWND window) {
    ComApartment apartment;
    for (const auto& [step, count] : steps) {
      host.SendToUi(step);
      EXPECT_TRUE(WaitFor([&] { return heard.Count() >= count; }));
    }
    EXPECT_EQ(Read(GetDlgItem(window, IDC_STATIC_NOTICE)).name, L"Writing record 2...");
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  UnhookWinEvent(hook);
  g_heard = nullptr;
  EXPECT_EQ(heard.texts, (std::vector<std::wstring>{L"Writing record 1...", L"Writing record 2..."}));
}

TEST_F(Win32HostTest, WorkerCallsRunOnTheUserInterfaceThreadInOrder) {
  std::thread worker;
  std::vector<std::string> ran;
  DWORD uiThread = 0;
  bool workerSawUi = true;
  std::vector<DeviceChange> events;
  dialog.onDeviceChange = [&](DeviceChange event) { events.push_back(event); };
  dialog.onInit = [&] {
    uiThread = GetCurrentThreadId();
    worker = std::thread([&] {
      workerSawUi = host.IsUiThread();
      host.SendToUi([&] {
        ran.push_back(GetCurrentThreadId() == uiThread ? "send on ui" : "send elsewhere");
      });
      host.PostToUi([&] { ran.push_back("post 1"); });
      host.PostDeviceChange(DeviceChange::kArrival);
      host.PostToUi([&] { ran.push_back("post 2"); });
      host.PostToUi([&] { host.EndModal(5); });
    });
  };
  EXPECT_EQ(host.RunModal(dialog), 5);
  worker.join();
  EXPECT_FALSE(workerSawUi);
  EXPECT_EQ(ran, (std::vector<std::string>{"send on ui", "post 1", "post 2"}));
  EXPECT_EQ(events, std::vector<DeviceChange>{DeviceChange::kArrival});
  // Once the window is gone nothing runs, from any thread.
  bool late = false;
  EXPECT_FALSE(host.SendToUi([&] { late = true; }));
  host.PostToUi([&] { late = true; });
  EXPECT_FALSE(late);
}

TEST_F(Win32HostTest, WorkerWaitingInSendToUiIsReleasedWhenTheWindowEnds) {
  std::atomic<bool> sending{false};
  std::atomic<bool> workerDone{false};
  std::atomic<bool> opRan{false};
  bool sent = true;
  std::thread worker;
  dialog.onInit = [&] {
    worker = std::thread([&] {
      sending = true;
      sent = host.SendToUi([&] { opRan = true; });
      workerDone = true;
    });
    // The window ends while the worker waits in SendToUi and before this
    // thread ever takes a message again: as when the engine's window is closed
    // under a running worker and then joins it.
    WaitFor([&] { return sending.load(); });
    std::this_thread::sleep_for(200ms);
    host.EndModal(7);
  };
  EXPECT_EQ(host.RunModal(dialog), 7);
  const bool released = WaitFor([&] { return workerDone.load(); }, 5s);
  EXPECT_TRUE(released);
  if (!released) {
    worker.detach();
    return;
  }
  worker.join();
  EXPECT_FALSE(sent);
  EXPECT_FALSE(opRan);
}

TEST_F(Win32HostTest, MessageBoxesAreOwnedAndAnUncaptionedOneShowsTheProgramsName) {
  std::vector<MsgBoxAnswer> answers;
  dialog.onInit = [&] {
    host.PostToUi([&] {
      answers.push_back(host.MessageBox("Get device info error", std::nullopt, MsgBoxButtons::kOk));
      answers.push_back(host.MessageBox("固件版本?", std::string("Tarvik Update v2.00"),
                                        MsgBoxButtons::kOkCancel));
      host.EndModal(0);
    });
  };
  Session::Run(host, dialog, [&](HWND window) {
    HWND box = WaitForPopup(window);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(TextOf(box), L"win32_window_test");
    EXPECT_EQ(MessageText(box), L"Get device info error");
    Answer(box, IDOK);
    box = WaitForPopup(window);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(TextOf(box), L"Tarvik Update v2.00");
    EXPECT_EQ(MessageText(box), L"固件版本?");
    Answer(box, IDCANCEL);
  });
  EXPECT_EQ(answers, (std::vector<MsgBoxAnswer>{MsgBoxAnswer::kOk, MsgBoxAnswer::kCancel}));
}

// ---------------------------------------------------------------------------
// The updater's own window on the Windows host, against a simulated
// boot-mode controller.

// The real string table; the language and the current directory chosen.
class TestSystem final : public Win32System {
 public:
  TestSystem(IClock& clock, uint16_t language, std::string directory)
      : Win32System(clock), m_language(language), m_directory(std::move(directory)) {}
  uint16_t InterfaceLanguage() override { return m_language; }
  std::string CurrentDirectory() override { return m_directory; }

 private:
  uint16_t m_language;
  std::string m_directory;
};

class UpdateWindowTest : public ::testing::Test {
 protected:
  void Start(uint16_t language, SimBootConfig config = {}) {
    system = std::make_unique<TestSystem>(clock, language, WideToUtf8(dir.Path().wstring()));
    SimDeviceSetup setup = ControllerSetup(3);
    controller = std::make_shared<SimBootController>(config);
    setup.model = controller;
    device = bus.Plug(setup, false);
  }
  int Run(std::function<void(HWND)> person) {
    CUpdateDlg dlg(PlatformServices{bus, host, *system});
    return Session::Run(host, dlg, std::move(person));
  }
  std::wstring Text(int index) { return Utf8ToWide(LoadText(*system, index)); }
  // Presses the button, picks `image` and confirms the version change.
  void StartUpdate(HWND window, const fs::path& image) {
    ASSERT_TRUE(
        WaitFor([&] { return IsWindowEnabled(GetDlgItem(window, IDC_USB_UPDATE)) != FALSE; }));
    PostMessageW(GetDlgItem(window, IDC_USB_UPDATE), BM_CLICK, 0, 0);
    const HWND files = WaitForPopup(window);
    ASSERT_NE(files, nullptr);
    ASSERT_NE(FileNameBox(files), nullptr);
    EXPECT_EQ(TextOf(GetDlgItem(files, 0x470)), Text(kTextFileType) + L"(*.dat)");
    ChooseFile(files, image.wstring());
    const HWND confirm = WaitForPopup(window);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(MessageText(confirm).rfind(Text(kTextFw), 0), 0u) << MessageText(confirm);
    EXPECT_EQ(TextOf(confirm), Text(kTextTitle));
    Answer(confirm, IDOK);
  }

  test::TempDir dir;
  Win32Clock clock;
  SimHidBus bus{clock};
  Win32WindowHost host;
  std::unique_ptr<TestSystem> system;
  std::shared_ptr<SimBootController> controller;
  int device = 0;
};

TEST_F(UpdateWindowTest, UpdateClickedThroughTheRealDialogFlashesTheImage) {
  Start(1033);
  const test::Bytes payload = test::Payload(600);
  const fs::path image = dir.Path() / L"fw.dat";
  test::WriteFile(image, test::Record(123, 0x08004000, payload));
  Run([&](HWND window) {
    EXPECT_TRUE(WaitFor([&] { return TextOf(window) == L"Tarvik Update v2.00 (Fw v1.20 r5)"; }))
        << TextOf(window);
    StartUpdate(window, image);
    const HWND success = WaitForPopup(window);
    ASSERT_NE(success, nullptr);
    EXPECT_EQ(MessageText(success), L"\n Firmware upgraded! \n");
    Answer(success, IDOK);
    const HWND notice = GetDlgItem(window, IDC_STATIC_NOTICE);
    EXPECT_TRUE(WaitFor([&] {
      return IsWindowVisible(notice) && IsWindowEnabled(GetDlgItem(window, IDC_USB_UPDATE));
    }));
    EXPECT_EQ(TextOf(notice), L"Firmware upgraded!");
    EXPECT_EQ(ProgressPos(window), 0);
    SaveScreenshot(window, L"dialog-en");
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(controller->WrittenRegions(),
            (std::vector<SimBootController::FlashRegion>{{"main", 0x08004000, payload}}));
  EXPECT_EQ(controller->ResetCount(), 1);
}

TEST_F(UpdateWindowTest, AKeyboardAloneUpdatesTheController) {
  Start(1033);
  const test::Bytes payload = test::Payload(600);
  const fs::path image = dir.Path() / L"fw.dat";
  test::WriteFile(image, test::Record(123, 0x08004000, payload));
  const auto any = [](const std::wstring&) { return true; };
  Run([&](HWND window) {
    const HWND button = GetDlgItem(window, IDC_USB_UPDATE);
    // USB Update has the focus as soon as it can be pressed.
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) && FocusOf(window) == button; })) << FocusOf(window);
    ASSERT_TRUE(PressKey(window, VK_RETURN));
    const HWND files = WaitForFileDialog(window);
    ASSERT_NE(files, nullptr);
    ASSERT_TRUE(ChooseFileByKeyboard(files, image.wstring()));
    const HWND confirm = WaitForMessageBox(window, any);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(MessageText(confirm).rfind(Text(kTextFw), 0), 0u) << MessageText(confirm);
    ASSERT_TRUE(AnswerByKeyboard(confirm));  // Enter: OK, the default
    const HWND success = WaitForMessageBox(window, any);
    ASSERT_NE(success, nullptr);
    EXPECT_EQ(MessageText(success), L"\n Firmware upgraded! \n");
    ASSERT_TRUE(AnswerByKeyboard(success));
    // The focus is back on USB Update, and Esc closes the window.
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) && FocusOf(window) == button; })) << FocusOf(window);
    ASSERT_TRUE(PressKey(window, VK_ESCAPE));
    EXPECT_TRUE(WaitFor([&] { return host.DialogWindow() == nullptr; }));
  });
  EXPECT_EQ(controller->WrittenRegions(),
            (std::vector<SimBootController::FlashRegion>{{"main", 0x08004000, payload}}));
  EXPECT_EQ(controller->ResetCount(), 1);
}

// What a screen reader reads of the window through MSAA, in each language.
// Wine 8's standard accessible objects give every window the client role.
// There the control's class stands for the role Windows gives it.
struct Reading {
  const char* label;
  uint16_t language;
  const wchar_t* progressName;
};

void PrintTo(const Reading& reading, std::ostream* out) { *out << reading.label; }

class ScreenReaderTest : public UpdateWindowTest, public ::testing::WithParamInterface<Reading> {};

TEST_P(ScreenReaderTest, ReadsEachControlByItsName) {
  Start(GetParam().language);
  ChooseTextLanguage(GetParam().language);
  Run([&](HWND window) {
    ComApartment apartment;
    const HWND button = GetDlgItem(window, IDC_USB_UPDATE);
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) != FALSE; }));
    EXPECT_EQ(TextOf(window).rfind(Text(kTextTitle), 0), 0u);
    struct Item {
      HWND window;
      std::wstring name;
      long role;
      const wchar_t* windowClass;
    };
    const Item items[] = {
        {window, TextOf(window), ROLE_SYSTEM_DIALOG, L"#32770"},
        {GetDlgItem(window, IDC_PROGRESS), GetParam().progressName, ROLE_SYSTEM_PROGRESSBAR, PROGRESS_CLASSW},
        {button, Text(kTextUsbUpdate), ROLE_SYSTEM_PUSHBUTTON, WC_BUTTONW},
        {GetDlgItem(window, IDC_HELP_TEXT), Text(kTextHelp), ROLE_SYSTEM_STATICTEXT, WC_STATICW},
    };
    for (const Item& item : items) {
      SCOPED_TRACE(WideToUtf8(item.name));
      const Accessible read = Read(item.window);
      EXPECT_EQ(read.name, item.name);
      EXPECT_TRUE(read.role == item.role || read.role == ROLE_SYSTEM_CLIENT) << read.role;
      EXPECT_EQ(ClassOf(item.window), item.windowClass);
    }
    // Tab reaches USB Update alone, the template's one tab stop.
    EXPECT_EQ(GetNextDlgTabItem(window, nullptr, FALSE), button);
    EXPECT_EQ(GetNextDlgTabItem(window, button, FALSE), button);
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  ChooseTextLanguage(1033);
}

INSTANTIATE_TEST_SUITE_P(Languages, ScreenReaderTest,
                         ::testing::Values(Reading{"English", 1033, L"Update progress"},
                                           Reading{"Chinese", kLangChinesePrc, L"更新进度"}),
                         [](const ::testing::TestParamInfo<Reading>& reading) { return reading.param.label; });

TEST_F(UpdateWindowTest, ChineseStartUpShowsTheChineseTexts) {
  Start(kLangChinesePrc);
  Run([&](HWND window) {
    EXPECT_TRUE(
        WaitFor([&] { return IsWindowEnabled(GetDlgItem(window, IDC_USB_UPDATE)) != FALSE; }));
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_USB_UPDATE)), L"USB 升级");
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_HELP_TEXT)),
              L"1. 按住配对键并插入PC。\r\n\r\n2. 点击 USB 升级按钮，选择升级文件升级。");
    SaveScreenshot(window, L"dialog-zh");
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
}

TEST_F(UpdateWindowTest, ClosingDuringAnUpdateAsksAndClosesOnceTheWorkerHasStopped) {
  SimBootConfig slow;
  slow.latencyMs = 20;  // some seconds for the whole image: time to close in between
  Start(1033, slow);
  const test::Bytes payload = test::Payload(46 * 200);
  const fs::path image = dir.Path() / L"fw.dat";
  test::WriteFile(image, test::Record(123, 0x08004000, payload));
  Run([&](HWND window) {
    StartUpdate(window, image);
    ASSERT_TRUE(WaitFor([&] { return ProgressPos(window) > 0; }));
    PostMessageW(window, WM_CLOSE, 0, 0);
    const HWND ask = WaitForPopup(window);
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(MessageText(ask), Utf8ToWide(FormatCloseQuestion(UpdateProtocol::kBoot)));
    EXPECT_EQ(TextOf(ask), Text(kTextTitle));
    Answer(ask, IDOK);
    // Whatever the stopping worker still says is acknowledged until the window goes.
    WaitFor([&] {
      if (const HWND box = FindPopup(window)) Answer(box, IDOK);
      return host.DialogWindow() == nullptr;
    });
  });
  EXPECT_EQ(host.DialogWindow(), nullptr);
  const auto written = controller->WrittenRegions();
  const size_t flashed = written.empty() ? 0 : written[0].bytes.size();
  EXPECT_LT(flashed, payload.size()) << "the update was not stopped";
  EXPECT_EQ(controller->ResetCount(), 0);
}

TEST_F(UpdateWindowTest, AnUpdateThatEndsWhileTheCloseQuestionIsOpenClosesItFirst) {
  SimBootConfig slow;
  slow.latencyMs = 20;
  Start(1033, slow);
  const fs::path image = dir.Path() / L"fw.dat";
  test::WriteFile(image, test::Record(123, 0x08004000, test::Payload(46 * 200)));
  const auto isQuestion = [](const std::wstring& text) { return text.rfind(L"The update is still writing", 0) == 0; };
  Run([&](HWND window) {
    StartUpdate(window, image);
    ASSERT_TRUE(WaitFor([&] { return ProgressPos(window) > 0; }));
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_NE(WaitForMessageBox(window, isQuestion), nullptr);
    // The update ends while the question is open: the failure box shows alone.
    bus.Unplug(device);
    const HWND failure = WaitForMessageBox(
        window, [&](const std::wstring& text) { return text.rfind(Text(kTextUpdateFailure), 0) == 0; });
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(FindMessageBox(window, isQuestion), nullptr);
    Answer(failure, IDOK);
    // The window stays. Once the worker has ended it shows no controller, and closes without asking.
    EXPECT_TRUE(WaitFor([&] { return TextOf(window) == Text(kTextTitle); }));
    EXPECT_NE(host.DialogWindow(), nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(host.DialogWindow(), nullptr);
}

// The boxes of an update, in English and Chinese, as the Win32 message box
// shows them: a failure's reason and next step, a refused image with no
// question, and a question that says more than the version. Each box and the
// window's step line are photographed.
TEST(UpdateBoxesTest, FailuresSayWhyAndWhatNextAndTheQuestionSaysWhatIsWritten) {
  const test::Bytes twoMcus = test::Concat({test::Record(131, 0x08004000, test::Payload(4600)),
                                            test::Record(112, 0x2000, test::Payload(50), 0)});
  const test::Bytes broken = test::Record(131, 0x08004000, test::Payload(99), 1, 100);
  const test::Bytes older = test::Record(110, 0x08004000, test::Payload(100));
  struct Scene {
    const wchar_t* name;
    uint16_t language;
    const test::Bytes* image;
    uint32_t unplugAfter;
    std::vector<std::wstring> starts;  // how each box begins
    const wchar_t* alsoHas;            // a piece of the last box
    // A case of the signature table, in place of `image`, and a piece of the first box.
    // The headless window's test holds each case in both languages.
    const char* signed_ = nullptr;
    const wchar_t* firstHas = nullptr;
  };
  const Scene scenes[] = {
      {L"unplugged-en", 1033, &twoMcus, 40,
       {L"Fw 1.31 and current is 1.20\nATmcu 1.12 and current is 1.10\n",
        L"Firmware update failure\n\nThe controller was disconnected at "},
       L"Hold the pair button, plug it in again"},
      {L"unplugged-zh", kLangChinesePrc, &twoMcus, 40,
       {L"固件版本 1.31 当前版本为 1.20\nATmcu 1.12 当前版本为 1.10\n", L"固件更新失败\n\n手柄在进度 "},
       L"请按住配对键重新插入手柄"},
      {L"broken-image-en", 1033, &broken, 0, {L"Firmware update failure\n\n"}, L"is not a valid image"},
      {L"broken-image-zh", kLangChinesePrc, &broken, 0, {L"固件更新失败\n\n"}, L"不是有效的镜像"},
      {L"older-image-en", 1033, &older, 0,
       {L"Fw 1.10 and current is 1.20\nThe image (1.10) is older than the controller's firmware (1.20).\n",
        L"\n Firmware upgraded! \n"},
       L"Firmware upgraded!"},
      {L"signed-en", 1033, nullptr, 0, {L"Fw 1.31 and current is 1.20\n", L"\n Firmware upgraded! \n"},
       L"Firmware upgraded!", "default.dat", L"\nSigned by Tarvik maker key\n"},
      {L"changed-zh", kLangChinesePrc, nullptr, 0, {L"固件更新失败\n\n"}, L"请从手柄厂商处重新获取固件及其签名。",
       "changed.dat"},
  };
  const char* vectors = std::getenv("TARVIK_SIGNATURE_VECTORS");
  ASSERT_NE(vectors, nullptr) << "TARVIK_SIGNATURE_VECTORS names no folder";
  for (const Scene& scene : scenes) {
    SCOPED_TRACE(WideToUtf8(scene.name));
    test::TempDir dir;
    Win32Clock clock;
    SimHidBus bus{clock};
    SimOptions options;
    options.unplugAfter = scene.unplugAfter;
    PopulateSimBus(bus, options);
    Win32WindowHost host;
    TestSystem system(clock, scene.language, WideToUtf8(dir.Path().wstring()));
    ChooseTextLanguage(scene.language);
    const fs::path image = dir.Path() / L"fw.dat";
    if (scene.signed_ != nullptr) {
      const fs::path from = fs::path(vectors) / scene.signed_;
      fs::copy_file(from, image);
      fs::copy_file(from.string() + ".minisig", image.string() + ".minisig");
      std::ifstream key(fs::path(vectors) / "maker.pub", std::ios::binary);
      system.TrustAlso(std::string(std::istreambuf_iterator<char>(key), std::istreambuf_iterator<char>()));
    } else {
      test::WriteFile(image, *scene.image);
    }
    CUpdateDlg dlg(PlatformServices{bus, host, system});
    std::vector<std::wstring> texts;
    Session::Run(host, dlg, [&](HWND window) {
      ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(GetDlgItem(window, IDC_USB_UPDATE)) != FALSE; }));
      PostMessageW(GetDlgItem(window, IDC_USB_UPDATE), BM_CLICK, 0, 0);
      const HWND files = WaitForFileDialog(window);
      ASSERT_NE(files, nullptr);
      ChooseFile(files, image.wstring());
      const HWND notice = GetDlgItem(window, IDC_STATIC_NOTICE);
      for (size_t i = 0; i < scene.starts.size(); ++i) {
        const HWND box = WaitForMessageBox(window, [](const std::wstring&) { return true; });
        ASSERT_NE(box, nullptr);
        texts.push_back(MessageText(box));
        SaveScreenshot(box, std::wstring(scene.name) + L"-" + std::to_wstring(i + 1));
        Answer(box, IDOK);
        if (i == 0 && scene.starts.size() > 1 &&
            WaitFor([&] { return IsWindowVisible(notice) && TextOf(notice).find(L"...") != std::wstring::npos; },
                    5s)) {
          SaveScreenshot(window, std::wstring(scene.name) + L"-step");
        }
      }
      // The window closes without a question once the worker has ended.
      EXPECT_TRUE(WaitFor([&] { return !dlg.IsBusy(); }));
      PostMessageW(window, WM_CLOSE, 0, 0);
    });
    ChooseTextLanguage(1033);
    ASSERT_EQ(texts.size(), scene.starts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(texts[i].rfind(scene.starts[i], 0), 0u) << WideToUtf8(texts[i]);
    }
    EXPECT_NE(texts.back().find(scene.alsoHas), std::wstring::npos) << WideToUtf8(texts.back());
    if (scene.firstHas != nullptr) {
      EXPECT_NE(texts.front().find(scene.firstHas), std::wstring::npos) << WideToUtf8(texts.front());
    }
  }
}

}  // namespace
}  // namespace tarvik::win32
