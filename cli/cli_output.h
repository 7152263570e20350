// What the commands print: the JSON document or the text lines of each
// result, the failure line on standard error, the exit status.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "session/update_session.h"
#include "update/update_result.h"

namespace tarvik {

using json = nlohmann::ordered_json;

class CliPlatform;

void PrintJson(const json& document);
// Ends a command: the JSON document (with --json), the failure line on
// standard error, the exit status.
// `reason` may be English made with N_ (the engine's, a flash result's): it
// is translated here, for the JSON and the error line alike.
int Conclude(const GlobalOptions& options, json document, int status, const std::string& reason);
// Builds `platform` from the options. When that cannot be done the command
// ends: the status returned is the concluded one, and `document`'s result is
// "error" for a usage error, else `otherwise`.
std::optional<int> SetUpOrConclude(CliPlatform& platform, const GlobalOptions& options, json& document,
                                   const char* otherwise = "error");
int ExitFor(OutcomeResult result);

// What an interrupted update leaves behind, and how to go on.
std::string RecoveryHint(const UpdateOutcome& outcome);
// A result's machine name ("upgraded", "no controller", ...) as a word of the
// interface language; an unknown one as it is.
const char* ResultWord(const std::string& result);
json OutcomeDocument(const char* command, const UpdateOutcome& outcome);

// A controller as info shows it: report mode, versions, information blocks, title.
void AddProbeJson(json& document, const ControllerProbe& probe);
void PrintProbe(const ControllerProbe& probe);

// How one controller's flash ended.
struct FlashResult {
  int status = kExitOk;
  std::string result;  // an outcome's name, or "no controller", "refused", "failed", "interrupted"
  std::string reason;
  std::optional<UpdateOutcome> outcome;
  std::string controller;  // "controller 5a3c:7e23"
  std::string from;        // the controller's version, when known
  std::string to;          // the image's version
  // Who the controller is, once probed: for every line, document and the history.
  std::string product;   // "5a3c:7e23"
  std::string uid;       // boot mode: the main microcontroller's UID, 24 hex digits; else empty
  std::string location;  // where it is plugged in; may be empty
  std::string path;      // the interface the update talked to
  // "upgrade", "downgrade" or "reinstall" once both versions are known; else empty.
  std::string action;
};

// "controller 5a3c:7e23 (uid 0123..., at usb-0:1.2)": the controller of a
// single flash, as its result line names it.
std::string ControllerNamed(const FlashResult& r);
// Which controller: "5a3c:7e23 uid 0123... at usb-0:1.2"; the interface path
// only with `withPath` (or when nothing else is known).
std::string ControllerLabel(const FlashResult& r, const std::string& path, bool withPath);
json ResultJson(int index, const std::string& path, const FlashResult& r);
// One line per finished controller; the interface path only when `verbose`.
void PrintResultLine(int index, const std::string& path, const FlashResult& r, bool verbose);

// The results of several controllers' flashes.
struct Tally {
  int upgraded = 0;  // downgrades and reinstalls asked for included
  int skipped = 0;   // already at the image's version
  int refused = 0;
  int failed = 0;
  int interrupted = 0;
  void Add(const FlashResult& r);
  int Total() const { return upgraded + skipped + refused + failed + interrupted; }
  // Every controller upgraded or skipped.
  bool AllDone() const { return upgraded + skipped == Total(); }
  std::string Text() const;
  json Json() const;
};

}  // namespace tarvik
