// What a redacted transcript (--transcript with --redact) keeps of a report:
// the controller's UID and the image's bytes are replaced, the rest is kept,
// so that a recording can be shared without either and still be replayed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik {

// An output report with the image's bytes it carries zeroed (the data of a
// boot-mode write, the payload of a packet-protocol data packet); false when
// it carries none and is left as it is.
bool RedactOutputReport(std::vector<uint8_t>& report);

// An input report with the controller's UID it carries (in a boot-mode
// information reply) replaced by the first 12 bytes of the UID's SHA-256:
// the same controller gets the same stand-in. False when it carries none.
bool RedactInputReport(std::vector<uint8_t>& report);

// A short stand-in for a text that identifies a controller (a serial number):
// "sha256:" and the first 16 hex digits of its SHA-256.
std::string RedactText(const std::string& text);

// The SHA-256 a redacted output report's line carries in place of its
// image bytes, in lower-case hex.
std::string ReportDigest(const std::vector<uint8_t>& report);

}  // namespace tarvik
