#include "cli/cli_output.h"

#include "cli/replay_run.h"

#include <array>
#include <cstdio>

#include "base/strformat.h"
#include "cli/cli_platform.h"
#include "texts/interface_texts.h"
#include "texts/reason_texts.h"
#include "update/firmware_version.h"

namespace tarvik {

void PrintJson(const json& document) {
  std::puts(document.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

void PrintJsonLine(const json& document) {
  std::puts(document.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  std::fflush(stdout);
}

namespace {

// The code of a reason the command line words itself, by how the command ends.
const char* StatusCode(int status) {
  switch (status) {
    case kExitUsage:
      return kCodeUsage;
    case kExitNoController:
      return ReasonCodeName(ReasonCode::kNoController);
    case kExitCancelled:
      return ReasonCodeName(ReasonCode::kNotConfirmed);
    case kExitInterrupted:
      return ReasonCodeName(ReasonCode::kInterrupted);
    default:
      return kCodeNotAllUpgraded;
  }
}

}  // namespace

std::vector<std::string> AllDocumentCodes() {
  std::vector<std::string> codes;
  for (const ReasonCode code : AllReasonCodes()) codes.emplace_back(ReasonCodeName(code));
  for (const char* own : {kCodeUsage, kCodeNeedsYes, kCodeHistoryUnreadable, kCodeNotAllUpgraded}) {
    codes.emplace_back(own);
  }
  return codes;
}

std::string CliReasonText(const Reason& reason) {
  if (reason.code == ReasonCode::kNoController) return Tr(kNoControllerFound);
  return ReasonText(reason);
}

int Conclude(const GlobalOptions& options, json document, int status, const Reason& reason) {
  return Conclude(options, std::move(document), status, CliReasonText(reason), ReasonCodeName(reason.code));
}

int Conclude(const GlobalOptions& options, json document, int status, const std::string& reason, const char* code) {
  // Where a replay left the recording comes before what the run made of it.
  if (options.replay != nullptr && status != kExitOk) options.replay->TellDivergence();
  if (options.json) {
    if (!reason.empty() && !document.contains("reason")) {
      document["reason"] = reason;
      document["code"] = code != nullptr ? code : StatusCode(status);
    }
    document["exitStatus"] = status;
    // A station's documents are JSON lines, its first and last included.
    if (document.is_object() && document.value("mode", "") == "watch") {
      PrintJsonLine(document);
    } else {
      PrintJson(document);
    }
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

int ConcludeBeforeAnyReport(CliPlatform& platform, const GlobalOptions& options, json& document,
                            OutcomeResult result, int status, const Reason& reason) {
  UpdateOutcome stopped;
  stopped.result = result;
  stopped.reason = reason;
  platform.RecordOutcome(stopped);
  platform.FinishTranscript();
  document["result"] = OutcomeName(result);
  return Conclude(options, document, status, reason);
}

int ConcludeNeedsYes(CliPlatform& platform, const GlobalOptions& options, json& document) {
  // The transcript tells it as a change nobody confirmed.
  UpdateOutcome stopped;
  stopped.result = OutcomeResult::kCancelled;
  stopped.reason = Reason(ReasonCode::kNotConfirmed);
  platform.RecordOutcome(stopped);
  platform.FinishTranscript();
  document["result"] = OutcomeName(OutcomeResult::kCancelled);
  return Conclude(options, document, kExitCancelled, Tr(kNeedsYes), kCodeNeedsYes);
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
  if (!outcome.controllerTouched) return Tr("The controller was not changed.");
  const auto sent = static_cast<unsigned long long>(outcome.bytesSent);
  const auto total = static_cast<unsigned long long>(outcome.payloadTotal);
  // A failed write leaves a boot-mode controller half written: it may not start again on its own.
  if (outcome.result == OutcomeResult::kFailed && outcome.protocol == UpdateProtocol::kBoot) {
    return StrFormat(Tr("The controller holds part of the image (%llu of %llu bytes) and may not start until it is "
                        "updated: hold the pair button while plugging it in, then run the same flash again."),
                     sent, total);
  }
  if (outcome.protocol == UpdateProtocol::kBoot) {
    return StrFormat(Tr("The controller stays in boot mode with part of the image (%llu of %llu bytes); run the "
                        "same flash again to finish it."),
                     sent, total);
  }
  return StrFormat(Tr("The controller took part of the image (%llu of %llu bytes) and keeps its old firmware until "
                      "an update ends; unplug it, plug it in again and run the same flash again."),
                   sent, total);
}

const char* ResultWord(const std::string& result) {
  // The results' machine names, as words of the interface language.
  static constexpr const char* kWords[] = {N_("upgraded"),    N_("failed"),  N_("rejected"),
                                           N_("cancelled"),   N_("interrupted"), N_("skipped"),
                                           N_("refused"),     N_("no controller"), N_("error")};
  for (const char* word : kWords) {
    if (result == word) return Tr(word);
  }
  return result.c_str();
}

json VersionJson(uint32_t word) { return {{"text", FormatVersionShort(word)}, {"word", word}}; }

json SignatureJson(const SignatureCheck& check) {
  json signature = {{"status", SignatureStatusName(check.status)}};
  if (!check.keyId.empty()) signature["keyId"] = check.keyId;
  if (!check.keyName.empty()) signature["keyName"] = check.keyName;
  if (!check.trustedComment.empty()) signature["trustedComment"] = check.trustedComment;
  return signature;
}

namespace {

std::string HexWords(const std::array<uint32_t, 3>& words) {
  return StrFormat("%08x%08x%08x", words[0], words[1], words[2]);
}

json InfoBlockJson(const boot::InfoBlock& block, bool main) {
  json info = {{"pid", block.pid}, {"version", VersionJson(block.version)}};
  if (main) {
    info["revision"] = block.revision;
    info["uid"] = HexWords(block.uid);
    info["bootId"] = HexWords(block.bootId);
    info["bootIdAddr"] = block.bootIdAddr;
    info["appIdAddr"] = block.appIdAddr;
  }
  info["verAddr"] = block.verAddr;
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

json ProbeJson(int index, const ControllerReport& probe) {
  json controller = {{"index", index},
                     {"product", StrFormat("%04x:%04x", probe.vendorId, probe.productId)},
                     {"vendorId", probe.vendorId},
                     {"productId", probe.productId},
                     {"reportMode", static_cast<int>(probe.mode)},
                     {"path", probe.path}};
  if (probe.leftModeTwo) controller["reportModeBefore"] = static_cast<int>(ReportMode::kPacket);
  if (!probe.location.empty()) controller["location"] = probe.location;
  if (!probe.serial.empty()) controller["serial"] = probe.serial;
  if (const std::string uid = probe.Uid(); !uid.empty()) controller["uid"] = uid;
  // "none": a packet-protocol controller without valid firmware says so with a word of its own.
  controller["version"] = probe.queried && probe.deviceVersion.Known()
                              ? json{{"text", probe.VersionText()}, {"word", probe.deviceVersion.Word()}}
                              : json(nullptr);
  if (probe.BootMode() && probe.queried) {
    controller["main"] = InfoBlockJson(probe.main, true);
    controller["at"] = InfoBlockJson(probe.at, false);
  }
  if (!probe.title.empty()) controller["title"] = probe.title;
  return controller;
}

void PrintProbe(const ControllerReport& probe) {
  std::printf(probe.BootMode() ? Tr("Report mode: %d (boot command protocol)\n")
                               : Tr("Report mode: %d (firmware packet protocol)\n"),
              static_cast<int>(probe.mode));
  if (probe.leftModeTwo) std::printf("%s\n", Tr("It was in report mode 2 and switched to report mode 1 on the mode-2 signal."));
  if (!probe.location.empty()) std::printf(Tr("Plugged in at: %s\n"), probe.location.c_str());
  if (!probe.serial.empty()) std::printf(Tr("Serial number: %s\n"), probe.serial.c_str());
  if (probe.queried && probe.BootMode()) {
    PrintInfoBlock(Tr("main mcu"), probe.main, true);
    PrintInfoBlock("ATmcu", probe.at, false);
  } else if (probe.deviceVersion.Known()) {
    std::printf(Tr("Firmware version: %s\n"), probe.deviceVersion.Word() == FirmwareVersion::kNoFirmwareWord
                                                  ? Tr("none (no valid firmware)")
                                                  : probe.deviceVersion.Text().c_str());
  }
  std::printf(Tr("Title: %s\n"), probe.title.c_str());
}

std::string FlashReasonText(const FlashResult& r) {
  if (r.result == "skipped") return StrFormat(Tr("already %s"), r.from.c_str());
  const std::string text = CliReasonText(r.reason);
  if (r.result != "refused") return text;
  if (r.reason.code == ReasonCode::kOlderThanController) {
    return StrFormat(Tr("%s; add --allow-older to write it anyway"), text.c_str());
  }
  if (r.reason.code == ReasonCode::kSameVersion) {
    return StrFormat(Tr("%s; add --allow-reinstall to write it again"), text.c_str());
  }
  return text;
}

std::string ControllerNamed(const FlashResult& r) {
  if (r.product.empty()) return Tr("the controller");
  if (!r.uid.empty() && !r.location.empty()) {
    return StrFormat(Tr("controller %s (uid %s, at %s)"), r.product.c_str(), r.uid.c_str(), r.location.c_str());
  }
  if (!r.uid.empty()) return StrFormat(Tr("controller %s (uid %s)"), r.product.c_str(), r.uid.c_str());
  if (!r.location.empty()) return StrFormat(Tr("controller %s (at %s)"), r.product.c_str(), r.location.c_str());
  return StrFormat(Tr("controller %s"), r.product.c_str());
}

std::string ControllerLabel(const FlashResult& r, const std::string& path, bool withPath) {
  std::string label = r.product.empty() ? Tr("controller") : r.product;
  if (!r.uid.empty()) label = StrFormat(Tr("%s uid %s"), label.c_str(), r.uid.c_str());
  if (!r.location.empty()) label = StrFormat(Tr("%s at %s"), label.c_str(), r.location.c_str());
  if (withPath || (r.uid.empty() && r.location.empty())) label += " " + path;
  return label;
}

json ResultJson(int index, const std::string& path, const FlashResult& r) {
  json controller = {{"index", index}};
  if (!r.product.empty()) controller["product"] = r.product;
  if (!r.uid.empty()) controller["uid"] = r.uid;
  if (!r.location.empty()) controller["location"] = r.location;
  controller["path"] = r.path.empty() ? path : r.path;
  json result = {{"controller", controller}, {"result", r.result}};
  if (!r.action.empty()) result["action"] = r.action;
  if (!r.reason.Empty()) {
    result["reason"] = FlashReasonText(r);
    result["code"] = ReasonCodeName(r.reason.code);
  }
  result["from"] = r.fromWord ? VersionJson(*r.fromWord) : json(nullptr);
  result["to"] = r.toWord ? VersionJson(*r.toWord) : json(nullptr);
  result["bytesSent"] = r.outcome ? r.outcome->bytesSent : 0;
  result["payloadTotal"] = r.outcome ? r.outcome->payloadTotal : 0;
  result["seconds"] = r.outcome ? r.outcome->seconds : 0.0;
  if (!r.pace.empty()) result["pace"] = r.pace;
  if (!r.controllerState.empty()) result["controllerState"] = r.controllerState;
  return result;
}

std::string ResultLine(int index, const std::string& path, const FlashResult& r, bool verbose) {
  const std::string label = ControllerLabel(r, path, verbose);
  if (r.status == kExitOk && r.outcome) {
    const char* format = r.action == "downgrade"   ? Tr("%d %s: downgraded from %s to %s (%llu bytes, %.1f s)\n")
                         : r.action == "reinstall" ? Tr("%d %s: reinstalled from %s to %s (%llu bytes, %.1f s)\n")
                                                   : Tr("%d %s: upgraded from %s to %s (%llu bytes, %.1f s)\n");
    std::string line = StrFormat(format, index, label.c_str(), r.outcome->controllerVersion.c_str(),
                                 r.outcome->imageVersion.c_str(), static_cast<unsigned long long>(r.outcome->bytesSent),
                                 r.outcome->seconds);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
  }
  return StrFormat("%d %s: %s: %s", index, label.c_str(), ResultWord(r.result), FlashReasonText(r).c_str());
}

void PrintResultLine(int index, const std::string& path, const FlashResult& r, bool verbose) {
  std::printf("%s\n", ResultLine(index, path, r, verbose).c_str());
  std::fflush(stdout);
}

void Tally::Add(const FlashResult& r) {
  if (r.result == "skipped") ++skipped;
  else if (r.status == kExitOk) ++upgraded;
  else if (r.status == kExitCancelled) ++refused;
  else if (r.status == kExitImage) ++rejected;
  else if (r.status == kExitInterrupted) ++interrupted;
  else ++failed;
}

std::string Tally::Text() const {
  const auto count = static_cast<unsigned long>(Total());
  std::string text = StrFormat(TrN("%d controller: %d upgraded", "%d controllers: %d upgraded", count), Total(), upgraded);
  if (skipped) text += StrFormat(Tr(", %d skipped"), skipped);
  if (refused) text += StrFormat(Tr(", %d refused"), refused);
  if (rejected) text += StrFormat(Tr(", %d rejected"), rejected);
  if (failed) text += StrFormat(Tr(", %d failed"), failed);
  if (interrupted) text += StrFormat(Tr(", %d interrupted"), interrupted);
  return text;
}

json Tally::Json() const {
  return {{"upgraded", upgraded},
          {"skipped", skipped},
          {"refused", refused},
          {"rejected", rejected},
          {"failed", failed},
          {"interrupted", interrupted}};
}

json FlashDocument(const char* mode) {
  return {{"command", "flash"},
          {"mode", mode},
          {"result", nullptr},
          {"results", json::array()},
          {"summary", Tally().Json()}};
}

void AddResults(json& document, json results, const Tally& tally) {
  document["results"] = std::move(results);
  document["summary"] = tally.Json();
}

Tally TallyOf(const FlashResult& r) {
  Tally tally;
  tally.Add(r);
  return tally;
}

int BusIndexOf(const std::vector<ControllerEntry>& controllers, const std::string& path) {
  for (size_t i = 0; i < controllers.size(); ++i) {
    if (controllers[i].path == path) return static_cast<int>(i + 1);
  }
  return 1;
}

}  // namespace tarvik
