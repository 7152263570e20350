// Why a step, a plan or an update ended as it did, as a value: a code for
// what happened and the facts that go with it. The engine words nothing.
// Each front end words a reason from its code, in its own language
// (texts/reason_texts.h), and picks the next step by it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace tarvik {

// The two microcontrollers an image writes.
enum class ImageMcu : uint8_t { kMain, kAtMcu };

// What happened. Each code's name (ReasonCodeName) is stable: scripts read it.
enum class ReasonCode : uint8_t {
  kNone,
  // The controller.
  kNoController,          // no supported controller is on the bus
  kOpenFailed,            // the controller could not be opened
  kVersionUntold,         // a packet controller did not tell its version
  kInfoUnanswered,        // mcu: an information request was never answered
  kNotQueried,            // product: a boot-mode controller did not answer its information request
  kInfoBlockErased,       // mcu: its information block reads as erased
  kVersionAddressOnAtMcu, // address: the main mcu's version stamp would go to the ATmcu
  kDisconnected,          // the controller left the bus; percent and step say where
  kEraseUnanswered,       // record, address
  kEraseBusy,             // record, address, count: the controller stayed busy
  kChunkUnacknowledged,   // address: a data chunk got no acknowledgement in three attempts
  kStampUnanswered,       // record, address: the version stamp got no acknowledgement
  kResetUnanswered,       // the reset got no acknowledgement
  kStartUnwritten,        // count: the system's error code
  kEndUnwritten,          // the end packet could not be written
  kControllerFailure,     // count: the failure code; packets; percent
  kControllerSilent,      // seconds, percent
  kTransferTooSlow,       // seconds, percent
  kNoResult,              // percent: the transfer ended without a result
  kNeedBootMode,          // the controller takes no packets: boot mode first
  // The image.
  kNoImage,               // no image was read
  kNoImageChosen,         // the person chose no file
  kUnreadable,            // path, errorNumber: the file cannot be opened
  kIsDirectory,           // path
  kNotRegularFile,        // path: a device, a pipe or a socket
  kImageTooLarge,         // path, bytes
  kImageEmpty,
  kHeaderIncomplete,      // bytes, offset: too few bytes for a record header
  kRecordPastEnd,         // record runs past the end of the file
  kNoPayload,
  kPayloadTooLarge,
  kTerminatorCarriesPayload,  // record, bytes
  kRecordAfterTerminator,     // record, otherRecord: the terminator
  kRecordPastAddressSpace,    // record, mcu, bytes, address
  kMainRecordOnAtMcu,         // record, bytes, address
  kRecordsOverlap,            // record, otherRecord, mcu, address
  kPacketDropsRecord,         // record, mcu, bytes: a record the packet protocol would drop
  kPacketRecordEmpty,         // the packet protocol's one record carries nothing
  kImageTruncated,            // record, bytes, total: the image ended inside a record
  kDigestMismatch,            // actual, expected: the image is not the one published
  kSignatureMismatch,         // keyId: the signature beside the image does not verify
  kSignatureDamaged,          // the signature file beside the image is not a signature
  kSignatureUntrusted,        // keyId: the image is signed by a key not trusted here
  kUnsigned,                  // a signature is required and the image has none
  // The versions and the person.
  kOlderThanController,  // mcu, imageVersion, controllerVersion
  kSameVersion,          // controllerVersion; controllerAtVersion when the image writes the ATmcu
  kNotConfirmed,         // the person did not confirm the version change
  kInterrupted,          // percent when known; beforeStart
};

// Every code but kNone, in declaration order.
const std::vector<ReasonCode>& AllReasonCodes();
// "erase_unanswered": the code as scripts read it. Never changes.
const char* ReasonCodeName(ReasonCode code);
// False for a name that is no code's.
bool ReasonCodeFromName(const std::string& name, ReasonCode& code);
// Whether the code says what is wrong with an image's bytes. Such a reason
// names its image when it has a path.
bool IsImageContentCode(ReasonCode code);
// Whether the code says why the image's signature refuses it. These are image content codes too.
bool IsSignatureCode(ReasonCode code);

// The step a boot-mode update was at when the controller left.
enum class ReasonStep : uint8_t { kNone, kErase, kChunk, kStamp, kInfoRequest };

struct Reason {
  ReasonCode code = ReasonCode::kNone;
  ReasonStep step = ReasonStep::kNone;
  ImageMcu mcu = ImageMcu::kMain;
  int record = 0;       // from 1
  int otherRecord = 0;  // from 1
  uint32_t address = 0;
  int percent = -1;  // of the payload the controller had; -1: not said
  uint64_t bytes = 0;
  uint64_t offset = 0;
  uint64_t total = 0;
  uint32_t count = 0;  // a count, a failure code or a system error code
  uint32_t packets = 0;
  uint32_t seconds = 0;
  uint32_t imageVersion = 0;       // version words
  uint32_t controllerVersion = 0;
  uint32_t controllerAtVersion = 0;
  bool writesAt = false;     // kSameVersion: the image writes the ATmcu too
  bool beforeStart = false;  // kInterrupted: nothing went out
  int errorNumber = 0;       // the system's, where a file could not be read
  std::string path;          // the image's; an image content code names it when set
  std::string product;       // "5a3c:7e23"
  std::string actual;        // kDigestMismatch
  std::string expected;
  std::string keyId;         // the signature's key, as minisign prints it

  Reason() = default;
  explicit Reason(ReasonCode c) : code(c) {}
  bool Empty() const { return code == ReasonCode::kNone; }
  Reason& At(int r, uint32_t a) {
    record = r;
    address = a;
    return *this;
  }
  Reason& Percent(int p) { percent = p; return *this; }
  Reason& Path(std::string p) { path = std::move(p); return *this; }
  Reason& Mcu(ImageMcu m) { mcu = m; return *this; }
  Reason& Count(uint32_t c) { count = c; return *this; }
  Reason& Step(ReasonStep s) { step = s; return *this; }
  bool operator==(const Reason&) const = default;
};

// The code's name, for a test's or a trace's message.
std::ostream& operator<<(std::ostream& out, const Reason& reason);

}  // namespace tarvik
