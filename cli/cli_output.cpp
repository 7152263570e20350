#include "cli/cli_output.h"

#include <cstdio>

#include "base/strformat.h"
#include "cli/cli_platform.h"
#include "update/version_text.h"

namespace tarvik {

void PrintJson(const json& document) {
  std::puts(document.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

int Conclude(const GlobalOptions& options, json document, int status, const std::string& reason) {
  if (options.json) {
    if (!reason.empty() && !document.contains("reason")) document["reason"] = reason;
    document["exitStatus"] = status;
    PrintJson(document);
  }
  if (status != kExitOk && !reason.empty()) std::fprintf(stderr, "tarvik-update-cli: %s\n", reason.c_str());
  return status;
}

std::optional<int> SetUpOrConclude(CliPlatform& platform, const GlobalOptions& options, json& document,
                                   const char* otherwise) {
  std::string error;
  int code = kExitOk;
  if (platform.Set(options, error, code)) return std::nullopt;
  document["result"] = code == kExitUsage ? "error" : otherwise;
  return Conclude(options, document, code, error);
}

int ExitFor(OutcomeResult result) {
  switch (result) {
    case OutcomeResult::kUpgraded:
      return kExitOk;
    case OutcomeResult::kFailed:
      return kExitFailed;
    case OutcomeResult::kRejected:
      return kExitImage;
    case OutcomeResult::kCancelled:
      return kExitCancelled;
    case OutcomeResult::kInterrupted:
      return kExitInterrupted;
  }
  return kExitFailed;
}

std::string RecoveryHint(const UpdateOutcome& outcome) {
  if (!outcome.controllerTouched) return "The controller was not changed.";
  const std::string part = StrFormat("%llu of %llu bytes", static_cast<unsigned long long>(outcome.bytesSent),
                                     static_cast<unsigned long long>(outcome.payloadTotal));
  if (outcome.protocol == UpdateProtocol::kBoot) {
    return "The controller stays in boot mode with part of the image (" + part +
           "); run the same flash again to finish it.";
  }
  return "The controller took part of the image (" + part +
         ") and keeps its old firmware until an update ends; unplug it, plug it in again and run "
         "the same flash again.";
}

json OutcomeDocument(const char* command, const UpdateOutcome& outcome) {
  json document = {{"command", command}, {"result", OutcomeName(outcome.result)}};
  if (!outcome.reason.empty()) document["reason"] = outcome.reason;
  document["from"] = outcome.controllerVersion;
  document["to"] = outcome.imageVersion;
  document["bytesSent"] = outcome.bytesSent;
  document["payloadTotal"] = outcome.payloadTotal;
  document["seconds"] = outcome.seconds;
  return document;
}

namespace {

json InfoBlockJson(const boot::InfoBlock& block, bool main) {
  json info = {{"pid", block.pid},
               {"version", block.version},
               {"versionText", FormatVersionShort(block.version)}};
  if (main) {
    info["revision"] = block.revision;
    info["uid"] = {block.uid[0], block.uid[1], block.uid[2]};
    info["boot_id"] = {block.bootId[0], block.bootId[1], block.bootId[2]};
    info["bootIDAddr"] = block.bootIdAddr;
    info["appIDAddr"] = block.appIdAddr;
  }
  info["VerAddr"] = block.verAddr;
  return info;
}

void PrintInfoBlock(const char* name, const boot::InfoBlock& block, bool main) {
  std::printf("%s:\n  pid=0x%04x\n  version=0x%x (%s)\n", name, block.pid, block.version,
              FormatVersionShort(block.version).c_str());
  if (main) {
    std::printf("  revision=%d\n", block.revision);
    std::printf("  uid=%08x %08x %08x\n", block.uid[0], block.uid[1], block.uid[2]);
    std::printf("  boot_id=%08x %08x %08x\n", block.bootId[0], block.bootId[1], block.bootId[2]);
    std::printf("  bootIDAddr=0x%x\n  appIDAddr=0x%x\n", block.bootIdAddr, block.appIdAddr);
  }
  std::printf("  VerAddr=0x%x\n", block.verAddr);
}

}  // namespace

void AddProbeJson(json& document, const ControllerProbe& probe) {
  document["present"] = probe.present;
  document["reportMode"] = static_cast<int>(probe.mode);
  if (probe.present) document["path"] = probe.path;
  if (probe.present && !probe.location.empty()) document["location"] = probe.location;
  if (probe.present && !probe.serial.empty()) document["serial"] = probe.serial;
  document["title"] = probe.title;
  if (probe.deviceVersion != kDeviceVersionUnknown) {
    document["deviceVersion"] = probe.deviceVersion;
    document["versionText"] = probe.VersionText();
  }
  if (probe.present && probe.BootMode() && probe.queried) {
    document["main"] = InfoBlockJson(probe.main, true);
    document["at"] = InfoBlockJson(probe.at, false);
  }
}

void PrintProbe(const ControllerProbe& probe) {
  std::printf("Report mode: %d (%s)\n", static_cast<int>(probe.mode),
              probe.BootMode() ? "boot command protocol" : "firmware packet protocol");
  if (!probe.location.empty()) std::printf("Plugged in at: %s\n", probe.location.c_str());
  if (!probe.serial.empty()) std::printf("Serial number: %s\n", probe.serial.c_str());
  if (probe.queried && probe.BootMode()) {
    PrintInfoBlock("main mcu", probe.main, true);
    PrintInfoBlock("ATmcu", probe.at, false);
  } else if (probe.deviceVersion != kDeviceVersionUnknown) {
    std::printf("Firmware version: %s\n", probe.deviceVersion == kDeviceVersionNoFirmware
                                              ? "none (no valid firmware)"
                                              : FormatVersionShort(probe.deviceVersion).c_str());
  }
  std::printf("Title: %s\n", probe.title.c_str());
}

std::string DoneVerb(const FlashResult& r) {
  if (r.action == "downgrade") return "Downgraded";
  if (r.action == "reinstall") return "Reinstalled";
  return "Upgraded";
}

std::string ControllerLabel(const FlashResult& r, const std::string& path, bool withPath) {
  std::string label = r.product.empty() ? "controller" : r.product;
  if (!r.uid.empty()) label += " uid " + r.uid;
  if (!r.location.empty()) label += " at " + r.location;
  if (withPath || (r.uid.empty() && r.location.empty())) label += " " + path;
  return label;
}

json ResultJson(int index, const std::string& path, const FlashResult& r) {
  json result = {{"index", index}, {"path", path}};
  if (!r.product.empty()) result["product"] = r.product;
  if (!r.uid.empty()) result["uid"] = r.uid;
  if (!r.location.empty()) result["location"] = r.location;
  result["result"] = r.result;
  if (!r.action.empty()) result["action"] = r.action;
  result["reason"] = r.reason.empty() ? nullptr : json(r.reason);
  result["from"] = r.outcome ? r.outcome->controllerVersion : r.from.empty() ? "unknown" : r.from;
  result["to"] = r.outcome && !r.outcome->imageVersion.empty() ? r.outcome->imageVersion : r.to;
  result["bytesSent"] = r.outcome ? r.outcome->bytesSent : 0;
  result["payloadTotal"] = r.outcome ? r.outcome->payloadTotal : 0;
  result["seconds"] = r.outcome ? r.outcome->seconds : 0.0;
  return result;
}

void PrintResultLine(int index, const std::string& path, const FlashResult& r, bool verbose) {
  const std::string label = ControllerLabel(r, path, verbose);
  if (r.status == kExitOk && r.outcome) {
    std::string verb = DoneVerb(r);
    verb[0] = static_cast<char>(verb[0] - 'A' + 'a');
    std::printf("%d %s: %s from %s to %s (%llu bytes, %.1f s)\n", index, label.c_str(), verb.c_str(),
                r.outcome->controllerVersion.c_str(), r.outcome->imageVersion.c_str(),
                static_cast<unsigned long long>(r.outcome->bytesSent), r.outcome->seconds);
  } else {
    std::printf("%d %s: %s: %s\n", index, label.c_str(), r.result.c_str(), r.reason.c_str());
  }
  std::fflush(stdout);
}

void Tally::Add(const FlashResult& r) {
  if (r.result == "skipped") ++skipped;
  else if (r.status == kExitOk) ++upgraded;
  else if (r.status == kExitCancelled) ++refused;
  else if (r.status == kExitInterrupted) ++interrupted;
  else ++failed;
}

std::string Tally::Text() const {
  std::string text = StrFormat("%d controller%s: %d upgraded", Total(), Total() == 1 ? "" : "s", upgraded);
  if (skipped) text += StrFormat(", %d skipped", skipped);
  if (refused) text += StrFormat(", %d refused", refused);
  if (failed) text += StrFormat(", %d failed", failed);
  if (interrupted) text += StrFormat(", %d interrupted", interrupted);
  return text;
}

json Tally::Json() const {
  return {{"upgraded", upgraded},
          {"skipped", skipped},
          {"refused", refused},
          {"failed", failed},
          {"interrupted", interrupted}};
}

}  // namespace tarvik
