#include "platform/headless/headless_window_host.h"

#include <algorithm>

#include "res/dialog_template.h"

namespace tarvik {

namespace {
// Real time between looks at the session's condition while nothing is queued.
constexpr auto kIdleWake = std::chrono::milliseconds(20);
// Real time between looks at virtual-time timers while a timer runs.
constexpr auto kTimerPoll = std::chrono::milliseconds(1);
}  // namespace

HeadlessWindowHost::HeadlessWindowHost(IClock& clock, IHeadlessUser& user, IWindowObserver* observer)
    : m_clock(clock),
      m_user(user),
      m_observer(observer),
      m_tasks([this] { WakePump(); },
              [this](DeviceChange change) {
                Notify([&](IWindowObserver& o) { o.OnDeviceEvent(change); });
                if (m_dialog) m_dialog->OnDeviceChange(change);
              }) {
  for (const DialogControlTemplate& control : kUpdateDialogTemplate.controls) {
    m_controls[control.id] = Control{control.text, true, true};
  }
}

HeadlessWindowHost::~HeadlessWindowHost() = default;

int HeadlessWindowHost::RunModal(IDialogEvents& dialog) {
  m_dialog = &dialog;
  m_endRequested = false;
  m_tasks.Open();
  dialog.OnInitDialog();
  const int result = m_session ? m_session(*this, dialog) : 0;
  // The window is gone: waiting senders return, queued work is dropped.
  m_tasks.Close();
  m_dialog = nullptr;
  m_timers.clear();
  return result;
}

void HeadlessWindowHost::EndModal(int /*result*/) { m_endRequested = true; }

bool HeadlessWindowHost::Click(int id) {
  auto it = m_controls.find(id);
  if (it == m_controls.end() || !it->second.enabled || !it->second.visible || !m_dialog) return false;
  m_dialog->OnCommand(id);
  return true;
}

bool HeadlessWindowHost::RequestClose() {
  if (!m_dialog || !m_dialog->OnCloseRequest()) return false;
  m_endRequested = true;
  return true;
}

bool HeadlessWindowHost::RunDueTimer() {
  const uint64_t now = m_clock.NowMs();
  for (auto& [id, timer] : m_timers) {
    if (timer.dueMs > now) continue;
    timer.dueMs = now + timer.intervalMs;
    const uintptr_t timerId = id;
    if (m_dialog) m_dialog->OnTimer(timerId);  // may kill this or other timers
    return true;
  }
  return false;
}

bool HeadlessWindowHost::AdvanceIdleTimeToNextTick() {
  // On a clock whose time passes only in waits an idle window would wait for
  // its timers for ever: time jumps to the next tick. While a worker runs, its
  // own waits move the clock.
  if (m_timers.empty() || !m_dialog || m_dialog->IsBusy()) return false;
  uint64_t next = UINT64_MAX;
  for (const auto& [id, timer] : m_timers) next = std::min(next, timer.dueMs);
  return m_clock.AdvanceIdleTo(next);
}

void HeadlessWindowHost::WakePump() {
  {
    std::lock_guard<std::mutex> lock(m_wakeLock);
    m_woken = true;
  }
  m_wakeChanged.notify_all();
}

void HeadlessWindowHost::WaitForWake(std::chrono::milliseconds longest) {
  std::unique_lock<std::mutex> lock(m_wakeLock);
  m_wakeChanged.wait_for(lock, longest, [this] { return m_woken; });
  m_woken = false;
}

void HeadlessWindowHost::PumpPending() { m_tasks.RunQueued(); }

void HeadlessWindowHost::PumpUntil(const std::function<bool()>& done) {
  // A box closed under the user ends the user's wait in it: the user sees it go.
  const auto boxClosed = [this] { return !m_boxes.empty() && m_boxes.back().closed; };
  while (!m_endRequested && !done() && !boxClosed()) {
    if (m_tasks.RunOne()) continue;
    if (RunDueTimer() || m_tasks.HasQueued()) continue;
    if (m_endRequested || done() || boxClosed()) break;
    if (AdvanceIdleTimeToNextTick()) continue;
    // A task queued since the look above has woken the pump already.
    WaitForWake(m_timers.empty() ? kIdleWake : kTimerPoll);
  }
}

std::string HeadlessWindowHost::ItemText(int id) const {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? std::string() : it->second.text;
}

bool HeadlessWindowHost::IsItemVisible(int id) const {
  auto it = m_controls.find(id);
  return it != m_controls.end() && it->second.visible;
}

bool HeadlessWindowHost::IsTimerRunning(uintptr_t id) const { return m_timers.count(id) != 0; }

void HeadlessWindowHost::SetWindowText(const std::string& text) {
  m_title = text;
  Notify([&](IWindowObserver& o) { o.OnTitle(text); });
}

void HeadlessWindowHost::SetItemText(int id, const std::string& text) {
  m_controls[id].text = text;
  Notify([&](IWindowObserver& o) { o.OnItemText(id, text); });
}

void HeadlessWindowHost::EnableItem(int id, bool enable) {
  m_controls[id].enabled = enable;
  Notify([&](IWindowObserver& o) { o.OnEnable(id, enable); });
}

bool HeadlessWindowHost::IsItemEnabled(int id) {
  auto it = m_controls.find(id);
  return it != m_controls.end() && it->second.enabled;
}

void HeadlessWindowHost::ShowItem(int id, bool show) {
  m_controls[id].visible = show;
  Notify([&](IWindowObserver& o) { o.OnShow(id, show); });
}

void HeadlessWindowHost::SetProgressRange(int /*id*/, int low, int high) {
  m_progressLow = low;
  m_progressHigh = high;
  m_progressPos = std::clamp(m_progressPos, low, std::max(low, high));
  Notify([&](IWindowObserver& o) { o.OnProgressRange(low, high); });
}

void HeadlessWindowHost::SetProgressPos(int /*id*/, int pos) {
  MoveProgressBar(pos);
  Notify([&](IWindowObserver& o) { o.OnProgressPos(pos); });
}

void HeadlessWindowHost::MoveProgressBar(int pos) {
  // A progress bar keeps its position inside its range.
  m_progressPos = std::clamp(pos, m_progressLow, std::max(m_progressLow, m_progressHigh));
}

void HeadlessWindowHost::PostProgressPos(int /*id*/, int pos) {
  if (!m_tasks.IsOpen()) return;
  // Observers hear of it at once, in the poster's order; the bar moves when
  // the user-interface thread gets to it.
  Notify([&](IWindowObserver& o) { o.OnProgressPos(pos); });
  PostToUi([this, pos] { MoveProgressBar(pos); });
}

MsgBoxAnswer HeadlessWindowHost::MessageBox(const std::string& text,
                                            const std::optional<std::string>& caption,
                                            MsgBoxButtons buttons) {
  m_boxes.push_back(OpenBox{text});
  MsgBoxAnswer answer = m_user.AnswerMessageBox(text, caption, buttons);
  if (m_boxes.back().closed) answer = MsgBoxAnswer::kCancel;
  m_boxes.pop_back();
  Notify([&](IWindowObserver& o) { o.OnMessageBox(text, caption, buttons, answer); });
  return answer;
}

void HeadlessWindowHost::CloseMessageBox(const std::string& text) {
  for (auto box = m_boxes.rbegin(); box != m_boxes.rend(); ++box) {
    if (box->closed || box->text != text) continue;
    box->closed = true;
    return;
  }
}

std::vector<std::string> HeadlessWindowHost::OpenMessageBoxes() const {
  std::vector<std::string> texts;
  for (const OpenBox& box : m_boxes) {
    if (!box.closed) texts.push_back(box.text);
  }
  return texts;
}

std::optional<std::string> HeadlessWindowHost::OpenFileDialog(const FileDialogRequest& request) {
  std::optional<std::string> answer = m_user.AnswerFileDialog(request);
  Notify([&](IWindowObserver& o) { o.OnFileDialog(request, answer); });
  return answer;
}

void HeadlessWindowHost::SetTimer(uintptr_t timerId, uint32_t intervalMs) {
  m_timers[timerId] = Timer{intervalMs, m_clock.NowMs() + intervalMs};
  Notify([&](IWindowObserver& o) { o.OnTimer(timerId, true); });
}

void HeadlessWindowHost::KillTimer(uintptr_t timerId) {
  // Killing a timer that does not run is passed over, as the platform does.
  if (m_timers.erase(timerId) == 0) return;
  Notify([&](IWindowObserver& o) { o.OnTimer(timerId, false); });
}

bool HeadlessWindowHost::IsUiThread() { return m_tasks.IsUiThread(); }

bool HeadlessWindowHost::SendToUi(const std::function<void()>& op) { return m_tasks.Send(op); }

void HeadlessWindowHost::PostToUi(std::function<void()> op) { m_tasks.Post(std::move(op)); }

void HeadlessWindowHost::PostDeviceChange(DeviceChange change) { m_tasks.PostDeviceChange(change); }

}  // namespace tarvik
