// A simulated bus as a front end asks for it: controllers in report modes, in
// bus order, other vendors' devices before them, and each controller's
// behaviour keys.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_boot_controller.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_packet_controller.h"

namespace tarvik {

enum class SimMode { kBoot, kPacket1, kPacket2, kNone };

struct SimOptions {
  SimMode mode = SimMode::kBoot;
  bool virtualClock = false;  // clock=virtual
  uint32_t unplugAfter = 0;   // unplug.after=N; 0: stays
  uint32_t unplugBackMs = 0;  // unplug.back=MS; 0: an unplugged controller stays away
  uint32_t extraDevices = 0;  // extra=N
  uint32_t arriveAfterMs = 0; // arrive.after=MS; 0: on the bus from the start
  // stream=N: N controllers in all come to this place one after another; 0 or 1: one.
  uint32_t stream = 0;
  uint32_t streamGapMs = 200;  // stream.gap=MS: from one's leaving to the next one's arrival
  SimBootConfig boot;         // the boot-mode controller's keys
  SimPacketConfig packet;     // the packet-protocol controller's keys
};

struct SimPopulation {
  int controller = 0;  // device id; 0 in mode none
  std::shared_ptr<SimBootController> boot;      // the boot-mode controller's device side
  std::shared_ptr<SimPacketController> packet;  // the packet-protocol controller's device side
};

// Several controllers on one bus: one SimOptions per controller, in bus order.
// The clock and the other vendors' devices are the bus's: the first entry's.
struct SimLayout {
  std::vector<SimOptions> controllers;  // empty: none
  bool VirtualClock() const { return !controllers.empty() && controllers.front().virtualClock; }
};

// A stream's controller at place `slot` left the bus for good, and what
// `left` holds is final. Places count from 0 in the layout's order. `next`
// comes there after it and is not on the bus yet. It is null once the stream
// has ended. Called on the thread that let go of the controller.
using SimStreamListener =
    std::function<void(size_t slot, const SimPopulation& left, const SimPopulation* next)>;

// A controller of device-table row 1, 2 or 3, with that row's report sizes.
SimDeviceSetup ControllerSetup(int row);

// "boot", "packet1", "packet2", "none".
std::optional<SimMode> ParseSimMode(const std::string& name);

// Applies one KEY=VALUE behaviour setting; false with `error` set when the key
// is unknown or the value is not valid for it.
bool ApplySimSetting(const std::string& setting, SimOptions& options, std::string& error);

// A comma-separated list of modes, one controller per entry in bus order
// ("boot,boot,packet1"; "none" only alone), with `settings`: "KEY=VALUE" sets
// every controller, "N:KEY=VALUE" the N-th (from 1) only; clock= and extra=
// belong to the bus and take no N. `base` is what each controller starts
// from. Nothing, with `error` set, for a mistake.
std::optional<SimLayout> ParseSimLayout(const std::string& list, const std::vector<std::string>& settings,
                                        std::string& error, const SimOptions& base = SimOptions{});

// Plugs the devices into `bus` (without notices, as if present before start;
// one with arrive.after joins later, with the arrival notice).
SimPopulation PopulateSimBus(SimHidBus& bus, const SimOptions& options);
// Every controller of the layout, in bus order; the other vendors' devices
// first. A controller with stream=N is the first of N at its place. Once the
// host is done with one, it is unplugged. That is when its update ended, a
// boot-mode one back from its reset, or when it was only asked its version.
// The next arrives at the same place stream.gap later, with a UID and a
// serial number of its own. `listener` hears of each change.
std::vector<SimPopulation> PopulateSimBus(SimHidBus& bus, const SimLayout& layout,
                                          const SimStreamListener& listener = {});

}  // namespace tarvik
