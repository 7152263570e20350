// A device model whose answers the test writes: a function of each output report.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "base/bytes.h"
#include "sim/sim_hid_bus.h"
#include "update/boot_protocol.h"

namespace tarvik::test {

class ScriptedModel final : public ISimDeviceModel {
 public:
  using Script = std::function<void(const std::vector<uint8_t>& report, SimDevicePort& port)>;
  explicit ScriptedModel(Script script) : m_script(std::move(script)) {}
  void OnOutputReport(const std::vector<uint8_t>& report, SimDevicePort& port) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_script(report, port);
  }

 private:
  std::mutex m_lock;
  Script m_script;
};

// A boot-protocol reply as an input report (report ID 0x00 first).
inline std::vector<uint8_t> BootReply(uint16_t command, uint16_t status = boot::kStatusDone,
                                      uint8_t lead = 0x00, uint8_t marker = boot::kMarker) {
  std::vector<uint8_t> report(65, 0);
  report[1 + boot::kReplyLead] = lead;
  report[1 + boot::kReplyMarker] = marker;
  PutLe16(&report[1 + boot::kReplyStatus], status);
  PutLe16(&report[1 + boot::kReplyCommand], command);
  return report;
}

// The command code of a boot-protocol output report.
inline uint16_t BootCommandOf(const std::vector<uint8_t>& report) {
  return GetLe16(&report[1 + boot::kFrameCommand]);
}

}  // namespace tarvik::test
