// The device object alone on a simulated bus with a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "device/chid.h"
#include "device/device_table.h"
#include "device/report_framing.h"
#include "diag/diag.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_setup.h"
#include "platform/std/virtual_clock.h"
#include "tests/support/fake_system.h"

namespace tarvik::test {

class NoticeCollector final : public IDeviceNotifyTarget {
 public:
  void PostDeviceChange(DeviceChange eventType) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(eventType);
  }
  std::vector<DeviceChange> Events() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.clear();
  }

 private:
  std::mutex m_lock;
  std::vector<DeviceChange> m_events;
};

class DeviceRig {
 public:
  VirtualClock clock;
  FakeSystem system{clock};
  CDiag diag{system};
  SimHidBus bus{clock};
  NoticeCollector window;
  CHid hid{bus, diag};

  DeviceRig() {
    bus.KeepExchangeLog(true);
    hid.SetRecipientWindow(&window);
  }

  int Plug(uint16_t vendorId, uint16_t productId, std::string path = {}) {
    SimDeviceSetup setup;
    setup.vendorId = vendorId;
    setup.productId = productId;
    setup.path = std::move(path);
    setup.outputReportSize = 0;
    return bus.Plug(setup, false);
  }

  int PlugRow(int row) { return bus.Plug(ControllerSetup(row), false); }

  // Plugs a controller of `row`, finds and opens it.
  int device = 0;
  void Connect(int row) {
    device = PlugRow(row);
    ASSERT_TRUE(hid.SearchDevice());
    ASSERT_TRUE(hid.OpenHid());
  }
};

}  // namespace tarvik::test
