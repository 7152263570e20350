#include "web/web_window_host.h"

namespace tarvik {

WebWindowHost::WebWindowHost(IClock& clock) : m_host(clock, *this, this) {
  // The window lives until the page goes: its loop has nothing else to wait for.
  m_host.SetSession([](HeadlessWindowHost& host, IDialogEvents&) {
    host.PumpUntil([] { return false; });
    return 0;
  });
}

void WebWindowHost::Click(int id) {
  m_host.PostToUi([this, id] { m_host.Click(id); });
}

void WebWindowHost::Answer(MsgBoxAnswer answer) {
  {
    std::lock_guard<std::mutex> lock(m_answerLock);
    m_answer = answer;
    m_answered = true;
  }
  m_host.PostToUi([] {});  // wakes the waiting loop
}

void WebWindowHost::FileChosen(std::optional<std::string> path) {
  {
    std::lock_guard<std::mutex> lock(m_answerLock);
    m_chosen = std::move(path);
    m_answered = true;
  }
  m_host.PostToUi([] {});
}

void WebWindowHost::WaitForAnswer() {
  m_host.PumpUntil([this] {
    std::lock_guard<std::mutex> lock(m_answerLock);
    return m_answered;
  });
  std::lock_guard<std::mutex> lock(m_answerLock);
  m_answered = false;
}

MsgBoxAnswer WebWindowHost::AnswerMessageBox(const std::string& text, const std::optional<std::string>& caption,
                                             MsgBoxButtons buttons) {
  {
    std::lock_guard<std::mutex> lock(m_answerLock);
    m_answered = false;
    m_answer = MsgBoxAnswer::kCancel;  // also when the window closes under the box
  }
  tarvik_page_message_box(text.c_str(), caption ? caption->c_str() : nullptr, buttons == MsgBoxButtons::kOkCancel);
  WaitForAnswer();
  std::lock_guard<std::mutex> lock(m_answerLock);
  return m_answer;
}

std::optional<std::string> WebWindowHost::AnswerFileDialog(const FileDialogRequest& request) {
  {
    std::lock_guard<std::mutex> lock(m_answerLock);
    m_answered = false;
    m_chosen.reset();
  }
  // The page offers the first kind of file; the window asks for one only.
  const FileType type = request.types.empty() ? FileType{} : request.types.front();
  tarvik_page_file_dialog(type.label.c_str(), type.pattern.c_str());
  WaitForAnswer();
  std::lock_guard<std::mutex> lock(m_answerLock);
  return m_chosen;
}

}  // namespace tarvik
