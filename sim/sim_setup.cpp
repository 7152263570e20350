#include "sim/sim_setup.h"

#include <memory>
#include <utility>

#include "base/parse_number.h"
#include "base/strformat.h"
#include "texts/interface_texts.h"
#include "device/device_table.h"
#include "device/report_framing.h"

namespace tarvik {

namespace {

// Vendors whose devices sit on the bus beside the controller.
constexpr uint16_t kExtraVendors[] = {0x046D, 0x045E, 0x1532, 0x0B05, 0x04F3, 0x093A};

}  // namespace

SimDeviceSetup ControllerSetup(int row) {
  const DeviceTableRow& r = kDeviceTable[static_cast<size_t>(row - 1)];
  const ReportFraming framing = FramingForMode(r.mode);
  SimDeviceSetup setup;
  setup.vendorId = r.vendorId;
  setup.productId = r.productId;
  setup.outputReportSize = framing.outputSize;
  setup.inputReportSize = framing.inputSize;
  return setup;
}

std::optional<SimMode> ParseSimMode(const std::string& name) {
  if (name == "boot") return SimMode::kBoot;
  if (name == "packet1") return SimMode::kPacket1;
  if (name == "packet2") return SimMode::kPacket2;
  if (name == "none") return SimMode::kNone;
  return std::nullopt;
}

bool ApplySimSetting(const std::string& setting, SimOptions& options, std::string& error) {
  const size_t eq = setting.find('=');
  if (eq == std::string::npos) {
    error = StrFormat(Tr("--sim expects KEY=VALUE, got \"%s\""), setting.c_str());
    return false;
  }
  const std::string key = setting.substr(0, eq);
  const std::string value = setting.substr(eq + 1);
  if (key == "clock") {
    if (value != "virtual" && value != "real") {
      error = Tr("--sim clock= takes virtual or real");
      return false;
    }
    options.virtualClock = value == "virtual";
    return true;
  }
  uint32_t* const number = key == "unplug.after"   ? &options.unplugAfter
                           : key == "unplug.back"  ? &options.unplugBackMs
                           : key == "extra"        ? &options.extraDevices
                           : key == "arrive.after" ? &options.arriveAfterMs
                           : key == "stream"       ? &options.stream
                           : key == "stream.gap"   ? &options.streamGapMs
                                                   : nullptr;
  if (number != nullptr) {
    if (!ParseUnsigned(value, *number)) {
      error = StrFormat(Tr("--sim %s= takes a number, got \"%s\""), key.c_str(), value.c_str());
      return false;
    }
    return true;
  }
  // A key may belong to both controllers (latency.ms): it goes to every one that knows it.
  std::string bootError;
  std::string packetError;
  const bool boot = ApplySimBootSetting(key, value, options.boot, bootError);
  const bool packetKey = ApplySimPacketSetting(key, value, options.packet, packetError);
  if (boot || packetKey) return true;
  error = !bootError.empty() ? bootError : packetError;
  if (error.empty()) error = StrFormat(Tr("unknown --sim key \"%s\""), key.c_str());
  return false;
}

std::optional<SimLayout> ParseSimLayout(const std::string& list, const std::vector<std::string>& settings,
                                        std::string& error, const SimOptions& base) {
  SimLayout layout;
  bool none = false;
  size_t entries = 0;
  for (size_t start = 0;;) {
    const size_t comma = list.find(',', start);
    const std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::optional<SimMode> mode = ParseSimMode(name);
    if (!mode) {
      error = Tr("--simulate takes boot, packet1, packet2 or none, or a comma-separated list of the first three");
      return std::nullopt;
    }
    ++entries;
    none = none || *mode == SimMode::kNone;
    SimOptions controller = base;
    controller.mode = *mode;
    // Each controller is a device of its own: its UID's last word counts up from the first's.
    controller.boot.main.uid[2] += static_cast<uint32_t>(entries - 1);
    layout.controllers.push_back(controller);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (none && entries > 1) {
    error = Tr("--simulate none stands alone, not in a list");
    return std::nullopt;
  }
  // Mode none keeps one entry: it carries the bus's keys (clock, extra).
  for (const std::string& setting : settings) {
    const size_t colon = setting.find(':');
    const size_t eq = setting.find('=');
    if (colon != std::string::npos && (eq == std::string::npos || colon < eq)) {
      uint32_t n = 0;
      if (!ParseUnsigned(setting.substr(0, colon), n) || n == 0 || n > layout.controllers.size() || none) {
        error = StrFormat(Tr("--sim %s: no controller %s (there are %zu)"), setting.c_str(),
                          setting.substr(0, colon).c_str(), none ? size_t{0} : layout.controllers.size());
        return std::nullopt;
      }
      const std::string own = setting.substr(colon + 1);
      const std::string key = own.substr(0, own.find('='));
      if (key == "clock" || key == "extra") {
        error = StrFormat(Tr("--sim %s= is the bus's: give it without a controller number"), key.c_str());
        return std::nullopt;
      }
      if (!ApplySimSetting(own, layout.controllers[n - 1], error)) return std::nullopt;
      continue;
    }
    for (SimOptions& controller : layout.controllers) {
      if (!ApplySimSetting(setting, controller, error)) return std::nullopt;
    }
  }
  if (none) layout.controllers.front().mode = SimMode::kNone;
  return layout;
}

namespace {

void PlugExtraDevices(SimHidBus& bus, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    SimDeviceSetup other;
    other.vendorId = kExtraVendors[i % (sizeof kExtraVendors / sizeof kExtraVendors[0])];
    other.productId = static_cast<uint16_t>(0xC000 + i);
    bus.Plug(other, false);
  }
}

// A controller's model and device as `options` make it, not yet on a bus.
SimDeviceSetup ControllerDevice(const SimOptions& options, SimPopulation& population) {
  const int row = options.mode == SimMode::kPacket1 ? 1 : options.mode == SimMode::kPacket2 ? 2 : 3;
  SimDeviceSetup setup = ControllerSetup(row);
  if (options.mode == SimMode::kBoot) {
    population.boot = std::make_shared<SimBootController>(options.boot);
    setup.model = population.boot;
  } else {
    population.packet = std::make_shared<SimPacketController>(row, options.packet);
    setup.model = population.packet;
  }
  return setup;
}

// The controllers that come to one place one after another.
struct StreamPlan {
  SimHidBus& bus;
  SimOptions first;  // the first controller's options
  size_t slot;
  SimStreamListener listener;
};

// Controller `index` (from 0) of a stream: a device of its own, with its
// own UID and serial number, that makes way for the next once the host is
// done with it.
SimDeviceSetup StreamedDevice(const std::shared_ptr<const StreamPlan>& plan, uint32_t index,
                              SimPopulation& population) {
  SimOptions options = plan->first;
  options.boot.main.uid[1] += index;  // the place's number is in uid[2]
  SimDeviceSetup setup = ControllerDevice(options, population);
  setup.serial = StrFormat("TS%02zu%06u", plan->slot + 1, index + 1);
  setup.released = [plan, index, population](int device) {
    SimHidBus& bus = plan->bus;
    const std::string location = bus.LocationOf(device);
    bus.Unplug(device);
    bus.Forget(device);
    if (index + 1 >= plan->first.stream) {
      if (plan->listener) plan->listener(plan->slot, population, nullptr);
      return;
    }
    SimPopulation next;
    SimDeviceSetup arriving = StreamedDevice(plan, index + 1, next);
    arriving.location = location;
    // Heard of before it is on the bus, so that nobody meets it unannounced.
    if (plan->listener) plan->listener(plan->slot, population, &next);
    const int id = bus.PlugLater(std::move(arriving), bus.NowMs() + plan->first.streamGapMs);
    if (plan->first.unplugAfter != 0) bus.UnplugAfterOutputs(id, plan->first.unplugAfter, plan->first.unplugBackMs);
  };
  return setup;
}

SimPopulation PlugController(SimHidBus& bus, const SimOptions& options, size_t slot,
                             const SimStreamListener& listener) {
  SimPopulation population;
  if (options.mode == SimMode::kNone) return population;
  SimDeviceSetup setup =
      options.stream > 1
          ? StreamedDevice(std::make_shared<const StreamPlan>(StreamPlan{bus, options, slot, listener}), 0, population)
          : ControllerDevice(options, population);
  population.controller = options.arriveAfterMs != 0
                              ? bus.PlugLater(setup, bus.NowMs() + options.arriveAfterMs)
                              : bus.Plug(setup, false);
  if (options.unplugAfter != 0) {
    bus.UnplugAfterOutputs(population.controller, options.unplugAfter, options.unplugBackMs);
  }
  return population;
}

}  // namespace

SimPopulation PopulateSimBus(SimHidBus& bus, const SimOptions& options) {
  PlugExtraDevices(bus, options.extraDevices);
  return PlugController(bus, options, 0, {});
}

std::vector<SimPopulation> PopulateSimBus(SimHidBus& bus, const SimLayout& layout, const SimStreamListener& listener) {
  std::vector<SimPopulation> populations;
  if (layout.controllers.empty()) return populations;
  PlugExtraDevices(bus, layout.controllers.front().extraDevices);
  for (const SimOptions& options : layout.controllers) {
    if (options.mode == SimMode::kNone) continue;
    populations.push_back(PlugController(bus, options, populations.size(), listener));
  }
  return populations;
}

}  // namespace tarvik
