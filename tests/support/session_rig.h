// The main window on the simulated bus and the headless host, or an update
// session on that bus alone, on any clock: the wiring of a whole update, for
// the fault matrix, the hostile-input tests, the fuzz targets and the benchmarks. The user picks `image` and confirms; it records
// the progress positions, message texts and file dialogs, and whether each
// dialog came while a press of the update button was being handled.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/cupdate_dlg.h"
#include "platform/headless/headless_window_host.h"
#include "session/update_session.h"
#include "sim/sim_hid_bus.h"
#include "tests/support/fake_system.h"

namespace tarvik::test {

class SessionUser final : public IHeadlessUser, public IWindowObserver {
 public:
  std::optional<std::string> image;
  bool confirm = true;
  // Set by the rig while a press is being handled (from the click to the worker's end).
  std::atomic<bool> inPress{false};

  std::vector<int> progress;
  std::vector<std::string> messages;
  int fileDialogs = 0;
  int fileDialogsOutsidePress = 0;
  std::function<void(int)> onProgress;

  MsgBoxAnswer AnswerMessageBox(const std::string&, const std::optional<std::string>&,
                                MsgBoxButtons buttons) override {
    return buttons == MsgBoxButtons::kOkCancel && !confirm ? MsgBoxAnswer::kCancel
                                                           : MsgBoxAnswer::kOk;
  }
  std::optional<std::string> AnswerFileDialog(const FileDialogRequest&) override { return image; }

  void OnTitle(const std::string&) override {}
  void OnItemText(int, const std::string&) override {}
  void OnEnable(int, bool) override {}
  void OnShow(int, bool) override {}
  void OnProgressRange(int, int) override {}
  void OnProgressPos(int pos) override {
    progress.push_back(pos);
    if (onProgress) onProgress(pos);
  }
  void OnMessageBox(const std::string& text, const std::optional<std::string>&, MsgBoxButtons,
                    MsgBoxAnswer) override {
    messages.push_back(text);
  }
  void OnFileDialog(const FileDialogRequest&, const std::optional<std::string>&) override {
    ++fileDialogs;
    if (!inPress.load()) ++fileDialogsOutsidePress;
  }
  void OnTimer(uintptr_t, bool) override {}
  void OnDeviceEvent(DeviceChange) override {}

  // Set by an update session without a window when it tells its success.
  std::atomic<bool> sessionSucceeded{false};

  bool Succeeded() const {
    if (sessionSucceeded.load()) return true;
    for (const std::string& m : messages) {
      if (m == "\n Firmware upgraded! \n") return true;
    }
    return false;
  }
};

// The same person as the caller of an update session without a window:
// picks the image when asked, confirms as told, and sees the bar move.
class SessionUpdateUser final : public IUpdatePrompt, public IUpdateEvents {
 public:
  explicit SessionUpdateUser(SessionUser& user) : m_user(user) {}
  std::optional<std::string> ChooseImage() override {
    ++m_user.fileDialogs;
    return m_user.image;
  }
  bool ConfirmChange(const VersionChange&) override { return m_user.confirm; }
  void OnProgress(uint64_t bytes, uint64_t total) override {
    m_user.OnProgressPos(static_cast<int>(total == 0 ? 100 : std::min<uint64_t>(bytes * 100 / total, 100)));
  }
  void OnMilestone(UpdateMilestone milestone) override {
    if (milestone == UpdateMilestone::kSucceeded) m_user.sessionSucceeded.store(true);
  }

 private:
  SessionUser& m_user;
};

// The system seam of FakeSystem, but trace lines are counted, not kept: a
// long update's trace would otherwise be the biggest thing in memory.
class SessionSystem final : public ISystem {
 public:
  explicit SessionSystem(IClock& clock) : m_clock(clock) {}
  std::string currentDirectory;
  std::atomic<uint64_t> traceLines{0};
  bool traceReceived = true;  // false: nobody reads the trace, so it is not formatted

  uint16_t InterfaceLanguage() override { return 1033; }
  LocalTime LocalTimeNow() override { return LocalTime{2024, 3, 5, 9, 7, 2}; }
  std::string CurrentDirectory() override { return currentDirectory; }
  uint32_t LastErrorCode() override { return 0; }
  void Trace(const std::string&) override { ++traceLines; }
  bool TraceReceived() override { return traceReceived; }
  std::string StringTableEntry(uint16_t id) override { return std::string(FindStringTableEntry(id)); }
  std::unique_ptr<IThread> StartThread(std::function<void()> body) override {
    return std::make_unique<StdThread>(std::move(body));
  }
  IClock& Clock() override { return m_clock; }

 private:
  IClock& m_clock;
};

class SessionRig {
 public:
  explicit SessionRig(IClock& sessionClock)
      : clock(sessionClock), system(sessionClock), bus(sessionClock), host(sessionClock, user, &user) {
    system.currentDirectory = m_dir.Path().string();
  }

  IClock& clock;
  SessionSystem system;
  SimHidBus bus;
  SessionUser user;
  HeadlessWindowHost host;

  // Writes the image file the user will pick.
  void SetImage(const std::vector<uint8_t>& bytes) {
    const std::filesystem::path path = m_dir.Path() / "fw.dat";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    user.image = path.string();
  }
  // Creates log.txt before the window is built, which switches the step log on.
  void EnableLog() { std::ofstream(m_dir.Path() / "log.txt", std::ios::trunc).flush(); }
  std::filesystem::path Dir() const { return m_dir.Path(); }

  // Builds the window, runs its start-up, then `session` on the user-interface
  // thread, then closes it.
  // With `on`, the window talks to that bus (a decorator of `bus`) instead.
  void RunWindow(const std::function<void(CUpdateDlg&)>& session = {}, IHidBus* on = nullptr) {
    CUpdateDlg dlg(PlatformServices{on ? *on : bus, host, system});
    host.SetSession([&](HeadlessWindowHost&, IDialogEvents&) {
      host.PumpPending();
      if (session) session(dlg);
      return 0;
    });
    dlg.DoModal();
  }

  // The controller probed and updated on a session of its own, with no window:
  // the user picks the image when the session asks. With `on`, the session
  // talks to that bus (a decorator of `bus`) instead. `probed` is called
  // between the probe and the update. A boot-mode update waits at `pace`.
  UpdateOutcome UpdateOnSession(IHidBus* on = nullptr, const std::function<void()>& probed = {},
                                BootPace pace = BootPace::kParts) {
    UpdateSession session(on ? *on : bus, system);
    SessionUpdateUser sessionUser(user);
    session.Probe(&sessionUser);
    if (probed) probed();
    user.inPress.store(true);
    UpdateRequest request;
    request.prompt = &sessionUser;
    request.events = &sessionUser;
    request.pace = pace;
    UpdateOutcome outcome = session.Update(request);
    user.inPress.store(false);
    return outcome;
  }

  // Presses the update button and handles the window until the worker has
  // ended or `giveUp` says so. False when the button could not be pressed.
  bool PressUpdate(CUpdateDlg& dlg, const std::function<bool()>& giveUp = {}) {
    user.inPress.store(true);
    if (!host.Click(IDC_USB_UPDATE)) {
      user.inPress.store(false);
      return false;
    }
    host.PumpUntil([&] { return !dlg.IsBusy() || (giveUp && giveUp()); });
    host.PumpPending();
    user.inPress.store(false);
    return true;
  }

 private:
  TempDir m_dir;
};

}  // namespace tarvik::test
