#include "cli/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/text_table.h"
#include "base/bytes.h"
#include "base/strformat.h"
#include "cli/cli_platform.h"
#include "cli/interrupt_watch.h"
#include "cli/terminal_user.h"
#include "device/device_table.h"
#include "update/firmware_image.h"
#include "update/version_text.h"

namespace tarvik {

using json = nlohmann::ordered_json;

namespace {

// The image listing shows this many records; the scan still walks them all.
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

json InfoBlockJson(const uint8_t* block, bool main) {
  using namespace boot;
  const uint32_t version = GetLe32(block + kInfoVersion);
  json info = {{"pid", GetLe16(block + kInfoPid)},
               {"version", version},
               {"versionText", FormatVersionShort(version)}};
  if (main) {
    info["revision"] = GetLe16(block + kInfoRevision);
    info["uid"] = {GetLe32(block + kInfoUid), GetLe32(block + kInfoUid + 4), GetLe32(block + kInfoUid + 8)};
    info["boot_id"] = {GetLe32(block + kInfoBootId), GetLe32(block + kInfoBootId + 4),
                       GetLe32(block + kInfoBootId + 8)};
    info["bootIDAddr"] = GetLe32(block + kInfoBootIdAddr);
    info["appIDAddr"] = GetLe32(block + kInfoAppIdAddr);
  }
  info["VerAddr"] = GetLe32(block + kInfoVerAddr);
  return info;
}

void PrintInfoBlock(const char* name, const uint8_t* block, bool main) {
  using namespace boot;
  const uint32_t version = GetLe32(block + kInfoVersion);
  std::printf("%s:\n  pid=0x%04x\n  version=0x%x (%s)\n", name, GetLe16(block + kInfoPid), version,
              FormatVersionShort(version).c_str());
  if (main) {
    std::printf("  revision=%d\n", GetLe16(block + kInfoRevision));
    std::printf("  uid=%08x %08x %08x\n", GetLe32(block + kInfoUid), GetLe32(block + kInfoUid + 4),
                GetLe32(block + kInfoUid + 8));
    std::printf("  boot_id=%08x %08x %08x\n", GetLe32(block + kInfoBootId),
                GetLe32(block + kInfoBootId + 4), GetLe32(block + kInfoBootId + 8));
    std::printf("  bootIDAddr=0x%x\n  appIDAddr=0x%x\n", GetLe32(block + kInfoBootIdAddr),
                GetLe32(block + kInfoAppIdAddr));
  }
  std::printf("  VerAddr=0x%x\n", GetLe32(block + kInfoVerAddr));
}

// The image as flash sees it before talking to any controller.
struct ImageCheck {
  std::string reason;  // empty: usable
  uint32_t version = 0;
  uint32_t payloadTotal = 0;
};

ImageCheck CheckImage(const std::string& path) {
  ImageCheck check;
  CImageFile file;
  if (!file.Open(path)) {
    check.reason = "cannot open " + path + ": " + file.LastError();
    return check;
  }
  uint8_t header[kRecordHeaderSize] = {};
  file.Read(header, sizeof header);
  file.Close();
  check.version = GetLe32(header);
  const ImageScan scan = ScanImageFile(file, path);
  if (!scan.Accepted()) {
    check.reason = path + " is not a valid image: " + scan.reason;
    return check;
  }
  check.payloadTotal = scan.payloadTotal;
  return check;
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

}  // namespace

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
    }
    title = window.WindowText();
  });
  platform.FinishTranscript();
  document["result"] = outcome ? OutcomeName(outcome->result) : "none";
  document["upgraded"] = upgraded;
  document["title"] = title;
  return Conclude(options, document, status, reason);
}

int FlashCommand(const CliOptions& options) {
  json document = {{"command", "flash"}};
  const ImageCheck image = CheckImage(options.path);
  if (!image.reason.empty()) {
    // Refused before any report: the transcript, if asked for, holds only the outcome.
    CliPlatform platform;
    std::string error;
    int code = kExitOk;
    if (platform.Set(options, error, code)) {
      UpdateOutcome refused;
      refused.result = OutcomeResult::kRejected;
      refused.reason = image.reason;
      platform.RecordOutcome(refused);
      platform.FinishTranscript();
    }
    document["result"] = "rejected";
    return Conclude(options, document, kExitImage, image.reason);
  }

  TerminalSettings settings;
  settings.assumeYes = options.assumeYes;
  settings.verbose = options.verbose;
  settings.drawProgress = !options.quiet && ::isatty(STDERR_FILENO) == 1;
  TerminalUser user(options.path, settings);

  std::mutex targetLock;
  CUpdateDlg* target = nullptr;
  InterruptWatch interrupts([&] {
    std::lock_guard<std::mutex> lock(targetLock);
    if (target) target->RequestStop();
    user.Interrupt();
  });

  CliPlatform platform;
  std::string error;
  int code = kExitOk;
  if (!platform.Set(options, error, code)) {
    document["result"] = "error";
    return Conclude(options, document, code, error);
  }

  int status = kExitOk;
  std::string reason;
  std::optional<UpdateOutcome> outcome;
  std::string controller;
  platform.RunWindow(user, nullptr, &user, [&](CUpdateDlg& dlg, HeadlessWindowHost& window) {
    if (!dlg.Hid().IsDevicePresent()) {
      status = kExitNoController;
      reason = "no supported controller found";
      return;
    }
    controller = DescribeController(dlg.Hid());
    if (!window.IsItemEnabled(IDC_USB_UPDATE)) {
      status = kExitFailed;
      reason = "the " + controller + " did not answer its information request";
      return;
    }
    const uint32_t current = dlg.DeviceVersion();
    const bool known = current != kDeviceVersionUnknown &&
                       !(current == kDeviceVersionNoFirmware && !dlg.Hid().IsBootMode());
    if (known) {
      const int order = CompareVersions(image.version, current);
      const std::string from = FormatVersionShort(current);
      const std::string to = FormatVersionShort(image.version);
      if (order < 0 && options.assumeYes && !options.allowOlder) {
        status = kExitCancelled;
        reason = "the image (" + to + ") is older than the controller's firmware (" + from +
                 "); add --allow-older to write it anyway";
        return;
      }
      if (order == 0 && options.assumeYes && !options.allowReinstall) {
        status = kExitCancelled;
        reason = "the controller already runs " + from + "; add --allow-reinstall to write it again";
        return;
      }
      if (order < 0) user.SetVersionNote("older than the controller's firmware");
      if (order == 0) user.SetVersionNote("the same as the controller's firmware");
    }
    {
      std::lock_guard<std::mutex> lock(targetLock);
      target = &dlg;
    }
    if (!interrupts.Interrupted()) {
      window.Click(IDC_USB_UPDATE);
      window.PumpUntil([&] { return !dlg.IsBusy(); });
    }
    {
      std::lock_guard<std::mutex> lock(targetLock);
      target = nullptr;
    }
    outcome = dlg.LastOutcome();
  });
  user.FinishProgress();
  platform.FinishTranscript();

  if (!outcome) {
    if (status == kExitOk) {
      status = interrupts.Interrupted() ? kExitInterrupted : kExitFailed;
      reason = interrupts.Interrupted() ? "interrupted before the update began" : "the update did not start";
    }
    document["result"] = status == kExitNoController ? "no controller"
                         : status == kExitCancelled   ? "refused"
                         : status == kExitInterrupted ? "interrupted"
                                                      : "failed";
    return Conclude(options, document, status, reason);
  }
  if (interrupts.Interrupted() && outcome->result != OutcomeResult::kUpgraded) {
    outcome->result = OutcomeResult::kInterrupted;
    if (outcome->reason.empty() || !outcome->controllerTouched) outcome->reason = "the update was interrupted";
  }
  document = OutcomeDocument("flash", *outcome);
  document["controller"] = controller;
  status = ExitFor(outcome->result);
  if (status == kExitOk) {
    if (!options.quiet && !options.json) {
      std::printf("Upgraded %s from %s to %s (%llu bytes, %.1f s)\n", controller.c_str(),
                  outcome->controllerVersion.c_str(), outcome->imageVersion.c_str(),
                  static_cast<unsigned long long>(outcome->bytesSent), outcome->seconds);
    }
    return Conclude(options, document, status, "");
  }
  if (outcome->result == OutcomeResult::kInterrupted) {
    const std::string hint = RecoveryHint(*outcome);
    document["controllerState"] = hint;
    Conclude(options, document, status, outcome->reason);
    std::fprintf(stderr, "tarvik-update-cli: %s\n", hint.c_str());
    return status;
  }
  return Conclude(options, document, status, outcome->reason);
}

int InfoCommand(const CliOptions& options) {
  json document = {{"command", "info"}};
  CliPlatform platform;
  std::string error;
  int code = kExitOk;
  if (!platform.Set(options, error, code)) {
    document["result"] = code == kExitUsage ? "error" : "no controller";
    return Conclude(options, document, code, error);
  }
  ScriptedUser user(std::nullopt, false);
  bool present = false;
  bool bootMode = false;
  int reportMode = 0;
  uint32_t deviceVersion = kDeviceVersionUnknown;
  std::string title;
  std::string path;
  uint8_t mainInfo[boot::kInfoBlockSize] = {};
  uint8_t atInfo[boot::kInfoBlockSize] = {};
  platform.RunWindow(user, nullptr, nullptr, [&](CUpdateDlg& dlg, HeadlessWindowHost& window) {
    present = dlg.Hid().IsDevicePresent();
    bootMode = dlg.Hid().IsBootMode();
    reportMode = dlg.Hid().CurrentReportMode();
    deviceVersion = dlg.DeviceVersion();
    title = window.WindowText();
    path = dlg.Hid().DevicePath();
    std::copy_n(dlg.MainInfoBlock(), boot::kInfoBlockSize, mainInfo);
    std::copy_n(dlg.AtInfoBlock(), boot::kInfoBlockSize, atInfo);
  });
  platform.FinishTranscript();

  const bool queried = deviceVersion != kDeviceVersionUnknown;
  int status = kExitOk;
  std::string reason;
  if (!present) {
    status = kExitNoController;
    reason = "no supported controller found";
  } else if (!queried) {
    status = kExitFailed;
    reason = "the controller did not tell its version";
  }
  if (options.json) {
    document["result"] = status == kExitOk ? "ok" : status == kExitNoController ? "no controller" : "failed";
    document["present"] = present;
    document["reportMode"] = reportMode;
    if (present) document["path"] = path;
    document["title"] = title;
    if (queried) {
      document["deviceVersion"] = deviceVersion;
      document["versionText"] =
          deviceVersion == kDeviceVersionNoFirmware && !bootMode ? "none" : FormatVersionShort(deviceVersion);
    }
    if (present && bootMode && queried) {
      document["main"] = InfoBlockJson(mainInfo, true);
      document["at"] = InfoBlockJson(atInfo, false);
    }
  } else if (present) {
    std::printf("Report mode: %d (%s)\n", reportMode,
                bootMode ? "boot command protocol" : "firmware packet protocol");
    if (queried && bootMode) {
      PrintInfoBlock("main mcu", mainInfo, true);
      PrintInfoBlock("ATmcu", atInfo, false);
    } else if (queried) {
      std::printf("Firmware version: %s\n", deviceVersion == kDeviceVersionNoFirmware
                                                ? "none (no valid firmware)"
                                                : FormatVersionShort(deviceVersion).c_str());
    }
    std::printf("Title: %s\n", title.c_str());
  }
  return Conclude(options, document, status, reason);
}

int ImageCommand(const CliOptions& options) {
  CImageFile file;
  std::vector<ImageRecord> listed;
  const ImageScan scan = ScanImageFile(file, options.path, listed, kListedRecords);
  CImageFile probe;
  const bool opened = probe.Open(options.path);
  probe.Close();
  const std::string reason =
      scan.Accepted() ? "" : opened ? options.path + " is not a valid image: " + scan.reason : scan.reason;
  json document = {{"command", "image"}, {"result", scan.Accepted() ? "accepted" : "rejected"}};
  if (options.json) {
    json records = json::array();
    for (size_t i = 0; i < listed.size(); ++i) {
      const RecordHeader& h = listed[i].header;
      records.push_back({{"index", i + 1},
                         {"offset", listed[i].offset},
                         {"version", h.version},
                         {"versionText", FormatVersionShort(h.version)},
                         {"desAddress", h.desAddress},
                         {"desLen", h.desLen},
                         {"mcu", h.pid != 0 ? "main" : "at"}});
    }
    document["path"] = options.path;
    document["fileLength"] = scan.fileLength;
    document["recordCount"] = scan.recordCount;
    document["records"] = records;
    document["payloadTotal"] = scan.payloadTotal;
    document["accepted"] = scan.Accepted();
  } else if (opened) {
    std::printf("Image: %s (%llu bytes)\n", options.path.c_str(),
                static_cast<unsigned long long>(scan.fileLength));
    for (size_t i = 0; i < listed.size(); ++i) {
      const RecordHeader& h = listed[i].header;
      std::printf("  record %zu: version %s, desAddress 0x%08x, desLen %u, %s\n", i + 1,
                  FormatVersionShort(h.version).c_str(), h.desAddress, h.desLen,
                  h.pid != 0 ? "main mcu" : "ATmcu");
    }
    if (scan.recordCount > listed.size()) {
      std::printf("  ... and %llu more records\n",
                  static_cast<unsigned long long>(scan.recordCount - listed.size()));
    }
    std::printf("Payload total: %u bytes\n", scan.payloadTotal);
    std::printf("%s\n", scan.Accepted() ? "Accepted" : "Rejected");
  }
  return Conclude(options, document, scan.Accepted() ? kExitOk : kExitImage, reason);
}

}  // namespace tarvik
