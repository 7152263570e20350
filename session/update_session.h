// An update session: one controller, its version query and its updates,
// driven directly by any front end (the window, the command line, a test, a
// program of your own). Everything runs on the caller's thread; no window,
// user-interface thread or event loop is needed. The session reports what
// its flows learn and do to its caller's events, and asks its caller's prompt.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/report_framing.h"
#include "session/stop_source.h"
#include "update/version_guard.h"
#include "update/boot_command_channel.h"
#include "update/boot_update_sequence.h"
#include "update/boot_wire.h"
#include "update/device_info_query.h"
#include "update/firmware_image.h"
#include "update/firmware_version.h"
#include "update/image_selection.h"
#include "update/image_signature.h"
#include "update/packet_update_flow.h"
#include "update/update_events.h"
#include "update/update_plan.h"
#include "update/update_result.h"

namespace tarvik {

class CHid;
class CDiag;
class IHidBus;
class ISystem;

// What the session found out about its controller.
struct ControllerProbe {
  bool present = false;
  std::string path;      // the interface the session talks to
  std::string location;  // where it is plugged in (a USB port path, a location path); may be empty
  std::string serial;    // its serial number, where it has one
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  ReportMode mode = ReportMode::kNone;
  // The version query answered: the versions below are the controller's.
  bool queried = false;
  Reason reason;  // why not, when it did not
  FirmwareVersion deviceVersion;  // unknown until told
  boot::InfoBlock main;  // boot mode only
  boot::InfoBlock at;

  bool BootMode() const { return mode == ReportMode::kBootCommand; }
  UpdateProtocol Protocol() const { return BootMode() ? UpdateProtocol::kBoot : UpdateProtocol::kPacket; }
  // The controller told a firmware version (not "none" in the packet protocol).
  bool VersionKnown() const;
  // "1.31", "none" (a packet-protocol controller without valid firmware), "unknown".
  std::string VersionText() const;
  // The ATmcu's firmware version (0 when erased); 0 outside boot mode.
  uint32_t AtVersion() const;
  // The main microcontroller's 96-bit UID, 24 hex digits; empty outside boot mode.
  std::string Uid() const;
  // "5a3c:7e23"; empty when the controller is unknown.
  std::string Product() const;
  // What an update plan needs of it.
  ControllerFacts Facts() const;
};

// An update stopped before anything went out.
Reason BeforeStart();

// What an update of the probed controller with `image` would write.
inline UpdatePlan PlanUpdate(const ControllerProbe& probe, const FirmwareImage& image) {
  return PlanUpdate(probe.Facts(), image);
}

class UpdateSession;

// What a window does between the steps of the start-up probe. Each does
// nothing unless its caller says otherwise.
class IProbeSteps {
 public:
  virtual ~IProbeSteps() = default;
  // The first search found a controller in `mode`, or none.
  virtual void OnFirstSearch(bool /*found*/, ReportMode /*mode*/) {}
  // The second search comes next.
  virtual void OnBeforeSecondSearch() {}
  // The second search found a controller. Its version query comes next.
  virtual void OnFoundAgain() {}
  // Runs a version query: the session's own, unless the caller wraps it.
  virtual StepResult Query(UpdateSession& session);
};

struct UpdateRequest {
  // The checked snapshot to write; without one the prompt is asked to choose a file.
  std::optional<FirmwareImage> image;
  IUpdatePrompt* prompt = nullptr;      // nobody: no file is chosen, the change is confirmed
  IUpdateEvents* events = nullptr;      // nobody: the session's own listener hears them
  IUpdateObserver* progress = nullptr;  // each step and the outcome
  StopSource* stop = nullptr;            // a stop request shared with others
  // How a boot-mode update waits for its answers. The window and the page keep the default.
  BootPace pace = BootPace::kParts;
  // The plan made for `image` and this controller, when the caller made one.
  std::optional<UpdatePlan> plan{};
  // The keys the image's signature may be made by, and whether one is required.
  ImageTrust trust{};
  // The check of `image`'s signature against `trust`, when the caller made one.
  std::optional<SignatureCheck> signature{};
};

class UpdateSession {
 public:
  // On the first supported controller of `bus` (a view showing one
  // controller, for a caller that chose it): the session keeps its own
  // device object and step log (`logFileName`, empty: log.txt).
  UpdateSession(IHidBus& bus, ISystem& system, const std::string& logFileName = {});
  // On a device object and log the caller keeps (the main window, which also
  // searches and follows device notices); `events` hear the version queries.
  UpdateSession(CHid& hid, CDiag& diag, ISystem& system, IUpdateEvents& events);
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Finds the controller and asks its version, as the window's start-up does.
  ControllerProbe Probe(IUpdateEvents* events = nullptr);
  // The start-up probe, step by step, which the window and Probe share. A
  // found controller in report mode 2 gets the mode-2 signal, another is asked
  // its version. Then the bus is searched again, and a controller found is
  // asked again. Returns the last query's result.
  StepResult StartUpProbe(IProbeSteps& steps);
  // One whole update, on the caller's thread: opens the device, runs the
  // protocol's flow and returns its one outcome.
  UpdateOutcome Update(const UpdateRequest& request);
  // Asks a running update to stop at its next step; safe from any thread.
  void RequestStop() { m_stopRequested.store(true); }
  bool IsStopRequested() const { return m_stopRequested.load(); }

  // The pieces a window drives itself: the update's start on the
  // user-interface thread, its run on a worker (after a successful start),
  // the version query, the mode-2 signal. The start chooses the protocol the
  // run speaks; nothing when the device cannot be opened.
  std::optional<UpdateProtocol> BeginUpdate();
  UpdateOutcome RunUpdate(const UpdateRequest& request);
  StepResult QueryDeviceVersion();
  // Sends the mode-2 signal when the controller is in report mode 2; true when sent.
  bool SendModeTwoSignal();

  // A removal notice came while an update ran; safe from any thread.
  void NoticeRemoval() { m_packet.NoticeRemoval(); }
  // The version the controller last told; unknown before it did.
  FirmwareVersion DeviceVersion() const { return m_deviceVersion.load(); }
  // The information block a microcontroller last sent, as received (boot mode).
  std::vector<uint8_t> InfoBlockBytes(ImageMcu mcu) const {
    const uint8_t* block = mcu == ImageMcu::kMain ? m_info.MainInfoBlock() : m_info.AtInfoBlock();
    return {block, block + boot::kInfoBlockSize};
  }

 private:
  // What the flows report and ask, passed on to the running caller.
  class Relay;
  friend class StopSource;

  // The controller as the session last found and queried it.
  ControllerProbe Current() const;

  std::unique_ptr<CDiag> m_ownDiag;
  std::unique_ptr<CHid> m_ownHid;
  CDiag& m_diag;
  CHid& m_hid;
  ISystem& m_system;
  std::atomic<bool> m_stopRequested{false};
  std::atomic<FirmwareVersion> m_deviceVersion{FirmwareVersion::Unknown()};
  std::atomic<bool> m_queried{false};  // the last version query answered
  // The protocol of the update begun last: chosen once, at its start.
  std::atomic<UpdateProtocol> m_protocol{UpdateProtocol::kBoot};
  std::unique_ptr<Relay> m_relay;
  CBootChannel m_boot;
  CImageSelection m_selection;
  CPacketUpdateFlow m_packet;
  CDeviceInfoQuery m_info;
  CBootUpdateSequence m_bootSequence;
};

}  // namespace tarvik
