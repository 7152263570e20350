#include "cli/terminal_user.h"

#include <algorithm>
#include <cstdio>

#include "app/window_texts.h"
#include "base/strformat.h"
#include "texts/interface_texts.h"

namespace tarvik {

namespace {

// A message box's text on one line: its line breaks become blanks, the outer ones go.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) line += c == '\n' || c == '\r' ? ' ' : c;
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

}  // namespace

MsgBoxAnswer ScriptedUser::AnswerMessageBox(const std::string& text, const std::optional<std::string>&,
                                            MsgBoxButtons buttons) {
  // The only OK/Cancel box is the version confirmation.
  const MsgBoxAnswer answer =
      buttons == MsgBoxButtons::kOkCancel && !m_confirm ? MsgBoxAnswer::kCancel : MsgBoxAnswer::kOk;
  if (m_tell) {
    std::printf(Tr("Answered %s to the message \"%s\"\n"), answer == MsgBoxAnswer::kOk ? "OK" : Tr("Cancel"),
                OneLine(text).c_str());
  }
  return answer;
}

std::optional<std::string> ScriptedUser::AnswerFileDialog(const FileDialogRequest&) {
  if (m_tell) {
    if (m_image) {
      std::printf(Tr("Chose %s in the file dialog\n"), m_image->c_str());
    } else {
      std::printf("%s\n", Tr("Cancelled the file dialog"));
    }
  }
  return m_image;
}

void TerminalUser::EndLine() {
  if (m_drawn) std::fputc('\n', stderr);
  m_drawn = false;
}

void TerminalUser::Interrupt() { m_answers.Wake(); }

void TerminalUser::OnNotice(UpdateNotice notice) {
  EndLine();
  // The outcome line says how the update ended; the notices are for the curious.
  if (!m_settings.verbose) return;
  const char* text = "";
  switch (notice) {
    case UpdateNotice::kMainInfoFailed:
      text = Tr("the main mcu did not answer its information request");
      break;
    case UpdateNotice::kAtInfoFailed:
      text = Tr("the ATmcu did not answer its information request");
      break;
    case UpdateNotice::kNeedBootMode:
      text = Tr("the controller must be put in boot mode first (hold the pair button while plugging it in)");
      break;
    case UpdateNotice::kNoFirmware:
      text = Tr("the controller runs no valid firmware: plug it in with the pair button held to update it");
      break;
  }
  std::fprintf(stderr, "%s\n", text);
}

bool TerminalUser::ConfirmChange(const VersionChange& change) {
  EndLine();
  // The version change, then what the version guard adds.
  std::string question = StrFormat(Tr("Fw %s and current is %s"), change.image.Text().c_str(),
                                   change.controller.Text().c_str());
  if (!m_promptDetail.empty()) question = StrFormat(Tr("%s; %s"), question.c_str(), m_promptDetail.c_str());
  if (!m_versionNote.empty()) question = StrFormat(Tr("%s (%s)"), question.c_str(), m_versionNote.c_str());
  // Who signed the image, or that nobody did, where the question is shown.
  const std::string signature = SignatureLine(change.signature);
  if (m_settings.assumeYes) {
    if (m_settings.verbose) std::fprintf(stderr, Tr("%s\n%s: yes\n"), signature.c_str(), question.c_str());
    return true;
  }
  std::fprintf(stderr, "%s\n", signature.c_str());
  std::fprintf(stderr, Tr("%s. Write it? [y/N] "), question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!m_answers.ReadLine(answer)) std::fputc('\n', stderr);
  return !m_answers.Woken() && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void TerminalUser::NameController(const std::string& name) {
  m_name = std::to_string(m_settings.boardKey) + " " + name;
  if (m_settings.board != nullptr) m_settings.board->Set(m_settings.boardKey, m_name);
}

namespace {

// The step of an update as the progress line names it.
std::string PhaseWord(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kErasing:
      return Tr("erasing");
    case UpdatePhase::kWriting:
      return Tr("writing");
    case UpdatePhase::kStamping:
      return Tr("stamping the version");
    case UpdatePhase::kResetting:
      return Tr("resetting");
    case UpdatePhase::kSending:
      return Tr("sending");
    case UpdatePhase::kFinishing:
      return Tr("finishing");
  }
  return {};
}

}  // namespace

void TerminalUser::OnUpdateStep(const UpdateProgress& progress) {
  if (!m_settings.drawProgress && m_settings.board == nullptr) return;
  const uint64_t total = std::max<uint64_t>(progress.payloadTotal, 1);
  const int percent = static_cast<int>(std::min<uint64_t>(progress.bytesSent * 100 / total, 100));
  if (percent == m_lastPercent && progress.phase == m_lastPhase && progress.record == m_lastRecord) {
    return;
  }
  m_lastPercent = percent;
  m_lastPhase = progress.phase;
  m_lastRecord = progress.record;
  std::string step = PhaseWord(progress.phase);
  if (progress.record > 0) step = StrFormat(Tr("%s record %d"), step.c_str(), progress.record);
  if (m_settings.board != nullptr) {
    constexpr int kWidth = 10;
    const int filled = percent * kWidth / 100;
    m_settings.board->Set(m_settings.boardKey,
                          m_name + "  " +
                              StrFormat(Tr("[%s%s] %3d %%  %s  %llu/%llu bytes%s"),
                                        std::string(static_cast<size_t>(filled), '#').c_str(),
                                        std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent,
                                        step.c_str(), static_cast<unsigned long long>(progress.bytesSent),
                                        static_cast<unsigned long long>(progress.payloadTotal), ""));
    return;
  }
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  std::fputc('\r', stderr);
  std::fprintf(stderr, Tr("[%s%s] %3d %%  %s  %llu/%llu bytes%s"),
               std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent, step.c_str(),
               static_cast<unsigned long long>(progress.bytesSent),
               static_cast<unsigned long long>(progress.payloadTotal), EraseToLineEnd());
  std::fflush(stderr);
  m_drawn = true;
}

void TerminalUser::FinishProgress() { EndLine(); }

}  // namespace tarvik
