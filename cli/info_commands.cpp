// info and list: what the connected controllers are and run.
#include <cstdio>
#include <vector>

#include "cli/cli_output.h"
#include "texts/interface_texts.h"
#include "cli/commands.h"
#include "cli/device_choice.h"
#include "update/firmware_version.h"

namespace tarvik {

namespace {

class InfoCommand final : public CliCommand {
 public:
  int Run(const GlobalOptions& options) override;

 protected:
  CLI::App* Define(CLI::App& line) override {
    return line.add_subcommand("info", Tr("Show the connected controller and its firmware"));
  }
  std::vector<Unused> UnusedOptions() const override {
    return {{"--quiet", N_("info prints only what it was asked for")}};
  }
};

class ListCommand final : public CliCommand {
 public:
  int Run(const GlobalOptions& options) override;

 protected:
  CLI::App* Define(CLI::App& line) override {
    return line.add_subcommand("list", Tr("List every supported controller, in bus order"));
  }
  std::vector<Unused> UnusedOptions() const override {
    return {{"--quiet", N_("list prints only what it was asked for")}};
  }
};

int InfoCommand::Run(const GlobalOptions& options) {
  json document = {{"command", "info"}, {"result", nullptr}, {"controllers", json::array()}};
  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, options, document, "no controller")) {
    return *ended;
  }
  ControllerTarget target;
  const std::vector<ControllerEntry> controllers = platform.Controllers();
  if (!options.device.empty()) {
    if (std::string error; !TargetOfDevice(platform, options.device, target, error)) {
      document["result"] = "no controller";
      return Conclude(options, document, kExitNoController, error);
    }
  } else if (controllers.size() > 1) {
    // Each controller in bus order, on a window of its own.
    json list = json::array();
    bool allQueried = true;
    for (size_t i = 0; i < controllers.size(); ++i) {
      const ControllerReport report = ProbeController(platform, platform.TargetFor(controllers[i]));
      allQueried = allQueried && report.present && report.deviceVersion.Known();
      if (report.present) list.push_back(ProbeJson(static_cast<int>(i + 1), report));
      if (!options.json) {
        if (i != 0) std::printf("\n");
        std::printf(Tr("Controller %zu: %s\n"), i + 1, controllers[i].path.c_str());
        if (report.present) PrintProbe(report);
      }
    }
    platform.FinishTranscript();
    document["result"] = allQueried ? "ok" : "failed";
    document["controllers"] = list;
    return Conclude(options, document, allQueried ? kExitOk : kExitFailed,
                    allQueried ? "" : Tr("a controller did not tell its version"),
                    ReasonCodeName(ReasonCode::kVersionUntold));
  }
  const ControllerReport report = ProbeController(platform, target);
  platform.FinishTranscript();

  int status = kExitOk;
  std::string reason;
  if (!report.present) {
    status = kExitNoController;
    reason = Tr(kNoControllerFound);
  } else if (!report.deviceVersion.Known()) {
    status = kExitFailed;
    reason = Tr("the controller did not tell its version");
  }
  // The probe says why it learnt no version: a silent packet controller, an
  // information request never answered.
  const char* code = nullptr;
  if (status == kExitFailed) {
    if (!report.reason.Empty()) reason = CliReasonText(report.reason);
    code = ReasonCodeName(report.reason.Empty() ? ReasonCode::kVersionUntold : report.reason.code);
  }
  if (options.json) {
    document["result"] = status == kExitOk ? "ok" : status == kExitNoController ? "no controller" : "failed";
    document["controllers"] = json::array();
    if (report.present) document["controllers"].push_back(ProbeJson(BusIndexOf(controllers, target.path), report));
  } else if (report.present) {
    PrintProbe(report);
  }
  return Conclude(options, document, status, reason, code);
}

int ListCommand::Run(const GlobalOptions& options) {
  json document = {{"command", "list"}, {"result", nullptr}, {"controllers", json::array()}};
  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, options, document, "no controller")) {
    return *ended;
  }
  const std::vector<ControllerEntry> controllers = platform.Controllers();
  // --device lists that controller alone, under its number among them all.
  ControllerEntry chosen;
  if (!options.device.empty()) {
    if (std::string error; !ResolveDevice(platform, options.device, chosen, error)) {
      platform.FinishTranscript();
      document["result"] = "no controller";
      return Conclude(options, document, kExitNoController, error);
    }
  }
  json list = json::array();
  for (size_t i = 0; i < controllers.size(); ++i) {
    const ControllerEntry& c = controllers[i];
    if (!options.device.empty() && c.path != chosen.path) continue;
    ControllerReport report = ProbeController(platform, platform.TargetFor(c));
    // Listed as the bus had it (a report-mode-2 controller may come back in
    // report mode 1 from the probe's signal), with what the probe found.
    report.path = c.path;
    report.vendorId = c.vendorId;
    report.productId = c.productId;
    report.mode = static_cast<ReportMode>(c.reportMode);
    report.location = c.location;
    report.serial = c.serial;
    const json entry = ProbeJson(static_cast<int>(i + 1), report);
    const bool blocks = report.BootMode() && report.queried;
    list.push_back(entry);
    if (options.json) continue;
    const std::string version = report.VersionText();
    const char* shown = version == "unknown" ? Tr("unknown") : version == "none" ? Tr("none") : version.c_str();
    std::printf(Tr("%zu  %s  %04x:%04x  report mode %d  firmware %s"), i + 1, c.path.c_str(), c.vendorId, c.productId,
                c.reportMode, shown);
    if (!c.location.empty()) std::printf(Tr("  at %s"), c.location.c_str());
    if (!c.serial.empty()) std::printf(Tr("  serial %s"), c.serial.c_str());
    if (blocks) {
      std::printf(Tr("  main %s  ATmcu %s  revision %d  uid %s"), FormatVersionShort(report.main.version).c_str(),
                  FormatVersionShort(report.at.version).c_str(), report.main.revision, report.Uid().c_str());
    }
    std::printf("\n");
  }
  platform.FinishTranscript();
  document["result"] = controllers.empty() ? "no controller" : "ok";
  document["controllers"] = list;
  return Conclude(options, document, controllers.empty() ? kExitNoController : kExitOk,
                  controllers.empty() ? Tr(kNoControllerListed) : "");
}

}  // namespace

std::unique_ptr<CliCommand> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }
std::unique_ptr<CliCommand> MakeListCommand() { return std::make_unique<ListCommand>(); }

}  // namespace tarvik
