// The platform a command runs the window on: the clock, the system seam, the
// HID bus (the system's own devices, the simulator with --simulate, or a
// transcript's controllers played back with --replay), the headless window host and the transcript.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/cupdate_dlg.h"
#include "cli/cli_output.h"
#include "cli/controller_bus.h"
#include "cli/held_enumeration_bus.h"
#include "cli/cli_options.h"
#include "platform/headless/headless_window_host.h"
#include "platform/headless/observer_fanout.h"
#include "platform/std/virtual_clock.h"
#include "session/update_session.h"
#include "sim/sim_hid_bus.h"
#include "sim/sim_setup.h"
#include "transcript/transcript.h"

namespace tarvik {

// Which controller a window or a session works on: the whole bus (the first
// controller found, as the desktop window does) or one path only.
struct ControllerTarget {
  std::string path;         // empty: the whole bus
  std::string location;     // where it is plugged in: followed across re-plugs; may be empty
  int dev = 0;              // the controller's number in the transcript; 0: none
  std::string logFileName;  // empty: log.txt
};

class CliPlatform;

// One controller's update session on the run's bus, system, log and
// transcript. `Progress` hands each step and outcome to the transcript (and
// to `extra`).
class ControllerSession {
 public:
  ControllerSession(CliPlatform& platform, IHidBus& bus, const ControllerTarget& target);
  UpdateSession& Session() { return *m_session; }
  // The window's start-up probe. A report-mode-2 controller leaves the bus on
  // the mode-2 signal and enumerates again in report mode 1 (over USB, a
  // second or two later): the probe waits for it, up to kModeTwoReturnMs,
  // and asks again.
  ControllerReport Probe();
  // One update of `image` as `plan` has it: `person` confirms it, hears its
  // notices and sees its steps. `signature` is the check of the image's
  // signature against `trust`, made already.
  template <class Person>
  UpdateOutcome Update(const FirmwareImage& image, const UpdatePlan& plan, Person& person, StopSource& stop,
                       BootPace pace, const ImageTrust& trust, const SignatureCheck& signature) {
    return Update(image, plan, person, person, &person, stop, pace, trust, signature);
  }
  UpdateOutcome Update(const FirmwareImage& image, const UpdatePlan& plan, IUpdatePrompt& prompt,
                       IUpdateEvents& events, IUpdateObserver* extra, StopSource& stop, BootPace pace,
                       const ImageTrust& trust, const SignatureCheck& signature);

  static constexpr uint32_t kModeTwoReturnMs = 5000;

 private:
  IHidBus& Bus() { return m_view ? static_cast<IHidBus&>(*m_view) : m_bus; }

  IHidBus& m_bus;
  IClock& m_clock;
  ISystem& m_system;
  std::optional<SingleDeviceBus> m_view;
  std::unique_ptr<UpdateSession> m_session;
  std::optional<TranscriptUpdateObserver> m_numberedOutcomes;
  IUpdateObserver* m_transcript = nullptr;
};

class CliPlatform {
 public:
  CliPlatform() = default;
  ~CliPlatform();
  CliPlatform(const CliPlatform&) = delete;
  CliPlatform& operator=(const CliPlatform&) = delete;

  // Builds everything from the options; false with `error` and `exitCode` set
  // when the options cannot be served.
  bool Set(const GlobalOptions& options, std::string& error, int& exitCode);
  // Asked before Set: the run's first look at the bus serves every look
  // until the first output report (HeldEnumerationBus). A flash of one
  // controller enumerates once before it talks to it.
  void HoldEnumeration() { m_holdEnumeration = true; }

  // Runs the main window with `user` answering it; `session` runs once
  // start-up is done, on the user-interface thread.
  // Several windows may run at once, each on its own thread and target.
  void RunWindow(IHeadlessUser& user, IWindowObserver* extraObserver, IUpdateObserver* updateObserver,
                 const std::function<void(CUpdateDlg&, HeadlessWindowHost&)>& session,
                 const ControllerTarget& target = {});

  // A session on the controller of `target`; nothing is sent until it is used.
  std::unique_ptr<ControllerSession> OpenSession(const ControllerTarget& target);

  // Device notices of the run's bus for `target` (kNoNotifyHandle when the bus gives none).
  NotifyHandle WatchDevices(IDeviceNotifyTarget& target) { return m_bus->RegisterNotify(target); }
  void UnwatchDevices(NotifyHandle handle) {
    if (handle != kNoNotifyHandle) m_bus->UnregisterNotify(handle);
  }

  // The supported controllers present now, in bus order.
  std::vector<ControllerEntry> Controllers();
  // Whether the session has several controllers (simulated, or found at
  // start): then transcript events carry "dev" and each controller logs to a
  // file of its own.
  bool Several() const { return m_several; }
  // A controller's number: its place in bus order at start (from 1), or, for
  // one that came later, after those. Stable for the session.
  int NumberOf(const std::string& path);
  // The window target of a controller.
  ControllerTarget TargetFor(const ControllerEntry& controller);
  IClock& Clock() { return *m_clock; }

  // An outcome decided before the window ran (the image was refused).
  void RecordOutcome(const UpdateOutcome& outcome);

  // Ends the transcript with the simulated controller's flash.
  void FinishTranscript();

 private:
  friend class ControllerSession;

  // A simulated stream's controller left for good. What it holds goes to the
  // transcript now, and its place is the next one's. Runs on any thread.
  void OnStreamed(size_t slot, const SimPopulation& left, const SimPopulation* next);
  // What the simulated controller at `slot` holds, into the transcript.
  void RecordHoldings(size_t slot, const SimPopulation& population);

  // The number a controller (by ControllerIdentity) already has; 0: none yet.
  int KnownNumberOf(const std::string& identity);

  std::unique_ptr<IClock> m_nativeClock;
  VirtualClock m_virtualClock;
  IClock* m_clock = nullptr;
  std::FILE* m_transcriptFile = nullptr;
  bool m_ownTranscriptFile = false;
  std::unique_ptr<Transcript> m_transcript;
  std::unique_ptr<ISystem> m_nativeSystem;
  std::unique_ptr<RecordingSystem> m_recordingSystem;
  ISystem* m_system = nullptr;
  std::unique_ptr<SimHidBus> m_simBus;
  // The simulated controllers, one per place. A stream changes them from any
  // thread, under the lock, while m_streamOpen.
  std::mutex m_populationsLock;
  std::vector<SimPopulation> m_populations;
  bool m_streamOpen = true;
  bool m_several = false;
  std::mutex m_numbersLock;
  std::vector<std::string> m_numbered;  // controllers (by location, else path) in number order
  std::unique_ptr<IHidBus> m_nativeBus;
  std::unique_ptr<HeldEnumerationBus> m_heldBus;
  bool m_holdEnumeration = false;
  std::unique_ptr<RecordingHidBus> m_recordingBus;
  bool m_redacted = false;
  IHidBus* m_bus = nullptr;
  std::unique_ptr<TranscriptWindowObserver> m_transcriptObserver;
  std::unique_ptr<TranscriptUpdateObserver> m_transcriptUpdates;
};

// Hands each update step and outcome to several observers, in order.
class UpdateObserverFanOut final : public IUpdateObserver {
 public:
  void Add(IUpdateObserver* observer) {
    if (observer) m_observers.push_back(observer);
  }
  void OnUpdateStep(const UpdateProgress& progress) override {
    for (auto* o : m_observers) o->OnUpdateStep(progress);
  }
  void OnUpdateOutcome(const UpdateOutcome& outcome) override {
    for (auto* o : m_observers) o->OnUpdateOutcome(outcome);
  }

 private:
  std::vector<IUpdateObserver*> m_observers;
};

}  // namespace tarvik
