// A transcript: one JSON object per line, in the order things happened, each
// with "t" (milliseconds since start on the session's clock) and "ev". It
// records reports at the HID bus, the window's operations and the trace.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/clock.h"
#include "platform/headless/headless_window_host.h"
#include "platform/hid_bus.h"
#include "platform/system.h"
#include "update/update_result.h"
#include "update/update_events.h"

namespace tarvik {

class Transcript {
 public:
  // Writes to `out` (not owned, not closed), times relative to now on `clock`.
  // Lines are gathered into blocks of kBlockSize and written a block at a
  // time: each attempt's outcome writes out what is gathered and flushes the
  // file, and so does Flush (the end of the program, Ctrl-C), which must come
  // before `out` is closed.
  Transcript(IClock& clock, std::FILE* out);
  // Lines gathered before they are written: a long flash makes one write per
  // some 900 lines.
  static constexpr size_t kBlockSize = 64 * 1024;
  // Adds "t", writes one line; safe from any thread.
  void Record(const nlohmann::ordered_json& event);
  // The same line as Record({{"ev", ev}, {key, text}}) (with {"dev", dev}
  // after them unless 0), written without building a document: the reports
  // and trace lines of every exchange.
  void RecordText(std::string_view ev, std::string_view key, std::string_view text, int dev = 0);
  // The same with `bytes` as a string of lowercase hex digits.
  void RecordHex(std::string_view ev, std::string_view key, const uint8_t* bytes, size_t size, int dev = 0);
  void Flush();

 private:
  // With m_lock held: a line starting `{"t":N,"ev":<ev>,<key>:` at the end of
  // the block, with room for a value of `valueRoom` bytes after it, which the
  // caller writes at the pointer returned; EndLine adds "dev" unless 0 after
  // the value ending at `out` and ends the line.
  char* BeginLine(std::string_view ev, std::string_view key, size_t valueRoom);
  void EndLine(char* out, int dev);
  // With m_lock held: room for `room` bytes at the end of the block, after
  // writing out what it gathered if they do not fit.
  char* Reserve(size_t room);
  // Writes a line's start, `{"t":N`, at `out` (room for 25 bytes).
  char* PutTime(char* out);
  // With m_lock held: writes what the block gathered to the file.
  void WriteBlock();

  IClock& m_clock;
  std::FILE* m_out;
  uint64_t m_startMs;
  std::mutex m_lock;
  // Lines not yet written, then room: m_used bytes of it are lines. Grown for
  // a line longer than a block, never shrunk, never filled before use.
  std::string m_block;
  size_t m_used = 0;
};

// Every window operation as a transcript event.
class TranscriptWindowObserver final : public IWindowObserver {
 public:
  explicit TranscriptWindowObserver(Transcript& transcript) : m_transcript(transcript) {}
  void OnTitle(const std::string& text) override;
  void OnItemText(int id, const std::string& text) override;
  void OnEnable(int id, bool on) override;
  void OnShow(int id, bool on) override;
  void OnProgressRange(int low, int high) override;
  void OnProgressPos(int pos) override;
  void OnMessageBox(const std::string& text, const std::optional<std::string>& caption,
                    MsgBoxButtons buttons, MsgBoxAnswer answer) override;
  void OnFileDialog(const FileDialogRequest& request,
                    const std::optional<std::string>& answer) override;
  void OnTimer(uintptr_t id, bool on) override;
  void OnDeviceEvent(DeviceChange change) override;

 private:
  Transcript& m_transcript;
};

// An update attempt's outcome as a transcript event: {"ev":"outcome","result":...}.
nlohmann::ordered_json OutcomeJson(const UpdateOutcome& outcome);

// Records each update attempt's outcome, the last event of that attempt; with
// `dev` (not 0) the event carries "dev": the controller's number among several.
class TranscriptUpdateObserver final : public IUpdateObserver {
 public:
  explicit TranscriptUpdateObserver(Transcript& transcript, int dev = 0) : m_transcript(transcript), m_dev(dev) {}
  void OnUpdateStep(const UpdateProgress&) override {}
  void OnUpdateOutcome(const UpdateOutcome& outcome) override;

 private:
  Transcript& m_transcript;
  int m_dev;
};

// A HID bus that records every report written ("out") and received ("in"),
// every write and read that failed ("fail"), the devices on the bus ("bus")
// each time an enumeration finds them changed, and the IDs of a device read
// by opening it ("ids", where enumeration does not tell them): what a replay
// needs to present the controllers again.
class RecordingHidBus final : public IHidBus {
 public:
  RecordingHidBus(IHidBus& inner, Transcript& transcript) : m_inner(inner), m_transcript(transcript) {}
  // With several controllers: the number ("dev") the reports of each path
  // carry, 0 for none. Set before any handle is opened.
  // `knownNumberOf` tells, without giving one, the number a device (path,
  // location) already has, 0 for none: the "bus" event names it ("dev").
  void SetDeviceNumbering(std::function<int(const std::string& path)> numberOf,
                          std::function<int(const std::string& path, const std::string& location)> knownNumberOf = {}) {
    m_numberOf = std::move(numberOf);
    m_knownNumberOf = std::move(knownNumberOf);
  }
  // Redacted (transcript/redaction.h): output reports without the image's
  // bytes, with the SHA-256 of the whole report ("digest") instead; input
  // reports with a stand-in for the controller's UID; serial numbers as
  // digests. Set before the first report.
  void SetRedacted(bool redacted) { m_redacted = redacted; }
  std::vector<std::string> EnumerateInterfaces() override { return m_inner.EnumerateInterfaces(); }
  std::vector<HidDeviceInfo> EnumerateDevices() override;
  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  bool GetAttributes(HidHandle handle, HidAttributes& out) override;
  bool WriteReport(HidHandle handle, const uint8_t* report, size_t size) override;
  bool WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) override;
  HidReadResult ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                           uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  NotifyHandle RegisterNotify(IDeviceNotifyTarget& target) override {
    return m_inner.RegisterNotify(target);
  }
  void UnregisterNotify(NotifyHandle handle) override { m_inner.UnregisterNotify(handle); }

 private:
  void RecordReport(std::string_view ev, HidHandle handle, const uint8_t* report, size_t size);
  int NumberOf(HidHandle handle);
  void RecordFailure(HidHandle handle, nlohmann::ordered_json event);

  IHidBus& m_inner;
  Transcript& m_transcript;
  std::function<int(const std::string&)> m_numberOf;
  std::function<int(const std::string&, const std::string&)> m_knownNumberOf;
  bool m_redacted = false;
  std::mutex m_numbersLock;
  std::map<HidHandle, int> m_numbers;  // open handles of numbered controllers
  std::mutex m_devicesLock;
  std::optional<std::vector<HidDeviceInfo>> m_devices;  // as last recorded
  std::map<HidHandle, std::string> m_paths;             // open handles
  std::set<std::string> m_idsRecorded;                  // paths whose "ids" are recorded
};

// A system seam that also records each trace line.
class RecordingSystem final : public ISystem {
 public:
  RecordingSystem(ISystem& inner, Transcript& transcript) : m_inner(inner), m_transcript(transcript) {}
  uint16_t InterfaceLanguage() override { return m_inner.InterfaceLanguage(); }
  LocalTime LocalTimeNow() override { return m_inner.LocalTimeNow(); }
  std::string CurrentDirectory() override { return m_inner.CurrentDirectory(); }
  uint32_t LastErrorCode() override { return m_inner.LastErrorCode(); }
  void Trace(const std::string& line) override;
  bool TraceReceived() override { return true; }  // the transcript keeps every line
  std::string StringTableEntry(uint16_t id) override { return m_inner.StringTableEntry(id); }
  std::unique_ptr<IThread> StartThread(std::function<void()> body) override {
    return m_inner.StartThread(std::move(body));
  }
  IClock& Clock() override { return m_inner.Clock(); }
  std::vector<std::string> TrustedKeyTexts() override { return m_inner.TrustedKeyTexts(); }

 private:
  ISystem& m_inner;
  Transcript& m_transcript;
};

}  // namespace tarvik
