// The main window on the simulated bus and the headless host, driven from the
// test: a virtual clock, a scripted user, and every window operation recorded.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/cupdate_dlg.h"
#include "res/text_table.h"
#include "device/device_table.h"
#include "device/report_framing.h"
#include "platform/headless/headless_window_host.h"
#include "sim/sim_boot_controller.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_packet_controller.h"
#include "sim/sim_setup.h"
#include "platform/std/virtual_clock.h"
#include "tests/support/fake_system.h"

namespace tarvik::test {

struct WindowEvent {
  std::string kind;  // title, text, enable, show, range, progress, msgbox, filedialog, timer, device
  int id = 0;
  std::string text;
  bool on = false;
  int value = 0;
};

class RecordingUser final : public IHeadlessUser, public IWindowObserver {
 public:
  std::optional<std::string> image;
  bool confirm = true;
  std::vector<WindowEvent> events;
  // Called on the user-interface thread with each progress position.
  std::function<void(int)> onProgress;
  // Called on the user-interface thread when a message box is answered.
  std::function<void(const std::string&)> onMessageBox;
  // Called on the user-interface thread when a control's text is set.
  std::function<void(int, const std::string&)> onItemText;

  // When set and giving an answer, it answers the box with this text.
  std::function<std::optional<MsgBoxAnswer>(const std::string&)> answer;

  MsgBoxAnswer AnswerMessageBox(const std::string& text, const std::optional<std::string>&,
                                MsgBoxButtons buttons) override {
    if (answer) {
      if (const std::optional<MsgBoxAnswer> given = answer(text)) return *given;
    }
    return buttons == MsgBoxButtons::kOkCancel && !confirm ? MsgBoxAnswer::kCancel : MsgBoxAnswer::kOk;
  }
  std::optional<std::string> AnswerFileDialog(const FileDialogRequest&) override { return image; }

  void OnTitle(const std::string& text) override { events.push_back({"title", 0, text}); }
  void OnItemText(int id, const std::string& text) override {
    events.push_back({"text", id, text});
    if (onItemText) onItemText(id, text);
  }
  void OnEnable(int id, bool on) override { events.push_back({"enable", id, "", on}); }
  void OnShow(int id, bool on) override { events.push_back({"show", id, "", on}); }
  void OnProgressRange(int low, int high) override {
    events.push_back({"range", low, "", false, high});
  }
  void OnProgressPos(int pos) override {
    events.push_back({"progress", 0, "", false, pos});
    if (onProgress) onProgress(pos);
  }
  void OnMessageBox(const std::string& text, const std::optional<std::string>& caption,
                    MsgBoxButtons, MsgBoxAnswer) override {
    events.push_back({"msgbox", 0, text, caption.has_value(), 0});
    captions.push_back(caption);
    if (onMessageBox) onMessageBox(text);
  }
  void OnFileDialog(const FileDialogRequest& request, const std::optional<std::string>&) override {
    events.push_back({"filedialog", 0, request.types.empty() ? "" : request.types[0].label + " " + request.types[0].pattern});
  }
  void OnTimer(uintptr_t id, bool on) override {
    events.push_back({"timer", static_cast<int>(id), "", on});
  }
  void OnDeviceEvent(DeviceChange change) override {
    events.push_back({"device", 0, "", false, static_cast<int>(change)});
  }

  std::vector<std::optional<std::string>> captions;

  std::vector<int> ProgressPositions() const {
    std::vector<int> positions;
    for (const WindowEvent& e : events) {
      if (e.kind == "progress") positions.push_back(e.value);
    }
    return positions;
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const WindowEvent& e : events) {
      if (e.kind == "msgbox") texts.push_back(e.text);
    }
    return texts;
  }

  // The lines of the last box, the empty ones left out.
  std::vector<std::string> LastBoxLines() const {
    std::vector<std::string> lines;
    const std::vector<std::string> texts = MessageTexts();
    if (texts.empty()) return lines;
    size_t from = 0;
    const std::string& text = texts.back();
    while (from <= text.size()) {
      const size_t end = std::min(text.find('\n', from), text.size());
      if (end > from) lines.push_back(text.substr(from, end - from));
      from = end + 1;
    }
    return lines;
  }

  size_t Count(const std::string& kind) const {
    size_t n = 0;
    for (const WindowEvent& e : events) n += e.kind == kind;
    return n;
  }
};

// The next steps a failure box ends with, in English.
inline constexpr const char* kStepAfterHalfWrite =
    "The controller may not start until it is updated. Hold the pair button, plug it in again, press \"USB Update\" "
    "and choose the image again.";
inline constexpr const char* kStepPacketTouched =
    "The controller keeps its old firmware until an update ends. Unplug it, plug it in again, press \"USB Update\" "
    "and choose the image again.";
inline constexpr const char* kStepNothingChanged =
    "The controller was not changed. Check that it is plugged in, then press \"USB Update\" to try again.";
inline constexpr const char* kStepOtherImage = "Press \"USB Update\" and choose another image.";

class WindowRig {
 public:
  VirtualClock clock;
  FakeSystem system{clock};
  SimHidBus bus{clock};
  RecordingUser user;
  HeadlessWindowHost host{clock, user, &user};
  SimBootConfig bootConfig;
  std::shared_ptr<SimBootController> bootModel;
  SimPacketConfig packetConfig;
  std::shared_ptr<SimPacketController> packetModel;

  WindowRig() {
    bus.KeepExchangeLog(true);
    system.currentDirectory = m_dir.Path().string();
  }

  // Plugs a controller of device-table row 1, 2 or 3 (present before start).
  // A boot-mode controller (row 3) answers with `bootConfig`, a packet-protocol
  // one (rows 1 and 2) with `packetConfig`.
  int PlugController(int row, bool notify = false) {
    SimDeviceSetup setup = ControllerSetup(row);
    if (row == 3) {
      bootModel = std::make_shared<SimBootController>(bootConfig);
      setup.model = bootModel;
    } else {
      packetModel = std::make_shared<SimPacketController>(row, packetConfig);
      setup.model = packetModel;
    }
    return bus.Plug(setup, notify);
  }

  // Builds the window, runs its start-up, then `session` on the user-interface
  // thread, then closes it.
  void RunWindow(const std::function<void(CUpdateDlg&)>& session = {}) {
    CUpdateDlg dlg(PlatformServices{bus, host, system});
    host.SetSession([&](HeadlessWindowHost&, IDialogEvents&) {
      host.PumpPending();
      if (session) session(dlg);
      return 0;
    });
    dlg.DoModal();
  }

  // Presses the update button and waits for the worker to end.
  bool PressUpdate(CUpdateDlg& dlg) {
    if (!host.Click(IDC_USB_UPDATE)) return false;
    host.PumpUntil([&] { return !dlg.IsBusy(); });
    return true;
  }

  // The person waits `ms` at the idle window: the clock moves on, the bus
  // takes off and brings in what is due by then, and the window handles the
  // notices (a virtual clock moves only when someone waits).
  void WaitAtWindow(uint32_t ms) {
    clock.SleepMs(ms);
    bus.CatchUp();
    host.PumpPending();
  }

  std::string Text(int index) { return LoadText(system, index); }

  // The step log as written so far ("" when there is none).
  std::string Log() const {
    std::ifstream in(m_dir.Path() / "log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Creates log.txt before the window is built, which switches the log on.
  void EnableLog() { std::ofstream(m_dir.Path() / "log.txt").flush(); }
  std::filesystem::path Dir() const { return m_dir.Path(); }

 private:
  TempDir m_dir;
};

}  // namespace tarvik::test
