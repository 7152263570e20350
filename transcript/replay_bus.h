// A HID bus that plays a transcript's controllers back: the engine's output
// reports are checked against the recorded ones, and the input reports the
// controller sent after each are delivered again, on the recording's timing
// measured on the clock seam (a virtual clock plays them back at once). A
// report that differs ends the replay with the difference as its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/hid_bus.h"
#include "platform/std/notify_targets.h"

namespace tarvik {

// A transcript as the replay reads it: each controller's reports and the bus's
// devices over time. Everything else in the transcript is left out.
struct ReplayRecording {
  // What the controller sent after an output report, or a read that failed
  // outright (the controller left), `t` ms after the start.
  struct Input {
    std::vector<uint8_t> bytes;
    bool readFailed = false;
    uint64_t t = 0;
    size_t line = 0;
  };
  struct Output {
    std::vector<uint8_t> bytes;
    bool writeFailed = false;  // the bus refused the write
    // Redacted: `bytes` has the image's bytes zeroed, and this is the whole report's SHA-256.
    std::string digest;
    uint64_t t = 0;
    size_t line = 0;
    std::vector<Input> after;  // up to the controller's next output report
  };
  // One controller's reports ("dev"; 0 when the transcript numbers none).
  struct Stream {
    std::vector<Input> before;  // input before its first output report
    std::vector<Output> outputs;
  };
  // The devices on the bus from `t` on.
  struct BusState {
    std::vector<HidDeviceInfo> devices;
    uint64_t t = 0;
    // Each controller's ("dev") last output report before it: line and time.
    std::map<int, std::pair<size_t, uint64_t>> after;
  };

  std::map<int, Stream> streams;
  std::vector<BusState> bus;  // in order; empty: the transcript lists no devices
  // The IDs of devices whose enumeration does not tell them, by path, as
  // opening them told them ("ids").
  std::map<std::string, HidAttributes> ids;
  // The controllers' numbers ("dev") the transcript gives them, by where they
  // are plugged in ("at LOCATION"), else by path.
  std::map<std::string, int> devs;
  std::string outcome;        // the last recorded outcome ("failed: why"); empty: none
  size_t lines = 0;

  // Reads the JSON lines `--transcript` writes. A transcript without "bus"
  // lines (one cut down to its reports) gets one controller per "dev", of the
  // product its first output report's framing belongs to. Nothing, with
  // `error` naming the line, when a line is not a transcript's.
  static std::optional<ReplayRecording> Parse(std::string_view text, std::string& error);
};

// Where the engine's reports first differed from the recording.
struct ReplayDivergence {
  size_t line = 0;  // the recording's line of the expected report; 0: the recording had none
  int dev = 0;      // the controller's number in the transcript; 0: none
  size_t report = 0;  // the expected report's place among its controller's output reports (from 1)
  std::optional<std::vector<uint8_t>> expected;  // none: the recording has no further report
  std::optional<std::vector<uint8_t>> actual;    // none: the engine sent nothing more
  bool redacted = false;   // the recording keeps the image's bytes as a digest only (both are shown without them)
  size_t matched = 0;      // output reports that went as recorded before it, all controllers
  size_t lastMatchedLine = 0;
  std::string recordedOutcome;

  // Several lines: where, the recorded and the sent bytes in hex with the
  // differing bytes marked, and how far the engine had gone as recorded.
  std::string Describe() const;
};

// "  ^^" under each differing byte of two hex strings of whole bytes (also
// under the bytes only one of them has); empty when they are the same.
std::string MarkDifferences(const std::string& expectedHex, const std::string& actualHex);

// Calls may come from any thread, as on every bus; controllers numbered in
// the transcript ("dev") play back side by side, each from its own reports.
class ReplayBus final : public IHidBus {
 public:
  ReplayBus(ReplayRecording recording, IClock& clock);

  // Once the engine is done: the first difference, or, when everything it
  // sent was recorded, the recorded output it never sent. Nothing: the run
  // matched the recording to its end.
  std::optional<ReplayDivergence> Verdict();
  size_t ReportsMatched();

  std::vector<std::string> EnumerateInterfaces() override;
  std::vector<HidDeviceInfo> EnumerateDevices() override;
  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  bool GetAttributes(HidHandle handle, HidAttributes& out) override;
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) override;
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size, uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override;
  void UnregisterNotify(NotifyHandle handle) override;

 private:
  static inline const ReplayRecording::Stream kNoReports{};
  struct Pending {
    std::vector<uint8_t> bytes;
    bool readFailed = false;
    uint64_t dueMs = 0;
  };
  struct Playback {
    int dev = 0;
    const ReplayRecording::Stream* stream = &kNoReports;
    size_t next = 0;  // the next recorded output report
    std::vector<Pending> queue;
  };
  struct Handle {
    HidDeviceInfo device;
    HidOpenMode mode = HidOpenMode::kProbeReadWrite;
    Playback* playback = nullptr;  // none: a device the recording has no reports of
  };

  // Carries out the devices' comings and goings whose time has come; sends
  // their notices without the lock held.
  void CatchUp();
  Playback* PlaybackOf(const HidDeviceInfo& device);  // m_lock held
  // A device coming or going, as bus state `state` shows it.
  struct Change {
    HidDeviceInfo device;
    bool present = false;
    size_t state = 0;
    size_t afterLine = 0;  // its controller's last output report before it; 0: none
    uint64_t delayMs = 0;  // after that report's sending
  };
  // When `change` comes: a controller's as soon as its last output report
  // before it is sent, and its further changes after the same report as
  // long after the first as recorded (the time a change was recorded is when
  // an enumeration first saw it, which on a shared clock also holds the
  // other controllers' waits); nothing while that report has not been sent;
  // any other device's at its recorded time. Each device changes on its
  // own, so that controllers replayed side by side wait for none of the
  // others' reports.
  std::optional<uint64_t> DueMs(const Change& change) const;  // m_lock held
  void AddChange(const HidDeviceInfo& device, bool present, size_t state);
  // The device's IDs: enumeration's, else those recorded when it was opened.
  std::optional<HidAttributes> IdsOf(const HidDeviceInfo& device) const;
  bool IsController(const HidDeviceInfo& device) const;
  int DevOf(const HidDeviceInfo& device) const;  // its number in the transcript; -1: none
  // The divergence at `playback`'s next recorded output report (none past
  // its end), with how far the run went; m_lock held.
  ReplayDivergence AtNextOutput(const Playback& playback) const;

  ReplayRecording m_recording;
  IClock& m_clock;
  const uint64_t m_startMs;
  std::mutex m_lock;
  std::map<int, Playback> m_playbacks;
  std::map<std::string, int> m_devOfIdentity;  // controllers by where they are plugged in (else path)
  bool m_numbered = false;                     // the transcript numbers its controllers
  std::vector<std::string> m_order;            // every path, by first appearance
  std::map<std::string, HidDeviceInfo> m_present;       // the devices on the bus now, by path
  std::map<std::string, std::vector<Change>> m_changes;  // each path's changes still to come, in order
  std::map<size_t, uint64_t> m_matchedAt;      // output lines matched, and when
  std::map<HidHandle, Handle> m_handles;
  HidHandle m_nextHandle = 1;
  NotifyTargets m_targets;
  size_t m_matched = 0;
  size_t m_lastMatchedLine = 0;
  std::optional<ReplayDivergence> m_divergence;
};

}  // namespace tarvik
