// The device-notice targets registered with a bus, each under a handle of its
// own, and the posting of a notice to all of them. Safe from any thread; a
// notice is posted outside the lock, so a target may (un)register meanwhile.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "platform/hid_bus.h"

namespace tarvik {

class NotifyTargets {
 public:
  NotifyHandle Add(IDeviceNotifyTarget& target) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_targets[m_next] = &target;
    return m_next++;
  }
  void Remove(NotifyHandle handle) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_targets.erase(handle);
  }
  void Post(uint32_t eventType) {
    std::vector<IDeviceNotifyTarget*> targets;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      for (const auto& entry : m_targets) targets.push_back(entry.second);
    }
    for (IDeviceNotifyTarget* target : targets) target->PostDeviceChange(eventType);
  }

 private:
  std::mutex m_lock;
  std::map<NotifyHandle, IDeviceNotifyTarget*> m_targets;
  NotifyHandle m_next = 1;
};

}  // namespace tarvik
