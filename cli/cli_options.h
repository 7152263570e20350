// What the command line asked for.
#pragma once

#include <string>
#include <vector>

namespace tarvik {

struct CliOptions {
  std::string simulate;  // empty: the system's HID devices
  std::vector<std::string> simSettings;
  std::string transcriptPath;  // empty: none; "-": standard output
  bool json = false;
  bool verbose = false;  // trace lines on standard error too
  bool quiet = false;    // no success line, no progress
  std::string device;    // --device: an index from list, a path or a boot-mode UID; empty: any

  // run
  std::string image;
  std::string confirm = "yes";
  int presses = 1;

  // image, flash
  std::string path;
  bool assumeYes = false;
  bool allowOlder = false;
  bool allowReinstall = false;
  bool all = false;    // flash every controller present, at once
  bool watch = false;  // station mode: flash each controller as it arrives
  int count = 0;       // --watch: end after this many upgrades; 0: at Ctrl-C
};

// Exit statuses of flash, info and image (run keeps 0, 1 and 2).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;        // the update failed
inline constexpr int kExitUsage = 2;         // the command line was wrong
inline constexpr int kExitNoController = 3;  // none found, or access denied
inline constexpr int kExitImage = 4;         // the image cannot be read or is rejected
inline constexpr int kExitCancelled = 5;     // cancelled, or refused by the version guard
inline constexpr int kExitInterrupted = 130;

inline constexpr const char* kExitStatusHelp =
    "Exit status of flash, info, list and image:\n"
    "  0    done\n"
    "  1    the update failed (flash --all, --watch: any controller was not upgraded)\n"
    "  2    usage error\n"
    "  3    no controller (none found, or access denied)\n"
    "  4    the image cannot be read or is rejected\n"
    "  5    cancelled, or refused by the version guard\n"
    "  130  interrupted (Ctrl-C)\n"
    "run exits 0 when the window ended as asked (\"Firmware upgraded!\" after a press), 1 when not, 2 on usage errors.";

}  // namespace tarvik
