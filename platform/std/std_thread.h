// Threads on std::thread, for platforms whose threads it wraps.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "platform/system.h"

namespace tarvik {

class StdThread final : public IThread {
 public:
  explicit StdThread(std::function<void()> body) : m_thread(std::move(body)) {}
  ~StdThread() override { Join(); }
  void Join() override {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
  }

 private:
  std::thread m_thread;
};

}  // namespace tarvik
