// The people the command line works for: a scripted one at the headless
// window (run), and one at a terminal who answers the version confirmation
// and watches a progress bar (flash).
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "cli/console.h"
#include "cli/progress_board.h"
#include "platform/headless/headless_window_host.h"
#include "update/update_events.h"

namespace tarvik {

// Picks the given image (or cancels the file dialog), answers the version
// confirmation as told, and closes every other message box with OK.
class ScriptedUser : public IHeadlessUser {
 public:
  // `tell`: print a line on standard output for each answer given.
  ScriptedUser(std::optional<std::string> image, bool confirm, bool tell)
      : m_image(std::move(image)), m_confirm(confirm), m_tell(tell) {}

  MsgBoxAnswer AnswerMessageBox(const std::string& text, const std::optional<std::string>& caption,
                                MsgBoxButtons buttons) override;
  std::optional<std::string> AnswerFileDialog(const FileDialogRequest&) override;

 private:
  std::optional<std::string> m_image;
  bool m_confirm;
  bool m_tell;
};

struct TerminalSettings {
  bool assumeYes = false;     // confirm without asking
  bool verbose = false;       // show the window's message boxes too
  bool drawProgress = false;  // standard error is a terminal and output is not quiet
  // Several controllers at once: the progress goes to this board, as the
  // line of controller number `boardKey`, instead of a bar of its own.
  ProgressBoard* board = nullptr;
  int boardKey = 0;
};

// The person at the terminal as an update session's prompt: asks the version
// confirmation (y/N) unless told yes, tells the session's notices with
// --verbose, and draws the update's progress on standard error, redrawn in place.
class TerminalUser final : public IUpdatePrompt, public IUpdateEvents, public IUpdateObserver {
 public:
  explicit TerminalUser(TerminalSettings settings) : m_settings(settings) {}
  TerminalUser(const TerminalUser&) = delete;
  TerminalUser& operator=(const TerminalUser&) = delete;

  // The image is always handed over: a file is never chosen here.
  std::optional<std::string> ChooseImage() override { return std::nullopt; }
  bool ConfirmChange(const VersionChange& change) override;
  void OnNotice(UpdateNotice notice) override;
  // Said with the confirmation, e.g. "older than the controller's firmware".
  void SetVersionNote(std::string note) { m_versionNote = std::move(note); }
  // Said after the confirmation's own text, e.g. the ATmcu's versions.
  void SetPromptDetail(std::string detail) { m_promptDetail = std::move(detail); }
  // Which controller this user updates, as the board names it, once probed.
  void NameController(const std::string& name);

  void OnUpdateStep(const UpdateProgress& progress) override;
  void OnUpdateOutcome(const UpdateOutcome&) override {}

  // Ends the progress bar's line, if one was drawn.
  void FinishProgress();
  // Ctrl-C: an open prompt is answered no. Safe from any thread.
  void Interrupt();

 private:
  void EndLine();

  TerminalSettings m_settings;
  std::string m_versionNote;
  std::string m_promptDetail;
  AnswerReader m_answers;  // woken by Interrupt
  bool m_drawn = false;
  int m_lastPercent = -1;
  UpdatePhase m_lastPhase = UpdatePhase::kFinishing;
  int m_lastRecord = -1;
  std::string m_name;  // on the board
};

}  // namespace tarvik
