// A stop request shared by the sessions of one run (Ctrl-C stops them all):
// each session attaches while it updates and is asked to stop at its next
// step; a session that attaches after the request stops at once.
#pragma once

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace tarvik {

class UpdateSession;

class StopSource {
 public:
  // Safe from any thread, a signal-watch thread included.
  void RequestStop();
  bool StopRequested() const { return m_stopped.load(); }

 private:
  friend class UpdateSession;
  void Attach(UpdateSession& session);
  void Detach(UpdateSession& session);

  std::mutex m_lock;
  std::vector<UpdateSession*> m_sessions;
  std::atomic<bool> m_stopped{false};
};

}  // namespace tarvik
