#include "cli/terminal_user.h"

#include <algorithm>
#include <iostream>

namespace tarvik {

namespace {
// Message texts carry CR LF and leading or trailing line ends: shown on one tidy block.
std::string Tidy(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  const size_t first = text.find_first_not_of(" \n");
  const size_t last = text.find_last_not_of(" \n");
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}
}  // namespace

void TerminalUser::EndLine() {
  if (m_drawn) std::fputc('\n', stderr);
  m_drawn = false;
}

MsgBoxAnswer TerminalUser::AnswerMessageBox(const std::string& text,
                                            const std::optional<std::string>& caption,
                                            MsgBoxButtons buttons) {
  EndLine();
  if (buttons != MsgBoxButtons::kOkCancel) {
    m_ended = true;
    std::fprintf(stderr, "%s%s%s\n", caption ? caption->c_str() : "", caption ? ": " : "",
                 Tidy(text).c_str());
    return MsgBoxAnswer::kOk;
  }
  std::fprintf(stderr, "%s [y/N] ", Tidy(text).c_str());
  if (m_assumeYes) {
    std::fprintf(stderr, "y\n");
    return MsgBoxAnswer::kOk;
  }
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) std::fputc('\n', stderr);
  const bool yes = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
  return yes ? MsgBoxAnswer::kOk : MsgBoxAnswer::kCancel;
}

void TerminalUser::OnProgressRange(int low, int high) {
  m_low = low;
  m_high = high;
}

void TerminalUser::OnProgressPos(int pos) {
  // The window empties the bar after its last message; the terminal keeps the last one.
  if (m_ended) return;
  const int span = std::max(1, m_high - m_low);
  const int percent = std::clamp((pos - m_low) * 100 / span, 0, 100);
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent);
  std::fflush(stderr);
  m_drawn = true;
}

void TerminalUser::FinishProgress() { EndLine(); }

}  // namespace tarvik
