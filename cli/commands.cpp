#include "cli/commands.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <map>
#include <set>
#include <thread>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/text_table.h"
#include "base/bytes.h"
#include "base/strformat.h"
#include "cli/cli_platform.h"
#include "cli/console.h"
#include "cli/interrupt_watch.h"
#include "cli/terminal_user.h"
#include "device/device_table.h"
#include "update/boot_wire.h"
#include "update/firmware_image.h"
#include "update/version_text.h"

namespace tarvik {

using json = nlohmann::ordered_json;

namespace {

// The image listing shows this many records; the check still walks them all.
// A controller restarts after its update: this long away, it is still the same one.
constexpr uint64_t kRestartGraceMs = 5000;
constexpr size_t kListedRecords = 1000;

void PrintJson(const json& document) {
  std::puts(document.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

// Ends a command: the JSON document (with --json), the failure line on
// standard error, the exit status.
int Conclude(const CliOptions& options, json document, int status, const std::string& reason) {
  if (options.json) {
    if (!reason.empty() && !document.contains("reason")) document["reason"] = reason;
    document["exitStatus"] = status;
    PrintJson(document);
  }
  if (status != kExitOk && !reason.empty()) std::fprintf(stderr, "tarvik-update-cli: %s\n", reason.c_str());
  return status;
}

// Builds `platform` from the options. When that cannot be done the command
// ends: the status returned is the concluded one, and `document`'s result is
// "error" for a usage error, else `otherwise`.
std::optional<int> SetUpOrConclude(CliPlatform& platform, const CliOptions& options, json& document,
                                   const char* otherwise = "error") {
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

// Release versions follow every beta of the same number.
int CompareVersions(uint32_t a, uint32_t b) {
  const auto key = [](uint32_t v) {
    return (uint64_t{v & 0xFFFFu} << 17) | (BetaNumber(v) == 0 ? 0x10000u : BetaNumber(v));
  };
  return key(a) < key(b) ? -1 : key(a) > key(b) ? 1 : 0;
}

std::string DescribeController(CHid& hid) {
  for (const DeviceTableRow& row : kDeviceTable) {
    if (row.reportMode == hid.CurrentReportMode()) {
      return StrFormat("controller %04x:%04x", row.vendorId, row.productId);
    }
  }
  return "the controller";
}

// What an interrupted update leaves behind, and how to go on.
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

// The image as flash sees it before talking to any controller: read and
// checked as the update will check it.
struct ImageCheck {
  std::string reason;  // empty: usable
  uint32_t version = 0;
  uint32_t payloadTotal = 0;
  FirmwareImage image;
};

ImageCheck CheckImage(const std::string& path) {
  ImageCheck check;
  check.image = FirmwareImage::Load(path);
  check.version = GetLe32(check.image.FirstHeader());
  const ImageScan& scan = check.image.Scan();
  if (!check.image.Readable()) {
    check.reason = scan.reason;
  } else if (!scan.Accepted()) {
    check.reason = ImageRejection(path, scan.reason);
  }
  check.payloadTotal = scan.payloadTotal;
  return check;
}

// The version guard: each record the controller's protocol writes against the
// firmware of its own microcontroller. Older wins over same; "same" only when
// every microcontroller written already runs its record's version.
struct VersionGuard {
  int order = 1;           // <0: something older, 0: all the same, >0: an upgrade
  std::string older;       // the refusal without --allow-older
  std::string same;        // the refusal without --allow-reinstall
  std::string atDetail;    // the ATmcu's versions, said with the confirmation
};

VersionGuard GuardVersions(const ImageCheck& image, bool bootMode, uint32_t mainCurrent, uint32_t atCurrent) {
  VersionGuard guard;
  const UpdateProtocol protocol = bootMode ? UpdateProtocol::kBoot : UpdateProtocol::kPacket;
  bool anyOlder = false;
  bool allSame = true;
  bool anyWritten = false;
  for (const ImageMcu mcu : {ImageMcu::kMain, ImageMcu::kAtMcu}) {
    uint32_t target = 0;
    if (!image.image.VersionFor(protocol, mcu, target)) continue;
    if (!bootMode && mcu == ImageMcu::kAtMcu) continue;
    anyWritten = true;
    const uint32_t current = mcu == ImageMcu::kMain ? mainCurrent : atCurrent;
    const int order = CompareVersions(target, current);
    const std::string to = FormatVersionShort(target);
    const std::string from = FormatVersionShort(current);
    if (mcu == ImageMcu::kAtMcu) guard.atDetail = "ATmcu " + to + " and current is " + from;
    if (order < 0 && !anyOlder) {
      anyOlder = true;
      guard.older = mcu == ImageMcu::kMain
                        ? "the image (" + to + ") is older than the controller's firmware (" + from + ")"
                        : "the image's ATmcu record (" + to + ") is older than the ATmcu's firmware (" + from + ")";
    }
    allSame = allSame && order == 0;
  }
  guard.order = anyOlder ? -1 : anyWritten && allSame ? 0 : 1;
  guard.older += "; add --allow-older to write it anyway";
  guard.same = "the controller already runs " + FormatVersionShort(mainCurrent) +
               (guard.atDetail.empty() ? "" : " (ATmcu " + FormatVersionShort(atCurrent) + ")") +
               "; add --allow-reinstall to write it again";
  return guard;
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

// The windows of running updates, so that Ctrl-C can stop each at its next step.
class StopRegistry {
 public:
  void Add(CUpdateDlg& dlg) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_windows.push_back(&dlg);
  }
  void Remove(CUpdateDlg& dlg) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), &dlg), m_windows.end());
  }
  void StopAll() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopped = true;
    for (CUpdateDlg* dlg : m_windows) dlg->RequestStop();
  }
  bool Stopped() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_stopped;
  }

 private:
  mutable std::mutex m_lock;
  std::vector<CUpdateDlg*> m_windows;
  bool m_stopped = false;
};

// How one controller's flash ended.
struct FlashResult {
  int status = kExitOk;
  std::string result;  // an outcome's name, or "no controller", "refused", "failed", "interrupted"
  std::string reason;
  std::optional<UpdateOutcome> outcome;
  std::string controller;  // "controller 5a3c:7e23"
  std::string from;        // the controller's version, when known
  std::string to;          // the image's version
};

// One controller's update on its own window and device object (the whole
// bus's first controller when `target` has no path). `guardAsYes`: the
// version guard applies as under --yes (the batch was confirmed once).
FlashResult FlashOne(CliPlatform& platform, const CliOptions& options, const ImageCheck& image, TerminalUser& user,
                     StopRegistry& stops, const WindowTarget& target, bool guardAsYes) {
  FlashResult r;
  r.to = FormatVersionShort(image.version);
  const bool assumeYes = options.assumeYes || guardAsYes;
  platform.RunWindow(
      user, nullptr, &user,
      [&](CUpdateDlg& dlg, HeadlessWindowHost& window) {
        if (!dlg.Hid().IsDevicePresent()) {
          r.status = kExitNoController;
          r.reason = "no supported controller found";
          return;
        }
        r.controller = DescribeController(dlg.Hid());
        if (!window.IsItemEnabled(IDC_USB_UPDATE)) {
          r.status = kExitFailed;
          r.reason = "the " + r.controller + " did not answer its information request";
          return;
        }
        const bool bootMode = dlg.Hid().IsBootMode();
        // An image this controller's protocol would not write whole is refused before any report.
        if (const std::string problem =
                image.image.CheckFor(bootMode ? UpdateProtocol::kBoot : UpdateProtocol::kPacket);
            !problem.empty()) {
          r.status = kExitImage;
          r.reason = ImageRejection(image.image.Path(), problem);
          return;
        }
        const uint32_t current = dlg.DeviceVersion();
        const bool known = current != kDeviceVersionUnknown && !(current == kDeviceVersionNoFirmware && !bootMode);
        if (known) {
          // An erased ATmcu version reads as 0, like the main one.
          const uint32_t atRaw = boot::InfoBlock::Parse(dlg.AtInfoBlock()).version;
          const uint32_t atCurrent = atRaw == 0xFFFFFFFFu ? 0 : atRaw;
          const VersionGuard guard = GuardVersions(image, bootMode, current, atCurrent);
          r.from = FormatVersionShort(current);
          if (guard.order < 0 && assumeYes && !options.allowOlder) {
            r.status = kExitCancelled;
            r.reason = guard.older;
            return;
          }
          if (guard.order == 0 && assumeYes && !options.allowReinstall) {
            r.status = kExitCancelled;
            r.reason = guard.same;
            return;
          }
          if (guard.order < 0) user.SetVersionNote("older than the controller's firmware");
          if (guard.order == 0) user.SetVersionNote("the same as the controller's firmware");
          user.SetPromptDetail(guard.atDetail);
        }
        stops.Add(dlg);
        if (!stops.Stopped()) {
          window.Click(IDC_USB_UPDATE);
          window.PumpUntil([&] { return !dlg.IsBusy(); });
        }
        stops.Remove(dlg);
        r.outcome = dlg.LastOutcome();
      },
      target);

  if (!r.outcome) {
    if (r.status == kExitOk) {
      r.status = stops.Stopped() ? kExitInterrupted : kExitFailed;
      r.reason = stops.Stopped() ? "interrupted before the update began" : "the update did not start";
    }
    r.result = r.status == kExitNoController ? "no controller"
               : r.status == kExitCancelled  ? "refused"
               : r.status == kExitImage      ? "rejected"
               : r.status == kExitInterrupted ? "interrupted"
                                              : "failed";
    return r;
  }
  if (stops.Stopped() && r.outcome->result != OutcomeResult::kUpgraded) {
    r.outcome->result = OutcomeResult::kInterrupted;
    if (r.outcome->reason.empty() || !r.outcome->controllerTouched) r.outcome->reason = "the update was interrupted";
  }
  r.status = ExitFor(r.outcome->result);
  r.result = OutcomeName(r.outcome->result);
  r.reason = r.outcome->reason;
  return r;
}

// What the start-up of one controller's window tells about it.
struct ControllerReport {
  bool present = false;
  bool bootMode = false;
  int reportMode = 0;
  uint32_t deviceVersion = kDeviceVersionUnknown;
  std::string title;
  std::string path;
  uint8_t mainInfo[boot::kInfoBlockSize] = {};
  uint8_t atInfo[boot::kInfoBlockSize] = {};

  bool Queried() const { return deviceVersion != kDeviceVersionUnknown; }
  std::string VersionText() const {
    if (!Queried()) return "unknown";
    return deviceVersion == kDeviceVersionNoFirmware && !bootMode ? "none" : FormatVersionShort(deviceVersion);
  }
  // The main microcontroller's 96-bit UID, 24 hex digits.
  std::string Uid() const {
    const boot::InfoBlock main = boot::InfoBlock::Parse(mainInfo);
    return StrFormat("%08x%08x%08x", main.uid[0], main.uid[1], main.uid[2]);
  }
};

ControllerReport GatherReport(CliPlatform& platform, const WindowTarget& target) {
  ScriptedUser user(std::nullopt, false);
  ControllerReport report;
  platform.RunWindow(
      user, nullptr, nullptr,
      [&](CUpdateDlg& dlg, HeadlessWindowHost& window) {
        report.present = dlg.Hid().IsDevicePresent();
        report.bootMode = dlg.Hid().IsBootMode();
        report.reportMode = dlg.Hid().CurrentReportMode();
        report.deviceVersion = dlg.DeviceVersion();
        report.title = window.WindowText();
        report.path = dlg.Hid().DevicePath();
        std::copy_n(dlg.MainInfoBlock(), boot::kInfoBlockSize, report.mainInfo);
        std::copy_n(dlg.AtInfoBlock(), boot::kInfoBlockSize, report.atInfo);
      },
      target);
  return report;
}

void AddInfoJson(json& document, const ControllerReport& report) {
  document["present"] = report.present;
  document["reportMode"] = report.reportMode;
  if (report.present) document["path"] = report.path;
  document["title"] = report.title;
  if (report.Queried()) {
    document["deviceVersion"] = report.deviceVersion;
    document["versionText"] = report.VersionText();
  }
  if (report.present && report.bootMode && report.Queried()) {
    document["main"] = InfoBlockJson(boot::InfoBlock::Parse(report.mainInfo), true);
    document["at"] = InfoBlockJson(boot::InfoBlock::Parse(report.atInfo), false);
  }
}

void PrintInfo(const ControllerReport& report) {
  std::printf("Report mode: %d (%s)\n", report.reportMode,
              report.bootMode ? "boot command protocol" : "firmware packet protocol");
  if (report.Queried() && report.bootMode) {
    PrintInfoBlock("main mcu", boot::InfoBlock::Parse(report.mainInfo), true);
    PrintInfoBlock("ATmcu", boot::InfoBlock::Parse(report.atInfo), false);
  } else if (report.Queried()) {
    std::printf("Firmware version: %s\n", report.deviceVersion == kDeviceVersionNoFirmware
                                              ? "none (no valid firmware)"
                                              : FormatVersionShort(report.deviceVersion).c_str());
  }
  std::printf("Title: %s\n", report.title.c_str());
}

std::string Canonical(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '-') continue;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

// The controller --device names: an index from list, a path, or a boot-mode
// UID (24 hex digits; spaces, colons and dashes ignored). False with `reason`
// when none matches.
bool ResolveDevice(CliPlatform& platform, const std::string& selector, ControllerEntry& chosen,
                   std::string& reason) {
  const std::vector<ControllerEntry> controllers = platform.Controllers();
  if (controllers.empty()) {
    reason = "no supported controller found";
    return false;
  }
  uint32_t index = 0;
  if (!selector.empty() && std::all_of(selector.begin(), selector.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    index = static_cast<uint32_t>(std::min<size_t>(std::stoul(selector.substr(0, 9)), 1000000));
    if (index == 0 || index > controllers.size()) {
      reason = StrFormat("there is no controller %s: %zu connected (see list)", selector.c_str(), controllers.size());
      return false;
    }
    chosen = controllers[index - 1];
    return true;
  }
  for (const ControllerEntry& c : controllers) {
    if (c.path == selector) {
      chosen = c;
      return true;
    }
  }
  const std::string uid = Canonical(selector);
  if (uid.size() == 24 && std::all_of(uid.begin(), uid.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
    for (const ControllerEntry& c : controllers) {
      if (c.reportMode != static_cast<int>(ReportMode::kBootCommand)) continue;
      const ControllerReport report = GatherReport(platform, platform.TargetFor(c));
      if (report.present && report.Queried() && report.Uid() == uid) {
        chosen = c;
        return true;
      }
    }
  }
  reason = "no connected controller matches --device " + selector + " (an index from list, a path or a boot-mode UID)";
  return false;
}

// The window target of --device SELECTOR; false (transcript finished) when no
// controller answers to it.
bool TargetOfDevice(CliPlatform& platform, const std::string& selector, WindowTarget& target,
                    std::string& error) {
  ControllerEntry chosen;
  if (!ResolveDevice(platform, selector, chosen, error)) {
    platform.FinishTranscript();
    return false;
  }
  target = platform.TargetFor(chosen);
  return true;
}

json ResultJson(int index, const std::string& path, const FlashResult& r) {
  json result = {{"index", index}, {"path", path}, {"result", r.result}};
  result["reason"] = r.reason.empty() ? nullptr : json(r.reason);
  result["from"] = r.outcome ? r.outcome->controllerVersion : r.from.empty() ? "unknown" : r.from;
  result["to"] = r.outcome && !r.outcome->imageVersion.empty() ? r.outcome->imageVersion : r.to;
  result["bytesSent"] = r.outcome ? r.outcome->bytesSent : 0;
  result["payloadTotal"] = r.outcome ? r.outcome->payloadTotal : 0;
  result["seconds"] = r.outcome ? r.outcome->seconds : 0.0;
  return result;
}

// One line per finished controller.
void PrintResultLine(int index, const std::string& path, const FlashResult& r) {
  if (r.status == kExitOk) {
    std::printf("%d %s: upgraded from %s to %s (%llu bytes, %.1f s)\n", index, path.c_str(),
                r.outcome->controllerVersion.c_str(), r.outcome->imageVersion.c_str(),
                static_cast<unsigned long long>(r.outcome->bytesSent), r.outcome->seconds);
  } else {
    std::printf("%d %s: %s: %s\n", index, path.c_str(), r.result.c_str(), r.reason.c_str());
  }
  std::fflush(stdout);
}

struct Tally {
  int upgraded = 0;
  int refused = 0;
  int failed = 0;
  int interrupted = 0;
  void Add(const FlashResult& r) {
    if (r.status == kExitOk) ++upgraded;
    else if (r.status == kExitCancelled) ++refused;
    else if (r.status == kExitInterrupted) ++interrupted;
    else ++failed;
  }
  int Total() const { return upgraded + refused + failed + interrupted; }
  std::string Text() const {
    std::string text = StrFormat("%d controller%s: %d upgraded", Total(), Total() == 1 ? "" : "s", upgraded);
    if (refused) text += StrFormat(", %d refused", refused);
    if (failed) text += StrFormat(", %d failed", failed);
    if (interrupted) text += StrFormat(", %d interrupted", interrupted);
    return text;
  }
  json Json() const {
    return {{"upgraded", upgraded}, {"refused", refused}, {"failed", failed}, {"interrupted", interrupted}};
  }
};

// The terminal's yes or no for a whole batch, asked once; Ctrl-C answers no.
bool ConfirmBatch(AnswerReader& answers, const std::string& question) {
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!answers.ReadLine(answer)) std::fputc('\n', stderr);
  return !answers.Woken() && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

TerminalSettings BatchSettings(const CliOptions& options) {
  TerminalSettings settings;
  settings.assumeYes = true;  // asked once for the batch
  settings.verbose = options.verbose;
  settings.drawProgress = false;  // several bars would overwrite each other
  return settings;
}

int FlashAll(const CliOptions& options, const ImageCheck& image) {
  json document = {{"command", "flash"}};
  StopRegistry stops;
  AnswerReader batchAnswer;
  InterruptWatch interrupts([&] {
    stops.StopAll();
    batchAnswer.Wake();
  });
  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, options, document)) return *ended;
  const std::vector<ControllerEntry> controllers = platform.Controllers();
  if (controllers.empty()) {
    platform.FinishTranscript();
    document["result"] = "no controller";
    return Conclude(options, document, kExitNoController, "no supported controller found");
  }
  if (!options.assumeYes &&
      !ConfirmBatch(batchAnswer, StrFormat("Write version %s (%u bytes) to all %zu controllers?",
                              FormatVersionShort(image.version).c_str(), image.payloadTotal, controllers.size()))) {
    platform.FinishTranscript();
    document["result"] = "cancelled";
    return Conclude(options, document, kExitCancelled, "the update was not confirmed");
  }
  std::vector<FlashResult> results(controllers.size());
  std::vector<int> numbers(controllers.size());
  std::vector<std::unique_ptr<TerminalUser>> users;
  std::vector<std::thread> workers;
  for (size_t i = 0; i < controllers.size(); ++i) {
    const WindowTarget target = platform.TargetFor(controllers[i]);
    numbers[i] = static_cast<int>(i + 1);
    users.push_back(std::make_unique<TerminalUser>(options.path, BatchSettings(options)));
    TerminalUser& user = *users.back();
    workers.emplace_back([&, i, target, &user = user] {
      results[i] = FlashOne(platform, options, image, user, stops, target, true);
    });
  }
  for (std::thread& worker : workers) worker.join();
  platform.FinishTranscript();

  Tally tally;
  json list = json::array();
  for (size_t i = 0; i < controllers.size(); ++i) {
    tally.Add(results[i]);
    list.push_back(ResultJson(numbers[i], controllers[i].path, results[i]));
    if (!options.json && !(options.quiet && results[i].status == kExitOk)) {
      PrintResultLine(numbers[i], controllers[i].path, results[i]);
    }
  }
  const bool allUpgraded = tally.upgraded == tally.Total();
  const int status = allUpgraded ? kExitOk : interrupts.Interrupted() ? kExitInterrupted : kExitFailed;
  if (!options.json && !(options.quiet && allUpgraded)) std::printf("%s\n", tally.Text().c_str());
  document["result"] = allUpgraded ? "upgraded" : interrupts.Interrupted() ? "interrupted" : "failed";
  document["results"] = list;
  document["summary"] = tally.Json();
  return Conclude(options, document, status, allUpgraded ? "" : tally.Text());
}

int FlashWatch(const CliOptions& options, const ImageCheck& image) {
  json document = {{"command", "flash"}, {"mode", "watch"}};
  if (!options.assumeYes) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--watch updates without asking: add --yes");
  }
  if (options.count < 0) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--count takes a number of upgrades, 1 or more");
  }
  struct Station {
    std::mutex lock;
    std::condition_variable changed;
    std::set<std::string> busy;  // paths being updated
    // Upgraded controllers restart and leave the bus for a moment: until this
    // time of the clock, one away is still the one just updated, not gone.
    std::map<std::string, uint64_t> restarting;
    int running = 0;
    Tally tally;
    json results = json::array();
  } station;
  StopRegistry stops;
  // Ctrl-C with nothing running ends the station at once, and says so.
  InterruptWatch interrupts([&] { stops.StopAll(); },
                            [&] {
                              std::lock_guard<std::mutex> lock(station.lock);
                              return station.running > 0;
                            });
  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, options, document)) return *ended;
  if (!options.json && !options.quiet) {
    std::fprintf(stderr, "tarvik-update-cli: waiting for controllers (Ctrl-C ends)\n");
  }
  std::set<std::string> handled;  // present, already updated or being updated
  std::vector<std::thread> workers;
  std::vector<std::unique_ptr<TerminalUser>> users;
  const auto enough = [&] { return options.count > 0 && station.tally.upgraded >= options.count; };
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(station.lock);
      if (enough() || stops.Stopped()) break;
    }
    const std::vector<ControllerEntry> present = platform.Controllers();
    std::set<std::string> paths;
    for (const ControllerEntry& c : present) paths.insert(c.path);
    // A controller that left may come back: then it is updated (or skipped)
    // again. One that restarts after its upgrade has not left.
    {
      std::lock_guard<std::mutex> lock(station.lock);
      const uint64_t now = platform.Clock().NowMs();
      for (auto it = station.restarting.begin(); it != station.restarting.end();) {
        it = paths.count(it->first) != 0 || now >= it->second ? station.restarting.erase(it) : std::next(it);
      }
      for (auto it = handled.begin(); it != handled.end();) {
        const bool away = paths.count(*it) == 0 && station.busy.count(*it) == 0 && station.restarting.count(*it) == 0;
        it = away ? handled.erase(it) : std::next(it);
      }
    }
    for (const ControllerEntry& c : present) {
      if (handled.count(c.path)) continue;
      handled.insert(c.path);
      const WindowTarget target = platform.TargetFor(c);
      const int number = platform.NumberOf(c.path);
      {
        std::lock_guard<std::mutex> lock(station.lock);
        station.busy.insert(c.path);
        ++station.running;
      }
      users.push_back(std::make_unique<TerminalUser>(options.path, BatchSettings(options)));
      TerminalUser& user = *users.back();
      workers.emplace_back([&, c, target, number, &user = user] {
        const FlashResult r = FlashOne(platform, options, image, user, stops, target, true);
        std::lock_guard<std::mutex> lock(station.lock);
        if (r.status == kExitOk) station.restarting[c.path] = platform.Clock().NowMs() + kRestartGraceMs;
        station.tally.Add(r);
        station.results.push_back(ResultJson(number, c.path, r));
        if (!options.json && !(options.quiet && r.status == kExitOk)) PrintResultLine(number, c.path, r);
        station.busy.erase(c.path);
        --station.running;
        station.changed.notify_all();
      });
    }
    // Looked for again every 200 ms of the session's clock; a virtual clock's
    // time passes at the waits, so the wait also takes a little real time.
    platform.Clock().SleepMs(200);
    std::unique_lock<std::mutex> lock(station.lock);
    station.changed.wait_for(lock, std::chrono::milliseconds(platform.Clock().RunsByItself() ? 0 : 5));
  }
  for (std::thread& worker : workers) worker.join();
  platform.FinishTranscript();
  const Tally& tally = station.tally;
  if (!options.json && !options.quiet) std::printf("%s\n", tally.Text().c_str());
  const int status = tally.interrupted > 0 ? kExitInterrupted : tally.failed > 0 ? kExitFailed : kExitOk;
  document["result"] = status == kExitOk ? "done" : status == kExitInterrupted ? "interrupted" : "failed";
  document["results"] = station.results;
  document["summary"] = tally.Json();
  return Conclude(options, document, status, status == kExitOk ? "" : tally.Text());
}

}  // namespace

int FlashCommand(const CliOptions& options) {
  json document = {{"command", "flash"}};
  if (options.all && options.watch) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--all and --watch exclude each other");
  }
  if ((options.all || options.watch) && !options.device.empty()) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--device picks one controller: it goes without --all and --watch");
  }
  if (options.count != 0 && !options.watch) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--count goes with --watch");
  }
  // Refused before any report: the transcript, if asked for, holds only the outcome.
  const auto refuse = [&](OutcomeResult result, int status, const std::string& reason) {
    CliPlatform platform;
    std::string error;
    int code = kExitOk;
    if (platform.Set(options, error, code)) {
      UpdateOutcome refused;
      refused.result = result;
      refused.reason = reason;
      platform.RecordOutcome(refused);
      platform.FinishTranscript();
    }
    document["result"] = OutcomeName(result);
    return Conclude(options, document, status, reason);
  };
  const ImageCheck image = CheckImage(options.path);
  if (!image.reason.empty()) return refuse(OutcomeResult::kRejected, kExitImage, image.reason);
  // Nobody can answer the confirmation: say what a script needs instead of waiting for it.
  if (!options.assumeYes && !options.watch && !StandardInputIsTerminal()) {
    return refuse(OutcomeResult::kCancelled, kExitCancelled,
                  "the update needs a confirmation and standard input is not a terminal: add --yes to give it");
  }
  if (options.all) return FlashAll(options, image);
  if (options.watch) return FlashWatch(options, image);

  TerminalSettings settings;
  settings.assumeYes = options.assumeYes;
  settings.verbose = options.verbose;
  settings.drawProgress = !options.quiet && StandardErrorIsTerminal();
  TerminalUser user(options.path, settings);

  StopRegistry stops;
  InterruptWatch interrupts([&] {
    stops.StopAll();
    user.Interrupt();
  });

  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, options, document)) return *ended;
  WindowTarget target;
  if (!options.device.empty()) {
    if (std::string error; !TargetOfDevice(platform, options.device, target, error)) {
      document["result"] = "no controller";
      return Conclude(options, document, kExitNoController, error);
    }
  } else if (const size_t count = platform.Controllers().size(); count > 1) {
    platform.FinishTranscript();
    document["result"] = "error";
    return Conclude(options, document, kExitUsage,
                    StrFormat("%zu controllers are connected: choose one with --device (an index from list, a "
                              "path or a boot-mode UID), or update them all with --all",
                              count));
  }

  FlashResult r = FlashOne(platform, options, image, user, stops, target, false);
  user.FinishProgress();
  platform.FinishTranscript();
  if (!r.outcome) {
    document["result"] = r.result;
    return Conclude(options, document, r.status, r.reason);
  }
  document = OutcomeDocument("flash", *r.outcome);
  document["controller"] = r.controller;
  if (r.status == kExitOk) {
    if (!options.quiet && !options.json) {
      std::printf("Upgraded %s from %s to %s (%llu bytes, %.1f s)\n", r.controller.c_str(),
                  r.outcome->controllerVersion.c_str(), r.outcome->imageVersion.c_str(),
                  static_cast<unsigned long long>(r.outcome->bytesSent), r.outcome->seconds);
    }
    return Conclude(options, document, r.status, "");
  }
  if (r.outcome->result == OutcomeResult::kInterrupted) {
    const std::string hint = RecoveryHint(*r.outcome);
    document["controllerState"] = hint;
    Conclude(options, document, r.status, r.outcome->reason);
    std::fprintf(stderr, "tarvik-update-cli: %s\n", hint.c_str());
    return r.status;
  }
  return Conclude(options, document, r.status, r.outcome->reason);
}

int InfoCommand(const CliOptions& options) {
  json document = {{"command", "info"}};
  CliPlatform platform;
  if (const std::optional<int> ended = SetUpOrConclude(platform, options, document, "no controller")) {
    return *ended;
  }
  WindowTarget target;
  if (!options.device.empty()) {
    if (std::string error; !TargetOfDevice(platform, options.device, target, error)) {
      document["result"] = "no controller";
      return Conclude(options, document, kExitNoController, error);
    }
  } else if (const std::vector<ControllerEntry> controllers = platform.Controllers(); controllers.size() > 1) {
    // Each controller in bus order, on a window of its own.
    json list = json::array();
    bool allQueried = true;
    for (size_t i = 0; i < controllers.size(); ++i) {
      const ControllerReport report = GatherReport(platform, platform.TargetFor(controllers[i]));
      allQueried = allQueried && report.present && report.Queried();
      json entry = {{"index", i + 1}};
      AddInfoJson(entry, report);
      list.push_back(entry);
      if (!options.json) {
        std::printf("%sController %zu: %s\n", i == 0 ? "" : "\n", i + 1, controllers[i].path.c_str());
        if (report.present) PrintInfo(report);
      }
    }
    platform.FinishTranscript();
    document["result"] = allQueried ? "ok" : "failed";
    document["controllers"] = list;
    return Conclude(options, document, allQueried ? kExitOk : kExitFailed,
                    allQueried ? "" : "a controller did not tell its version");
  }
  const ControllerReport report = GatherReport(platform, target);
  platform.FinishTranscript();

  int status = kExitOk;
  std::string reason;
  if (!report.present) {
    status = kExitNoController;
    reason = "no supported controller found";
  } else if (!report.Queried()) {
    status = kExitFailed;
    reason = "the controller did not tell its version";
  }
  if (options.json) {
    document["result"] = status == kExitOk ? "ok" : status == kExitNoController ? "no controller" : "failed";
    AddInfoJson(document, report);
  } else if (report.present) {
    PrintInfo(report);
  }
  return Conclude(options, document, status, reason);
}

int ListCommand(const CliOptions& options) {
  json document = {{"command", "list"}};
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
    const ControllerReport report = GatherReport(platform, platform.TargetFor(c));
    json entry = {{"index", i + 1},
                  {"path", c.path},
                  {"vendorId", c.vendorId},
                  {"productId", c.productId},
                  {"reportMode", c.reportMode},
                  {"version", report.VersionText()}};
    const bool blocks = report.bootMode && report.Queried();
    if (blocks) {
      const boot::InfoBlock main = boot::InfoBlock::Parse(report.mainInfo);
      entry["mainVersion"] = FormatVersionShort(main.version);
      entry["atVersion"] = FormatVersionShort(boot::InfoBlock::Parse(report.atInfo).version);
      entry["revision"] = main.revision;
      entry["uid"] = report.Uid();
    }
    list.push_back(entry);
    if (options.json) continue;
    std::printf("%zu  %s  %04x:%04x  report mode %d  firmware %s", i + 1, c.path.c_str(), c.vendorId, c.productId,
                c.reportMode, report.VersionText().c_str());
    if (blocks) {
      std::printf("  main %s  ATmcu %s  revision %d  uid %s", entry["mainVersion"].get<std::string>().c_str(),
                  entry["atVersion"].get<std::string>().c_str(), entry["revision"].get<int>(),
                  report.Uid().c_str());
    }
    std::printf("\n");
  }
  platform.FinishTranscript();
  document["result"] = controllers.empty() ? "no controller" : "ok";
  document["controllers"] = list;
  return Conclude(options, document, controllers.empty() ? kExitNoController : kExitOk,
                  controllers.empty() ? "no supported controller found" : "");
}

int RunCommand(const CliOptions& options) {
  json document = {{"command", "run"}};
  if (options.presses < 0) {
    document["result"] = "error";
    return Conclude(options, document, kExitUsage, "--press takes a count of 0 or more");
  }
  ScriptedUser user(options.image.empty() ? std::nullopt : std::optional<std::string>(options.image),
                    options.confirm == "yes");
  CliPlatform platform;
  std::string error;
  int code = kExitOk;
  if (!platform.Set(options, error, code)) {
    document["result"] = "error";
    return Conclude(options, document, code == kExitUsage ? kExitUsage : kExitFailed, error);
  }
  int status = kExitOk;
  std::string reason;
  bool upgraded = false;
  std::optional<UpdateOutcome> outcome;
  std::string title;
  platform.RunWindow(user, nullptr, nullptr, [&](CUpdateDlg& dlg, HeadlessWindowHost& window) {
    for (int press = 0; press < options.presses; ++press) {
      if (!window.IsItemEnabled(IDC_USB_UPDATE)) {
        status = kExitFailed;
        reason = "the update button is disabled (no supported controller is ready): press refused";
        upgraded = false;
        break;
      }
      window.Click(IDC_USB_UPDATE);
      window.PumpUntil([&] { return !dlg.IsBusy(); });
      // Only a successful update shows the upgraded notice; the next press hides it.
      upgraded = window.IsItemVisible(IDC_STATIC_NOTICE);
      outcome = dlg.LastOutcome();
      status = upgraded ? kExitOk : kExitFailed;
      reason = upgraded ? "" : outcome && !outcome->reason.empty()
                                   ? outcome->reason
                                   : "the update did not end with \"Firmware upgraded!\"";
      // The controller restarts after its upgrade: the window's arrival
      // handling shows the new version once it is back.
      const uint64_t until = platform.Clock().NowMs() + kRestartGraceMs;
      while (upgraded && !window.IsItemEnabled(IDC_USB_UPDATE) && platform.Clock().NowMs() < until) {
        platform.Clock().SleepMs(50);
        platform.Controllers();  // the simulated bus brings back a controller that is due
        window.PumpPending();
      }
    }
    title = window.WindowText();
  });
  platform.FinishTranscript();
  document["result"] = outcome ? OutcomeName(outcome->result) : "none";
  document["upgraded"] = upgraded;
  document["title"] = title;
  return Conclude(options, document, status, reason);
}

int ImageCommand(const CliOptions& options) {
  const ImageCheck check = CheckImage(options.path);
  const FirmwareImage& image = check.image;
  const ImageScan& scan = image.Scan();
  const std::vector<ImageRecord>& records = image.Records();
  const size_t listed = std::min(records.size(), kListedRecords);
  const bool opened = image.Readable();
  const std::string& reason = check.reason;
  // What each protocol writes of an accepted image: the record numbers, or why it cannot.
  struct ProtocolUse {
    const char* key;
    const char* name;
    UpdateProtocol protocol;
  };
  static constexpr ProtocolUse kProtocols[] = {
      {"boot", "boot command protocol (report mode 3)", UpdateProtocol::kBoot},
      {"packet", "firmware packet protocol (report modes 1 and 2)", UpdateProtocol::kPacket},
  };
  json document = {{"command", "image"}, {"result", scan.Accepted() ? "accepted" : "rejected"}};
  if (options.json) {
    json list = json::array();
    for (size_t i = 0; i < listed; ++i) {
      const RecordHeader& h = records[i].header;
      list.push_back({{"index", i + 1},
                      {"offset", records[i].offset},
                      {"version", h.version},
                      {"versionText", FormatVersionShort(h.version)},
                      {"desAddress", h.desAddress},
                      {"desLen", h.desLen},
                      {"mcu", h.pid != 0 ? "main" : "at"}});
    }
    document["path"] = options.path;
    document["fileLength"] = scan.fileLength;
    document["recordCount"] = scan.recordCount;
    document["records"] = list;
    document["payloadTotal"] = scan.payloadTotal;
    document["accepted"] = scan.Accepted();
    if (scan.Accepted()) {
      json writes = json::object();
      for (const ProtocolUse& use : kProtocols) {
        const std::string problem = image.CheckFor(use.protocol);
        json entry = json::object();
        if (problem.empty()) {
          json numbers = json::array();
          for (const size_t i : RecordsWrittenBy(use.protocol, records)) numbers.push_back(i + 1);
          entry["records"] = numbers;
        } else {
          entry["refused"] = problem;
        }
        writes[use.key] = entry;
      }
      document["writes"] = writes;
    }
  } else if (opened && !(options.quiet && scan.Accepted())) {
    std::printf("Image: %s (%llu bytes)\n", options.path.c_str(),
                static_cast<unsigned long long>(scan.fileLength));
    for (size_t i = 0; i < listed; ++i) {
      const RecordHeader& h = records[i].header;
      std::printf("  record %zu: version %s, desAddress 0x%08x, desLen %u, %s\n", i + 1,
                  FormatVersionShort(h.version).c_str(), h.desAddress, h.desLen,
                  h.pid != 0 ? "main mcu" : "ATmcu");
    }
    if (scan.recordCount > listed) {
      std::printf("  ... and %llu more records\n", static_cast<unsigned long long>(scan.recordCount - listed));
    }
    std::printf("Payload total: %u bytes\n", scan.payloadTotal);
    if (scan.Accepted()) {
      for (const ProtocolUse& use : kProtocols) {
        const std::string problem = image.CheckFor(use.protocol);
        const std::vector<size_t> written = RecordsWrittenBy(use.protocol, records);
        std::string what = written.size() == 1 ? "record" : "records";
        for (size_t n = 0; n < written.size(); ++n) what += (n == 0 ? " " : ", ") + std::to_string(written[n] + 1);
        std::printf("  %s: %s\n", use.name, problem.empty() ? ("writes " + what).c_str() : ("refuses it: " + problem).c_str());
      }
    }
    std::printf("%s\n", scan.Accepted() ? "Accepted" : "Rejected");
  }
  return Conclude(options, document, scan.Accepted() ? kExitOk : kExitImage, reason);
}

}  // namespace tarvik
