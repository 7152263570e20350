// What the update flows tell their caller as they go, and what they ask it.
// A flow hands over facts: versions, notices, bytes, milestones, outcomes.
// Whoever runs the flow decides how they look: the window draws them, the
// command line prints them, a test records them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "update/firmware_version.h"
#include "update/image_signature.h"
#include "update/update_plan.h"
#include "update/update_result.h"

namespace tarvik {

// What a version query learnt of a controller.
struct ControllerVersions {
  UpdateProtocol protocol = UpdateProtocol::kBoot;
  // The main microcontroller's firmware. An erased boot-mode version reads as 0.
  // A packet controller without valid firmware tells FirmwareVersion::kNoFirmwareWord.
  FirmwareVersion main;
  uint16_t revision = 0;  // boot mode only, as the block holds it
  FirmwareVersion at;     // the ATmcu's firmware, boot mode only; erased reads as 0
};

// What the flows tell the person outside the update's outcome.
enum class UpdateNotice : uint8_t {
  kMainInfoFailed,  // the main microcontroller did not answer its information request
  kAtInfoFailed,    // the ATmcu did not answer its information request
  kNeedBootMode,    // the controller answered the start request but takes no packets: boot mode first
  kNoFirmware,      // the controller runs no valid firmware: the connection instructions apply
};

// Points in an update that a front end shows.
enum class UpdateMilestone : uint8_t {
  kSucceeded,  // the controller took the whole image
  kDataSent,   // packet protocol: the whole image went out, before the controller's end answer
  kSettled,    // the flow is done with the controller; another update may start
};

// The version change the person is asked to confirm.
struct VersionChange {
  UpdateProtocol protocol = UpdateProtocol::kBoot;
  std::string imagePath;
  FirmwareVersion image;       // the image's first record
  FirmwareVersion controller;  // the controller's, as last told; unknown when it did not tell
  // The ATmcu's, in boot mode when the image writes it.
  std::optional<FirmwareVersion> imageAt;
  std::optional<FirmwareVersion> controllerAt;
  // What the update would write, or why the protocol would refuse it.
  UpdatePlan plan;
  // What the image's signature says: verified, or unsigned.
  SignatureCheck signature;
};

// The moments a flow asks the person. Called on the flow's thread.
class IUpdatePrompt {
 public:
  virtual ~IUpdatePrompt() = default;
  // The image to write: a full path, or nothing to cancel.
  virtual std::optional<std::string> ChooseImage() = 0;
  // The version change, asked where the protocol allows no turning back
  // after it. True goes on.
  virtual bool ConfirmChange(const VersionChange& change) = 0;
};

// Who follows an update's steps and its one outcome: a progress display, a
// transcript. Called on the flow's thread.
class IUpdateObserver {
 public:
  virtual ~IUpdateObserver() = default;
  virtual void OnUpdateStep(const UpdateProgress& progress) = 0;
  virtual void OnUpdateOutcome(const UpdateOutcome& outcome) = 0;
};

// What a flow's caller hears, steps and the outcome aside (IUpdateObserver
// has those). Called on the flow's thread. A version query runs on its
// caller's thread; an update on the worker.
class IUpdateEvents {
 public:
  virtual ~IUpdateEvents() = default;
  virtual void OnVersionLearnt(const ControllerVersions& /*versions*/) {}
  virtual void OnNotice(UpdateNotice /*notice*/) {}
  // The chosen image, read and checked, and what an update of it would write.
  virtual void OnImageChosen(const FirmwareImage& /*image*/) {}
  virtual void OnPlan(const UpdatePlan& /*plan*/) {}
  // How much of the payload the controller has had. Packet-protocol counts
  // may pass the total by the bytes beyond the record.
  virtual void OnProgress(uint64_t /*bytes*/, uint64_t /*total*/) {}
  virtual void OnMilestone(UpdateMilestone /*milestone*/) {}
  // The update failed, or the protocol refused the chosen image before the
  // question: the outcome as it stands, before the flow settles. A stop and a
  // cancelled choice are no failure.
  virtual void OnUpdateFailed(const UpdateOutcome& /*failure*/) {}
  // The mode-2 signal is due every 100 ms until it goes out. A caller with
  // an event loop of its own ticks it there and returns true. Otherwise the
  // flow ticks it between its reads.
  virtual bool OnModeTwoSignalArmed() { return false; }
  virtual void OnModeTwoSignalDisarmed() {}
};

// Everything a flow reports: what its caller hears, and each step and the
// outcome for who follows them. The session hands each to its own.
class IFlowReports : public IUpdateEvents, public IUpdateObserver {};

}  // namespace tarvik
