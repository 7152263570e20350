#include "cli/commands.h"

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/text_table.h"
#include "base/bytes.h"
#include "cli/cli_platform.h"
#include "cli/terminal_user.h"
#include "update/firmware_image.h"
#include "update/version_text.h"

namespace tarvik {

using json = nlohmann::ordered_json;

namespace {

int Fail(int code, const std::string& reason) {
  std::fprintf(stderr, "tarvik-update-cli: %s\n", reason.c_str());
  return code;
}

void PrintJson(const json& document) {
  std::puts(document.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

struct PressOutcome {
  int status = kExitOk;
  std::string reason;
  std::string title;
};

// Presses the update button `presses` times, each time until the worker has ended.
PressOutcome PressUpdate(CUpdateDlg& dlg, HeadlessWindowHost& window, int presses) {
  PressOutcome outcome;
  for (int press = 0; press < presses; ++press) {
    if (!window.IsItemEnabled(IDC_USB_UPDATE)) {
      outcome.status = kExitFailed;
      outcome.reason = "the update button is disabled (no supported controller is ready): press refused";
      break;
    }
    window.Click(IDC_USB_UPDATE);
    window.PumpUntil([&] { return !dlg.IsBusy(); });
    // Only a successful update shows the upgraded notice; the next press hides it.
    const bool upgraded = window.IsItemVisible(IDC_STATIC_NOTICE);
    outcome.status = upgraded ? kExitOk : kExitFailed;
    outcome.reason = upgraded ? "" : "the update did not end with \"Firmware upgraded!\"";
  }
  outcome.title = window.WindowText();
  return outcome;
}

int Conclude(const CliOptions& options, const char* command, const PressOutcome& outcome) {
  if (options.json) {
    json document = {{"command", command},
                     {"upgraded", outcome.status == kExitOk},
                     {"exitStatus", outcome.status},
                     {"title", outcome.title}};
    if (!outcome.reason.empty()) document["reason"] = outcome.reason;
    PrintJson(document);
  }
  if (outcome.status != kExitOk) return Fail(outcome.status, outcome.reason);
  return kExitOk;
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

// Starts the window on the options' platform and presses its button.
int PressAndConclude(const CliOptions& options, const char* command, IHeadlessUser& user,
                     IWindowObserver* observer, int presses) {
  CliPlatform platform;
  std::string error;
  int code = kExitOk;
  if (!platform.Set(options, error, code)) return Fail(code, error);
  PressOutcome outcome;
  platform.RunWindow(user, observer, [&](CUpdateDlg& dlg, HeadlessWindowHost& window) {
    outcome = PressUpdate(dlg, window, presses);
  });
  if (auto* terminal = dynamic_cast<TerminalUser*>(observer)) terminal->FinishProgress();
  platform.FinishTranscript();
  return Conclude(options, command, outcome);
}

}  // namespace

int RunCommand(const CliOptions& options) {
  if (options.presses < 0) return Fail(kExitUsage, "--press takes a count of 0 or more");
  ScriptedUser user(options.image.empty() ? std::nullopt : std::optional<std::string>(options.image),
                    options.confirm == "yes");
  return PressAndConclude(options, "run", user, nullptr, options.presses);
}

int FlashCommand(const CliOptions& options) {
  TerminalUser user(options.path, options.assumeYes);
  return PressAndConclude(options, "flash", user, &user, 1);
}

int InfoCommand(const CliOptions& options) {
  CliPlatform platform;
  std::string error;
  int code = kExitOk;
  if (!platform.Set(options, error, code)) return Fail(code, error);
  ScriptedUser user(std::nullopt, false);
  bool present = false;
  bool bootMode = false;
  int reportMode = 0;
  uint32_t deviceVersion = kDeviceVersionUnknown;
  std::string title;
  uint8_t mainInfo[boot::kInfoBlockSize] = {};
  uint8_t atInfo[boot::kInfoBlockSize] = {};
  platform.RunWindow(user, nullptr, [&](CUpdateDlg& dlg, HeadlessWindowHost& window) {
    present = dlg.Hid().IsDevicePresent();
    bootMode = dlg.Hid().IsBootMode();
    reportMode = dlg.Hid().CurrentReportMode();
    deviceVersion = dlg.DeviceVersion();
    title = window.WindowText();
    std::copy_n(dlg.MainInfoBlock(), boot::kInfoBlockSize, mainInfo);
    std::copy_n(dlg.AtInfoBlock(), boot::kInfoBlockSize, atInfo);
  });
  platform.FinishTranscript();

  const bool queried = deviceVersion != kDeviceVersionUnknown;
  std::string reason;
  if (!present) {
    reason = "no supported controller found";
  } else if (!queried) {
    reason = "the controller did not tell its version";
  }
  if (options.json) {
    json document = {{"present", present}, {"reportMode", reportMode}, {"title", title}};
    if (queried) {
      document["deviceVersion"] = deviceVersion;
      document["versionText"] = deviceVersion == 0xFFFFFFFFu ? "none" : FormatVersionShort(deviceVersion);
    }
    if (present && bootMode && queried) {
      document["main"] = InfoBlockJson(mainInfo, true);
      document["at"] = InfoBlockJson(atInfo, false);
    }
    if (!reason.empty()) document["reason"] = reason;
    PrintJson(document);
  } else if (present) {
    std::printf("Report mode: %d (%s)\n", reportMode,
                bootMode ? "boot command protocol" : "firmware packet protocol");
    if (queried && bootMode) {
      PrintInfoBlock("main mcu", mainInfo, true);
      PrintInfoBlock("ATmcu", atInfo, false);
    } else if (queried) {
      std::printf("Firmware version: %s\n", deviceVersion == 0xFFFFFFFFu
                                                ? "none (no valid firmware)"
                                                : FormatVersionShort(deviceVersion).c_str());
    }
    std::printf("Title: %s\n", title.c_str());
  }
  if (!reason.empty()) return Fail(kExitFailed, reason);
  return kExitOk;
}

int ImageCommand(const CliOptions& options) {
  CImageFile file;
  std::vector<ImageRecord> listed;
  const ImageScan scan = ScanImageFile(file, options.path, listed);
  if (options.json) {
    json records = json::array();
    for (size_t i = 0; i < listed.size(); ++i) {
      const RecordHeader& h = listed[i].header;
      records.push_back({{"index", i},
                         {"offset", listed[i].offset},
                         {"version", h.version},
                         {"versionText", FormatVersionShort(h.version)},
                         {"desAddress", h.desAddress},
                         {"desLen", h.desLen},
                         {"mcu", h.pid != 0 ? "main" : "at"}});
    }
    json document = {{"path", options.path},
                     {"fileLength", scan.fileLength},
                     {"records", records},
                     {"payloadTotal", scan.payloadTotal},
                     {"accepted", scan.Accepted()}};
    if (!scan.Accepted()) document["reason"] = scan.reason;
    PrintJson(document);
  } else {
    std::printf("Image: %s (%llu bytes)\n", options.path.c_str(),
                static_cast<unsigned long long>(scan.fileLength));
    for (size_t i = 0; i < listed.size(); ++i) {
      const RecordHeader& h = listed[i].header;
      std::printf("  record %zu: version %s, desAddress 0x%08x, desLen %u, %s\n", i,
                  FormatVersionShort(h.version).c_str(), h.desAddress, h.desLen,
                  h.pid != 0 ? "main mcu" : "ATmcu");
    }
    std::printf("Payload total: %u bytes\n", scan.payloadTotal);
    std::printf("%s\n", scan.Accepted() ? "Accepted" : "Rejected");
  }
  if (!scan.Accepted()) return Fail(kExitFailed, "image rejected: " + scan.reason);
  return kExitOk;
}

}  // namespace tarvik
