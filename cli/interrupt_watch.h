// Ctrl-C during a command: the first asks the running update to stop at its
// next step; a second ends the process at once (exit status 130). The signal
// is watched by interrupt_watch_posix.cpp or interrupt_watch_win32.cpp.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

namespace tarvik {

class InterruptWatch {
 public:
  // On POSIX systems it blocks SIGINT in this thread and in every thread
  // started after it: build it before any other thread. `onFirst` runs on the
  // watch's own thread.
  // `running`, when given, tells whether an update is running: without one
  // the first Ctrl-C says that nothing was cut short.
  explicit InterruptWatch(std::function<void()> onFirst, std::function<bool()> running = {});
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool Interrupted() const { return m_interrupted.load(); }

  // One Ctrl-C, from the platform's watch.
  void Notice();

  // What Ctrl-C writes out before anything else (the transcript's gathered
  // lines), so that quitting at once loses none of it; empty: nothing.
  static void FlushOnInterrupt(std::function<void()> flush);

 private:
  std::function<void()> m_onFirst;
  std::function<bool()> m_running;
  std::atomic<bool> m_interrupted{false};
  std::atomic<bool> m_done{false};
  std::thread m_thread;  // the POSIX watch
};

}  // namespace tarvik
