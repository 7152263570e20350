// What the commands print: the JSON document or the text lines of each
// result, the failure line on standard error, the exit status.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/controller_bus.h"
#include "session/update_session.h"
#include "update/update_result.h"

namespace tarvik {

using json = nlohmann::ordered_json;

class CliPlatform;

void PrintJson(const json& document);
// One document on one line, as a JSON-lines stream has it.
void PrintJsonLine(const json& document);
// The codes of the command line's own reasons, beside the engine's
// (ReasonCodeName). Scripts read them in "code"; they never change.
inline constexpr const char* kCodeUsage = "usage_error";
inline constexpr const char* kCodeNeedsYes = "needs_confirmation";
inline constexpr const char* kCodeHistoryUnreadable = "history_unreadable";
inline constexpr const char* kCodeNotAllUpgraded = "not_all_upgraded";
// Every code a document may carry: the engine's and the command line's.
std::vector<std::string> AllDocumentCodes();

// Ends a command: the JSON document (with --json), the failure line on
// standard error, the exit status. `reason` is in the interface language,
// and `code` names it for scripts; without a code one follows from the status.
int Conclude(const GlobalOptions& options, json document, int status, const std::string& reason,
             const char* code = nullptr);
// The same for a reason of the engine: worded here, its code its own.
int Conclude(const GlobalOptions& options, json document, int status, const Reason& reason);
// The reason as the command line words it: a controller not found says what to try.
std::string CliReasonText(const Reason& reason);
// Builds `platform` from the options. When that cannot be done the command
// ends: the status returned is the concluded one, and `document`'s result is
// "error" for a usage error, else `otherwise`.
std::optional<int> SetUpOrConclude(CliPlatform& platform, const GlobalOptions& options, json& document,
                                   const char* otherwise = "error");
// Ends a flash that stopped before any report: the transcript, if asked for,
// gets the outcome and closes, then the command is concluded.
int ConcludeBeforeAnyReport(CliPlatform& platform, const GlobalOptions& options, json& document,
                            OutcomeResult result, int status, const Reason& reason);
// Ends a flash that needs a confirmation nobody can give, before any report.
int ConcludeNeedsYes(CliPlatform& platform, const GlobalOptions& options, json& document);
int ExitFor(OutcomeResult result);

// What an interrupted update leaves behind, and how to go on.
std::string RecoveryHint(const UpdateOutcome& outcome);
// A result's machine name ("upgraded", "no controller", ...) as a word of the
// interface language; an unknown one as it is.
const char* ResultWord(const std::string& result);

// A firmware version word: {"text": "1.23 beta2", "word": 131195}.
json VersionJson(uint32_t word);
// What an image's signature check found: {"status": "verified", "keyId": ...,
// "keyName": ..., "trustedComment": ...}, each fact where it is known.
json SignatureJson(const SignatureCheck& check);
// A controller as list and info show it: who and where it is, its report
// mode, versions, information blocks and title; `index` is its place in bus order.
// A probe as the command line reports it: with the title the window would show.
struct ControllerReport : ControllerProbe {
  std::string title;
  // It was in report mode 2 and came back in report mode 1 on the mode-2 signal.
  bool leftModeTwo = false;
};

json ProbeJson(int index, const ControllerReport& probe);
void PrintProbe(const ControllerReport& probe);

// How one controller's flash ended.
struct FlashResult {
  int status = kExitOk;
  std::string result;  // an outcome's name, or "no controller", "refused", "failed", "interrupted"
  Reason reason;
  std::optional<UpdateOutcome> outcome;
  std::string from;        // the controller's version, when known
  std::string to;          // the image's version
  std::optional<uint32_t> fromWord;  // the same as version words
  std::optional<uint32_t> toWord;
  // Who the controller is, once probed: for every line, document and the history.
  std::string product;   // "5a3c:7e23"
  std::string uid;       // boot mode: the main microcontroller's UID, 24 hex digits; else empty
  std::string location;  // where it is plugged in; may be empty
  std::string path;      // the interface the update talked to
  // "upgrade", "downgrade" or "reinstall" once both versions are known; else empty.
  std::string action;
  // An interrupted update: what it left on the controller, and how to go on.
  std::string controllerState;
  // How a boot-mode update waited ("parts", "ack"); empty when none ran.
  std::string pace;
};

// Why a flash ended as it did, in the interface language: the guard's
// refusal with the option that overrides it, a skip as "already 1.31".
std::string FlashReasonText(const FlashResult& r);

// "controller 5a3c:7e23 (uid 0123..., at usb-0:1.2)": the controller of a
// single flash, as its result line names it.
std::string ControllerNamed(const FlashResult& r);
// Which controller: "5a3c:7e23 uid 0123... at usb-0:1.2"; the interface path
// only with `withPath` (or when nothing else is known).
std::string ControllerLabel(const FlashResult& r, const std::string& path, bool withPath);
// One controller's result in a flash document: the controller (`index` in bus
// order, `path` when the result does not know its own), what happened, the versions.
json ResultJson(int index, const std::string& path, const FlashResult& r);
// One line per finished controller; the interface path only when `verbose`.
std::string ResultLine(int index, const std::string& path, const FlashResult& r, bool verbose);
void PrintResultLine(int index, const std::string& path, const FlashResult& r, bool verbose);

// The results of one or several controllers' flashes, as counts. An image the
// controller's protocol would not write is rejected, not failed.
struct Tally {
  int upgraded = 0;  // downgrades and reinstalls asked for included
  int skipped = 0;   // already at the image's version
  int refused = 0;   // by the version guard
  int rejected = 0;  // the image, by the controller's protocol
  int failed = 0;
  int interrupted = 0;
  void Add(const FlashResult& r);
  int Total() const { return upgraded + skipped + refused + rejected + failed + interrupted; }
  // Every controller upgraded or skipped.
  bool AllDone() const { return upgraded + skipped == Total(); }
  std::string Text() const;
  json Json() const;
};

// A flash document before its results: "mode" is "one", "all" or "watch".
json FlashDocument(const char* mode);
// The results of a flash and their summary, into its document.
void AddResults(json& document, json results, const Tally& tally);
Tally TallyOf(const FlashResult& r);
// The place of the controller at `path` in bus order (from 1); 1 for the
// only controller (empty path).
int BusIndexOf(const std::vector<ControllerEntry>& controllers, const std::string& path);

}  // namespace tarvik
