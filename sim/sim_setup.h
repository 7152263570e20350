// A simulated bus as a front end asks for it: one controller in a report mode,
// other vendors' devices before it, and the controller's behaviour keys.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "sim/sim_boot_controller.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_packet_controller.h"

namespace tarvik {

enum class SimMode { kBoot, kPacket1, kPacket2, kNone };

struct SimOptions {
  SimMode mode = SimMode::kBoot;
  bool virtualClock = false;  // clock=virtual
  uint32_t unplugAfter = 0;   // unplug.after=N; 0: stays
  uint32_t extraDevices = 0;  // extra=N
  SimBootConfig boot;         // the boot-mode controller's keys
  SimPacketConfig packet;     // the packet-protocol controller's keys
};

struct SimPopulation {
  int controller = 0;  // device id; 0 in mode none
  std::shared_ptr<SimBootController> boot;      // the boot-mode controller's device side
  std::shared_ptr<SimPacketController> packet;  // the packet-protocol controller's device side
};

// A controller of device-table row 1, 2 or 3, with that row's report sizes.
SimDeviceSetup ControllerSetup(int row);

// "boot", "packet1", "packet2", "none".
std::optional<SimMode> ParseSimMode(const std::string& name);

// Applies one KEY=VALUE behaviour setting; false with `error` set when the key
// is unknown or the value is not valid for it.
bool ApplySimSetting(const std::string& setting, SimOptions& options, std::string& error);

// Plugs the devices into `bus` (without notices, as if present before start).
SimPopulation PopulateSimBus(SimHidBus& bus, const SimOptions& options);

}  // namespace tarvik
