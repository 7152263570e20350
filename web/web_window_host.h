// The main window as the page's HTML. The window's state, its loop, timers and
// the hand-over to the user-interface thread are the headless host's; this
// host shows every change of it in the page, and what the person does there
// (a click, a box's answer, a chosen file) comes back as tasks for the
// user-interface thread, which is a worker of the page, never its own thread.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/headless/headless_window_host.h"
#include "web/page_bridge.h"

namespace tarvik {

class WebWindowHost final : private IHeadlessUser, private IWindowObserver {
 public:
  // Where a chosen file is put for the engine to read (the module's memory file system).
  static constexpr const char* kChosenFileFolder = "/chosen";

  explicit WebWindowHost(IClock& clock);

  IWindowHost& Host() { return m_host; }

  // From the page's thread: they queue work and return at once.
  void Click(int id);
  void Answer(MsgBoxAnswer answer);
  // A full path under kChosenFileFolder, or nothing when the picker was cancelled.
  void FileChosen(std::optional<std::string> path);

 private:
  // IHeadlessUser: the box or the picker opens in the page, and the window's
  // events run on until the person has answered, as under a modal box.
  MsgBoxAnswer AnswerMessageBox(const std::string& text, const std::optional<std::string>& caption,
                                MsgBoxButtons buttons) override;
  std::optional<std::string> AnswerFileDialog(const FileDialogRequest& request) override;
  // IWindowObserver: the page shows what the window shows.
  void OnTitle(const std::string& text) override { tarvik_page_title(text.c_str()); }
  void OnItemText(int id, const std::string& text) override { tarvik_page_item_text(id, text.c_str()); }
  void OnEnable(int id, bool on) override { tarvik_page_enable(id, on); }
  void OnShow(int id, bool on) override { tarvik_page_show(id, on); }
  void OnProgressRange(int low, int high) override { tarvik_page_progress_range(low, high); }
  void OnProgressPos(int pos) override { tarvik_page_progress_pos(pos); }
  void OnMessageBox(const std::string&, const std::optional<std::string>&, MsgBoxButtons, MsgBoxAnswer) override {}
  void OnFileDialog(const FileDialogRequest&, const std::optional<std::string>&) override {}
  void OnTimer(uintptr_t, bool) override {}
  void OnDeviceEvent(DeviceChange) override {}

  void WaitForAnswer();

  std::mutex m_answerLock;
  bool m_answered = false;
  MsgBoxAnswer m_answer = MsgBoxAnswer::kCancel;
  std::optional<std::string> m_chosen;
  HeadlessWindowHost m_host;  // last: it calls the members above
};

}  // namespace tarvik
