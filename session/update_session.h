// An update session: one controller, its version query and its updates,
// driven directly by any front end (the window, the command line, a test, a
// program of your own). Everything runs on the caller's thread; no window,
// user-interface thread or event loop is needed. The session owns the
// update's state and context, the image snapshot it writes from and, unless
// its user runs it, the mode-2 signal's timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device/report_framing.h"
#include "session/stop_source.h"
#include "session/update_user.h"
#include "session/version_guard.h"
#include "update/boot_command_channel.h"
#include "update/boot_update_sequence.h"
#include "update/boot_wire.h"
#include "update/device_info_query.h"
#include "update/firmware_image.h"
#include "update/image_selection.h"
#include "update/packet_update_flow.h"
#include "update/update_context.h"
#include "update/update_result.h"
#include "update/update_state.h"
#include "update/update_window.h"

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
  std::string reason;  // why not, when it did not
  uint32_t deviceVersion = kDeviceVersionUnknown;
  boot::InfoBlock main;  // boot mode only
  boot::InfoBlock at;
  std::string title;  // the window title the query leads to

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
  // "controller 5a3c:7e23".
  std::string Name() const;
};

struct UpdateRequest {
  // The checked snapshot to write; without one the user is asked to choose a file.
  std::optional<FirmwareImage> image;
  IUpdateUser* user = nullptr;           // nobody: the change is confirmed, nothing is shown
  IUpdateObserver* progress = nullptr;   // each step and the outcome
  StopSource* stop = nullptr;            // a stop request shared with others
};

class UpdateSession {
 public:
  // On the first supported controller of `bus` (a view showing one
  // controller, for a caller that chose it): the session keeps its own
  // device object and step log (`logFileName`, empty: log.txt).
  UpdateSession(IHidBus& bus, ISystem& system, const std::string& logFileName = {});
  // On a device object and log the caller keeps (the main window, which also
  // searches and follows device notices); `user` hears the version queries.
  UpdateSession(CHid& hid, CDiag& diag, ISystem& system, IUpdateUser& user);
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Finds the controller and asks its version, as the window's start-up does.
  ControllerProbe Probe(IUpdateUser* user = nullptr);
  // One whole update, on the caller's thread: opens the device, runs the
  // protocol's flow and returns its one outcome.
  UpdateOutcome Update(const UpdateRequest& request);
  // Asks a running update to stop at its next step; safe from any thread.
  void RequestStop() { m_state.stopRequested.store(true); }
  bool IsStopRequested() const { return m_state.stopRequested.load(); }

  // The pieces a window drives itself: the update's start on the
  // user-interface thread (false: the device cannot be opened), its run on a
  // worker (after a successful start), the version query, the mode-2 signal.
  bool BeginUpdate();
  UpdateOutcome RunUpdate(const UpdateRequest& request);
  StepResult QueryDeviceVersion();
  // Sends the mode-2 signal when the controller is in report mode 2; true when sent.
  bool SendModeTwoSignal();

  // The end-of-update operations, as the flows run them: stop (the image
  // closed, the update timer killed, the update marked ended), failure and success
  // (stopped, then the user told), and the end of every attempt.
  void StopUpdate();
  void ReportUpdateFailure();
  void ReportUpdateSuccess();
  void RefreshUpdateButton();

  UpdateState& State() { return m_state; }
  const UpdateState& State() const { return m_state; }
  UpdateContext& Context() { return m_context; }
  CBootChannel& Boot() { return m_boot; }
  const CDeviceInfoQuery& Info() const { return m_info; }
  CHid& Hid() { return m_hid; }
  CDiag& Diag() { return m_diag; }

 private:
  // How the flows reach the session's user.
  class FlowWindow;
  friend class StopSource;

  IUpdateUser& User() const { return *m_user.load(); }
  void TickUpdateTimer();

  std::unique_ptr<CDiag> m_ownDiag;
  std::unique_ptr<CHid> m_ownHid;
  CDiag& m_diag;
  CHid& m_hid;
  ISystem& m_system;
  std::atomic<IUpdateUser*> m_user;
  std::unique_ptr<FlowWindow> m_window;
  // The mode-2 signal's timer when the session ticks it itself (worker only).
  bool m_userRunsTimer = false;
  std::optional<uint64_t> m_timerDueMs;
  std::string m_title;  // what the queries last showed

  UpdateState m_state;
  UpdateContext m_context;
  CBootChannel m_boot;
  CImageSelection m_selection;
  CPacketUpdateFlow m_packet;
  CDeviceInfoQuery m_info;
  CBootUpdateSequence m_bootSequence;
};

}  // namespace tarvik
