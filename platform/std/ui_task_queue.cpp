#include "platform/std/ui_task_queue.h"

#include <utility>

namespace tarvik {

UiTaskQueue::UiTaskQueue(std::function<void()> wake, std::function<void(DeviceChange)> deviceChange)
    : m_wake(std::move(wake)), m_deviceChange(std::move(deviceChange)) {}

UiTaskQueue::~UiTaskQueue() { Close(); }

void UiTaskQueue::Open() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_uiThread = std::this_thread::get_id();
  if (!m_open) ++m_opening;
  m_open = true;
}

void UiTaskQueue::Close() {
  std::deque<Task> dropped;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_open = false;
    dropped.swap(m_tasks);
  }
  m_done.notify_all();
  // Destroyed without the lock: a task's captures may be anything.
}

bool UiTaskQueue::IsOpen() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_open;
}

bool UiTaskQueue::IsUiThread() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return IsUiThreadLocked();
}

bool UiTaskQueue::Send(const std::function<void()>& op) {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!m_open) return false;
  if (IsUiThreadLocked()) {
    // A task queued to this very thread would only make the same call with more steps.
    lock.unlock();
    op();
    return true;
  }
  // The task holds a copy: should the queue close while `op` runs, this
  // sender returns and its own `op` goes.
  bool done = false;
  m_tasks.push_back(Task{op, &done, m_opening});
  m_wake();
  m_done.wait(lock, [&] { return done || !m_open; });
  return done;
}

void UiTaskQueue::Post(std::function<void()> op) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_open) return;
  m_tasks.push_back(Task{std::move(op), nullptr, m_opening});
  m_wake();
}

void UiTaskQueue::PostDeviceChange(DeviceChange change) {
  Post([this, change] { m_deviceChange(change); });
}

bool UiTaskQueue::RunOne(std::unique_lock<std::mutex>& lock) {
  if (m_tasks.empty()) return false;
  Task task = std::move(m_tasks.front());
  m_tasks.pop_front();
  lock.unlock();
  task.op();
  task.op = nullptr;  // its captures go without the lock
  lock.lock();
  // The sender still waits only while the queue it sent to is open; once
  // that closed, the sender has gone with its flag.
  if (task.done && m_open && task.opening == m_opening) {
    *task.done = true;
    m_done.notify_all();
  }
  return true;
}

bool UiTaskQueue::RunOne() {
  std::unique_lock<std::mutex> lock(m_lock);
  return RunOne(lock);
}

void UiTaskQueue::RunQueued() {
  std::unique_lock<std::mutex> lock(m_lock);
  while (RunOne(lock)) {
  }
}

bool UiTaskQueue::HasQueued() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return !m_tasks.empty();
}

}  // namespace tarvik
