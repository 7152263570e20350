// The people at the headless window: a scripted one for automation, and one at
// a terminal who answers the version confirmation and watches a progress bar.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "platform/headless/headless_window_host.h"

namespace tarvik {

// Picks the given image (or cancels the file dialog), answers the version
// confirmation as told, and closes every other message box with OK.
class ScriptedUser : public IHeadlessUser {
 public:
  ScriptedUser(std::optional<std::string> image, bool confirm)
      : m_image(std::move(image)), m_confirm(confirm) {}

  MsgBoxAnswer AnswerMessageBox(const std::string&, const std::optional<std::string>&,
                                MsgBoxButtons buttons) override {
    // The only OK/Cancel box is the version confirmation.
    if (buttons == MsgBoxButtons::kOkCancel && !m_confirm) return MsgBoxAnswer::kCancel;
    return MsgBoxAnswer::kOk;
  }
  std::optional<std::string> AnswerFileDialog(const FileDialogRequest&) override { return m_image; }

 private:
  std::optional<std::string> m_image;
  bool m_confirm;
};

// Asks the version confirmation on the terminal (y/N) unless told yes, shows
// the other messages there, and draws the progress bar on standard error.
class TerminalUser final : public ScriptedUser, public IWindowObserver {
 public:
  TerminalUser(std::string image, bool assumeYes) : ScriptedUser(image, true), m_assumeYes(assumeYes) {}

  MsgBoxAnswer AnswerMessageBox(const std::string& text, const std::optional<std::string>& caption,
                                MsgBoxButtons buttons) override;

  void OnTitle(const std::string&) override {}
  void OnItemText(int, const std::string&) override {}
  void OnEnable(int, bool) override {}
  void OnShow(int, bool) override {}
  void OnProgressRange(int low, int high) override;
  void OnProgressPos(int pos) override;
  void OnMessageBox(const std::string&, const std::optional<std::string>&, MsgBoxButtons,
                    MsgBoxAnswer) override {}
  void OnFileDialog(const FileDialogRequest&, const std::optional<std::string>&) override {}
  void OnTimer(uintptr_t, bool) override {}
  void OnDeviceEvent(uint32_t) override {}

  // Ends the progress bar's line, if one was drawn.
  void FinishProgress();

 private:
  void EndLine();

  bool m_assumeYes;
  int m_low = 0;
  int m_high = 100;
  bool m_drawn = false;
  bool m_ended = false;  // an end-of-update message has been shown
};

}  // namespace tarvik
