// What an update of a controller with a checked image would do. It is
// decided once, before anything is written: which records go out, how each
// microcontroller's version changes, or why nothing is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/firmware_image.h"
#include "update/firmware_version.h"
#include "update/update_result.h"
#include "update/version_guard.h"

namespace tarvik {

// Why a plan writes nothing.
enum class PlanRefusal : uint8_t {
  kNone,
  kNoController,   // no controller was found
  kNotQueried,     // a boot-mode controller did not answer its information request
  kImageRejected,  // the controller's protocol would not write the image whole
};

// One record the update writes, with the addresses the controller is told.
struct PlannedRecord {
  size_t number = 0;  // from 1, in the file's order
  ImageMcu mcu = ImageMcu::kMain;
  uint32_t destination = 0;  // the ATmcu bit included
  uint32_t length = 0;
  uint32_t version = 0;
  uint64_t payloadOffset = 0;  // where its payload starts in the image
  // Boot mode: where its microcontroller keeps its version, as its
  // information block gives it, and where the stamp goes, the ATmcu bit included.
  uint32_t versionAddress = 0;
  uint32_t stampAddress = 0;
};

struct UpdatePlan {
  PlanRefusal refusal = PlanRefusal::kNone;
  // Why nothing is written. For an image the protocol refuses, the image
  // check's own reason.
  Reason reason;
  UpdateProtocol protocol = UpdateProtocol::kBoot;
  std::vector<PlannedRecord> records;  // what the protocol writes, in order
  // The controller told its version. The guard holds only then.
  bool versionKnown = false;
  VersionGuard guard;

  bool Writes() const { return refusal == PlanRefusal::kNone; }
  // The payload of every planned record.
  uint32_t PayloadTotal() const;
  // "upgrade", "downgrade" or "reinstall"; empty while the version is unknown
  // or nothing is written.
  const char* Action() const;
};

// What is known of the controller an update would write.
struct ControllerFacts {
  bool present = false;
  UpdateProtocol protocol = UpdateProtocol::kBoot;
  // The version query answered. Boot mode: both information blocks did.
  bool queried = false;
  std::string product;  // "5a3c:7e23"; empty when unknown
  FirmwareVersion main;  // unknown until told; "none" is a packet controller without firmware
  FirmwareVersion at;    // boot mode; an erased version reads as 0
  // Boot mode: where each microcontroller keeps its version (VerAddr).
  uint32_t mainVersionAddress = 0;
  uint32_t atVersionAddress = 0;

  // The controller told a firmware version (not "none" in the packet protocol).
  bool VersionKnown() const {
    return main.Known() && !(main.Word() == FirmwareVersion::kNoFirmwareWord && protocol == UpdateProtocol::kPacket);
  }
};

UpdatePlan PlanUpdate(const ControllerFacts& controller, const FirmwareImage& image);

}  // namespace tarvik
