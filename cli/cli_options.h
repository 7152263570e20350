// What the command line asked for of every command, and what the program answers.
#pragma once

#include <string>
#include <vector>

#include "base/text_mark.h"

namespace tarvik {

class CliReplay;

// What every command may read from the line: where the controllers are, what
// is recorded, how the result is shown, which controller is meant. A
// command's own options belong to its type (cli/commands.h).
struct GlobalOptions {
  std::string simulate;  // empty: the system's HID devices
  std::vector<std::string> simSettings;
  std::string transcriptPath;  // empty: none; "-": standard output
  bool redact = false;         // the transcript without the controller's UID and the image's bytes
  bool json = false;
  bool verbose = false;  // trace lines on standard error too
  bool quiet = false;    // no success line, no progress
  std::string device;    // --device: an index from list, a path, a place or a boot-mode UID; empty: any
  std::string replayPath;      // --replay: a transcript whose controllers the command talks to; empty: none
  CliReplay* replay = nullptr;  // that transcript, loaded (main owns it)
};

// Exit statuses of flash, info and image (run keeps 0, 1 and 2).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;        // the update failed
inline constexpr int kExitUsage = 2;         // the command line was wrong
inline constexpr int kExitNoController = 3;  // none found, or access denied
inline constexpr int kExitImage = 4;         // the image cannot be read or is rejected
inline constexpr int kExitCancelled = 5;     // cancelled, or refused by the version guard
inline constexpr int kExitDiverged = 6;      // --replay: the engine's reports differed from the recording
inline constexpr int kExitInterrupted = 130;

// Why a command found no controller, and what to try next.
inline constexpr const char* kNoControllerFound =
    N_("no supported controller found: check the cable, and hold the pair button while plugging in a controller "
       "that does not start; list shows what is connected");
inline constexpr const char* kNoControllerListed =
    N_("no supported controller found: check the cable, and hold the pair button while plugging in a controller "
       "that does not start");

// Why an update that needs a confirmation did not start when nobody can give it.
inline constexpr const char* kNeedsYes =
    N_("the update needs a confirmation and standard input is not a terminal: add --yes to give it");

inline constexpr const char* kExitStatusHelp = N_(
    "Exit status of flash, info, list, image and history:\n"
    "  0    done\n"
    "  1    the update failed (flash --all, --watch: a controller was neither upgraded nor skipped);\n"
    "       history: the journal cannot be read\n"
    "  2    usage error\n"
    "  3    no controller (none found, or access denied)\n"
    "  4    the image cannot be read or is rejected\n"
    "  5    cancelled, or refused by the version guard\n"
    "  6    --replay: the engine's reports differed from the recording\n"
    "  130  interrupted (Ctrl-C)\n"
    "run exits 0 when the window ended as asked (\"Firmware upgraded!\" after a press), 1 when not, 2 on usage errors.\n"
    "With --replay every command exits 0 when its run matched the recording to its end, whatever the update's\n"
    "own result (which its output still tells), 6 when it did not, 2 on usage errors.");

// The simulated controllers' keys, one per line (KEY=VALUES, then what it does);
// the manual page lists the same keys.
inline constexpr const char* kSimKeysHelp = N_(
    "Keys of --sim [N:]KEY=VALUE, the simulated controllers' behaviour (N: the N-th only):\n"
    "  clock=virtual             waits take no real time (the whole bus)\n"
    "  extra=N                   N devices of other vendors before the controllers (the whole bus)\n"
    "  unplug.after=N            the controller leaves the bus after N output reports\n"
    "  unplug.back=MS            the unplugged controller comes back MS milliseconds later, holding what it held\n"
    "  arrive.after=MS           the controller joins the bus MS milliseconds after start\n"
    "  stream=N                  N controllers in all come to its place, each once the one before is done\n"
    "  stream.gap=MS             a stream's next controller comes MS milliseconds after (default 200)\n"
    "  main.pid=N                boot mode: the main information block's pid\n"
    "  main.version=N            boot mode: its version word\n"
    "  main.revision=N           boot mode: its revision\n"
    "  main.veraddr=N            boot mode: its VerAddr\n"
    "  at.pid=N                  boot mode: the ATmcu information block's pid\n"
    "  at.version=N              boot mode: its version word\n"
    "  at.veraddr=N              boot mode: its VerAddr\n"
    "  info.main=ok|silent|wrong boot mode: answer the main information request, never, or wrongly\n"
    "  info.at=ok|silent|wrong   boot mode: the same for the ATmcu\n"
    "  erase=ok|silent           boot mode: answer erases\n"
    "  erase.busy=N              boot mode: answer each erase with busy N times first\n"
    "  write.fail=K:M            boot mode: data chunk K unacknowledged for its first M attempts\n"
    "  setversion=ok|silent      boot mode: answer the version stamp\n"
    "  reset=ok|silent           boot mode: answer the reset\n"
    "  reset.replug=1|0          boot mode: leave the bus at the reset and come back (1, the default)\n"
    "  version=N|silent          packet modes: the version report's word, or none\n"
    "  start=answer|silent       packet modes: answer the start request\n"
    "  fail.at=K                 packet modes: a failure report after K data packets\n"
    "  fail.cmd=0x15|0x18        packet modes: the failure report's command\n"
    "  silent.after=K            packet modes: nothing more after K data packets\n"
    "  junk=1                    packet modes: frames the host must ignore between real ones\n"
    "  end.replug=1|0            packet modes: after a whole transfer, restart with the version sent (1, the default)\n"
    "  switch=replug|ignore      report mode 2: the mode-2 signal brings it back in mode 1 (default), or not\n"
    "  latency.ms=X              every reply comes X ms after its frame");

}  // namespace tarvik
