// The device-notice targets registered with a bus, each under a handle of its
// own, and the posting of a notice to all of them. Safe from any thread.
// A notice is posted outside the targets' lock, so a target may call the bus
// (and so post again, or register) meanwhile; a target removed on another
// thread while a notice is being posted is not removed until that posting is
// over, so that once Remove returns the target may go.
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
    ++m_added;
    m_targets[m_next] = &target;
    return m_next++;
  }
  void Remove(NotifyHandle handle) {
    std::lock_guard<std::recursive_mutex> posting(m_posting);
    std::lock_guard<std::mutex> lock(m_lock);
    m_targets.erase(handle);
  }
  void Post(DeviceChange change) { Post(std::vector<DeviceChange>{change}); }
  // Each notice in turn, to every target registered when posting began.
  void Post(const std::vector<DeviceChange>& changes) {
    std::lock_guard<std::recursive_mutex> posting(m_posting);
    std::vector<IDeviceNotifyTarget*> targets;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      for (const auto& entry : m_targets) targets.push_back(entry.second);
    }
    for (DeviceChange change : changes) {
      for (IDeviceNotifyTarget* target : targets) target->PostDeviceChange(change);
    }
  }
  // How many times a target was added, removed ones included.
  int Added() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_added;
  }

 private:
  std::recursive_mutex m_posting;  // held while notices are posted; taken before m_lock
  mutable std::mutex m_lock;
  std::map<NotifyHandle, IDeviceNotifyTarget*> m_targets;
  NotifyHandle m_next = 1;
  int m_added = 0;
};

}  // namespace tarvik
