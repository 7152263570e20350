#include "sim/sim_setup.h"


#include "base/parse_number.h"
#include "device/device_table.h"
#include "device/report_framing.h"

namespace tarvik {

namespace {

// Vendors whose devices sit on the bus beside the controller.
constexpr uint16_t kExtraVendors[] = {0x046D, 0x045E, 0x1532, 0x0B05, 0x04F3, 0x093A};

}  // namespace

SimDeviceSetup ControllerSetup(int row) {
  const DeviceTableRow& r = kDeviceTable[static_cast<size_t>(row - 1)];
  const ReportFraming framing = FramingForMode(r.reportMode);
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
    error = "--sim expects KEY=VALUE, got \"" + setting + "\"";
    return false;
  }
  const std::string key = setting.substr(0, eq);
  const std::string value = setting.substr(eq + 1);
  if (key == "clock") {
    if (value != "virtual" && value != "real") {
      error = "--sim clock= takes virtual or real";
      return false;
    }
    options.virtualClock = value == "virtual";
    return true;
  }
  if (key == "unplug.after" || key == "extra") {
    uint32_t number = 0;
    if (!ParseUnsigned(value, number)) {
      error = "--sim " + key + "= takes a number, got \"" + value + "\"";
      return false;
    }
    (key == "extra" ? options.extraDevices : options.unplugAfter) = number;
    return true;
  }
  // A key may belong to both controllers (latency.ms): it goes to every one that knows it.
  std::string bootError;
  std::string packetError;
  const bool boot = ApplySimBootSetting(key, value, options.boot, bootError);
  const bool packetKey = ApplySimPacketSetting(key, value, options.packet, packetError);
  if (boot || packetKey) return true;
  error = !bootError.empty() ? bootError : packetError;
  if (error.empty()) error = "unknown --sim key \"" + key + "\"";
  return false;
}

SimPopulation PopulateSimBus(SimHidBus& bus, const SimOptions& options) {
  SimPopulation population;
  for (uint32_t i = 0; i < options.extraDevices; ++i) {
    SimDeviceSetup other;
    other.vendorId = kExtraVendors[i % (sizeof kExtraVendors / sizeof kExtraVendors[0])];
    other.productId = static_cast<uint16_t>(0xC000 + i);
    bus.Plug(other, false);
  }
  if (options.mode == SimMode::kNone) return population;

  const int row = options.mode == SimMode::kPacket1 ? 1 : options.mode == SimMode::kPacket2 ? 2 : 3;
  SimDeviceSetup setup = ControllerSetup(row);
  if (options.mode == SimMode::kBoot) {
    population.boot = std::make_shared<SimBootController>(options.boot);
    setup.model = population.boot;
  } else {
    population.packet = std::make_shared<SimPacketController>(row, options.packet);
    setup.model = population.packet;
  }
  population.controller = bus.Plug(setup, false);
  if (options.unplugAfter != 0) bus.UnplugAfterOutputs(population.controller, options.unplugAfter);
  return population;
}

}  // namespace tarvik
