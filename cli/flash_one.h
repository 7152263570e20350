// One controller's flash on its own update session: the image checked
// before any report, the controller probed, the version guard, the update.
#pragma once

#include <cstdint>
#include <string>

#include "cli/cli_output.h"
#include "cli/cli_platform.h"
#include "cli/terminal_user.h"
#include "session/stop_source.h"
#include "update/firmware_image.h"
#include "update/image_signature.h"

namespace tarvik {

class HistoryJournal;

// flash's own options.
struct FlashOptions {
  std::string path;
  bool assumeYes = false;
  bool allowOlder = false;
  bool allowReinstall = false;
  bool requireSignature = false;  // refuse an image without a signature file
  bool all = false;    // every controller present, at once
  bool watch = false;  // station mode: each controller as it arrives
  int count = 0;       // --watch: end after this many upgrades; 0: at Ctrl-C
  std::string sha256;  // --sha256: the image's published digest; empty: not checked
  std::string pace = "parts";  // --pace: how a boot-mode update waits for its answers
  HistoryJournal* history = nullptr;  // where each attempt is recorded; none: not recorded
};

// The image as flash sees it before talking to any controller: read and
// checked as the update will check it.
struct ImageCheck {
  Reason reason;  // empty: usable
  uint32_t version = 0;
  uint32_t payloadTotal = 0;
  std::string sha256;  // of the whole file, lower-case hex; empty when unreadable
  FirmwareImage image;
  ImageTrust trust;          // the keys its signature may be made by
  SignatureCheck signature;  // what its signature says
};

// `published`: the SHA-256 the image must have (hex, either case); empty: any.
// The image's signature is checked against `trust`.
ImageCheck CheckImage(const std::string& path, const std::string& published = "", const ImageTrust& trust = {});

// The controller of `target` (the bus's first when it has no path).
// `guardAsYes`: a batch (--all, --watch): the version guard applies as under
// --yes (the batch was confirmed once), and a controller already at the
// image's version is skipped. Ctrl-C reaches the update through `stops`.
FlashResult FlashOne(CliPlatform& platform, const FlashOptions& options, const ImageCheck& image, TerminalUser& user,
                     StopSource& stops, const ControllerTarget& target, bool guardAsYes);

}  // namespace tarvik
