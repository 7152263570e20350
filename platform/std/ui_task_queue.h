// The hand-over of work from other threads to the user-interface thread, one
// for every window host: operations sent and waited for, operations posted,
// device changes, and the window's end, after which every call is answered at
// once instead of waiting for a window that is gone.
//
// A host supplies only how its loop is woken (a condition variable, a queued
// toolkit call, a window message) and what a device change does there; its
// loop then runs the queued tasks on the user-interface thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/hid_bus.h"

namespace tarvik {

class UiTaskQueue {
 public:
  // `wake` is called after each task queued, under the queue's lock and only
  // while the queue is open: it must not wait and must not call the queue.
  // `deviceChange` runs on the user-interface thread for each device change posted.
  UiTaskQueue(std::function<void()> wake, std::function<void(DeviceChange change)> deviceChange);
  ~UiTaskQueue();
  UiTaskQueue(const UiTaskQueue&) = delete;
  UiTaskQueue& operator=(const UiTaskQueue&) = delete;

  // The calling thread is the user-interface thread, and tasks are taken, from here on.
  void Open();
  // The window is gone: new tasks are refused, queued ones dropped, and
  // senders still waiting return false. Closing a closed queue does nothing.
  void Close();
  bool IsOpen() const;
  // True on the user-interface thread while the queue is open.
  bool IsUiThread() const;

  // Runs `op` on the user-interface thread and waits for it (directly when
  // called there); false when the queue is closed, or closes while this
  // waits, and `op` did not run.
  bool Send(const std::function<void()>& op);
  // Queues `op` and returns at once; dropped when the queue is closed.
  void Post(std::function<void()> op);
  void PostDeviceChange(DeviceChange change);

  // On the user-interface thread: runs the oldest queued task; false when none is queued.
  bool RunOne();
  // On the user-interface thread: runs tasks until none is queued.
  void RunQueued();
  bool HasQueued() const;

 private:
  struct Task {
    std::function<void()> op;
    bool* done = nullptr;  // set for a sent task whose sender waits
    uint64_t opening = 0;  // the opening of the queue the task was queued in
  };

  bool RunOne(std::unique_lock<std::mutex>& lock);
  bool IsUiThreadLocked() const { return m_open && std::this_thread::get_id() == m_uiThread; }

  const std::function<void()> m_wake;
  const std::function<void(DeviceChange)> m_deviceChange;
  mutable std::mutex m_lock;
  std::condition_variable m_done;  // a sent task ran, or the queue closed
  std::deque<Task> m_tasks;
  std::thread::id m_uiThread;
  bool m_open = false;
  uint64_t m_opening = 0;  // counts the openings
};

}  // namespace tarvik
