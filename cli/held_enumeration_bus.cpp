#include "cli/held_enumeration_bus.h"

namespace tarvik {

void HeldEnumerationBus::Hold() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_holding.store(true);
  m_held.reset();
}

std::vector<HidDeviceInfo> HeldEnumerationBus::EnumerateDevices() {
  if (!m_holding.load()) return Inner().EnumerateDevices();
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_holding.load()) return Inner().EnumerateDevices();
  if (!m_held) m_held = Inner().EnumerateDevices();
  return *m_held;
}

// A bus lists the same interfaces in both enumerations, in the same order.
std::vector<std::string> HeldEnumerationBus::EnumerateInterfaces() {
  if (!m_holding.load()) return Inner().EnumerateInterfaces();
  return PathsOf(EnumerateDevices());
}

bool HeldEnumerationBus::WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) {
  if (m_holding.load()) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_holding.store(false);
    m_held.reset();
  }
  return Inner().WriteReportTimed(handle, report, size, takenUs);
}

}  // namespace tarvik
