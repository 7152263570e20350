#include "transcript/replay_bus.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <nlohmann/json.hpp>

#include "base/bytes.h"
#include "device/device_table.h"
#include "transcript/redaction.h"

namespace tarvik {

namespace {

using json = nlohmann::json;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::vector<uint8_t>> FromHex(const json& value) {
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes(text.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return bytes;
}

std::string TextField(const json& event, const char* key) {
  const auto found = event.find(key);
  return found != event.end() && found->is_string() ? found->get<std::string>() : std::string();
}

uint64_t NumberField(const json& event, const char* key) {
  const auto found = event.find(key);
  return found != event.end() && found->is_number_unsigned() ? found->get<uint64_t>() : 0;
}

// The product of the device-table row whose report framing the first output
// report has: report ID 0x81 is the numbered packet protocol; after report ID
// 0 and the count byte a packet frame starts with its lead byte 0x00, where a
// boot command has its command.
uint16_t ProductOfFraming(const ReplayRecording::Stream& stream) {
  ReportMode mode = ReportMode::kBootCommand;
  if (!stream.outputs.empty()) {
    const std::vector<uint8_t>& first = stream.outputs.front().bytes;
    if (!first.empty() && first[0] == FramingForMode(ReportMode::kPacketNumbered).firstByte) {
      mode = ReportMode::kPacketNumbered;
    } else if (first.size() > 2 && first[2] == 0x00) {
      mode = ReportMode::kPacket;
    }
  }
  for (const DeviceTableRow& row : kDeviceTable) {
    if (row.mode == mode) return row.productId;
  }
  return 0;
}

std::string IdentityOf(const HidDeviceInfo& device) {
  return device.location.empty() ? device.path : "at " + device.location;
}

}  // namespace

std::optional<ReplayRecording> ReplayRecording::Parse(std::string_view text, std::string& error) {
  ReplayRecording recording;
  std::map<int, std::pair<size_t, uint64_t>> lastOut;  // each controller's last output report: line, time
  size_t lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (line.empty() || line == "\r") continue;
    const json event = json::parse(line, nullptr, false);
    const auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(lineNumber) + " of the transcript " + what;
      return std::nullopt;
    };
    if (!event.is_object()) return fail("is not a JSON object");
    const std::string ev = TextField(event, "ev");
    const uint64_t t = NumberField(event, "t");
    const int dev = static_cast<int>(NumberField(event, "dev"));
    if (ev == "out" || ev == "in") {
      std::optional<std::vector<uint8_t>> bytes = FromHex(event.contains("hex") ? event["hex"] : json());
      if (!bytes) return fail("has no report in hex");
      Stream& stream = recording.streams[dev];
      if (ev == "out") {
        stream.outputs.push_back({std::move(*bytes), false, TextField(event, "digest"), t, lineNumber, {}});
        lastOut[dev] = {lineNumber, t};
      } else {
        (stream.outputs.empty() ? stream.before : stream.outputs.back().after)
            .push_back({std::move(*bytes), false, t, lineNumber});
      }
    } else if (ev == "fail") {
      Stream& stream = recording.streams[dev];
      const std::string op = TextField(event, "op");
      if (op == "write" && !stream.outputs.empty()) {
        stream.outputs.back().writeFailed = true;
      } else if (op == "read") {
        (stream.outputs.empty() ? stream.before : stream.outputs.back().after).push_back({{}, true, t, lineNumber});
      }
    } else if (ev == "bus") {
      const auto devices = event.find("devices");
      if (devices == event.end() || !devices->is_array()) return fail("has no list of devices");
      BusState state;
      state.t = t;
      state.after = lastOut;
      for (const json& d : *devices) {
        if (!d.is_object() || TextField(d, "path").empty()) return fail("has a device without a path");
        HidDeviceInfo info;
        info.path = TextField(d, "path");
        info.vendorId = static_cast<uint16_t>(NumberField(d, "vid"));
        info.productId = static_cast<uint16_t>(NumberField(d, "pid"));
        info.idsKnown = d.contains("vid");
        info.location = TextField(d, "location");
        info.serial = TextField(d, "serial");
        if (const int number = static_cast<int>(NumberField(d, "dev")); number != 0) {
          recording.devs[IdentityOf(info)] = number;
        }
        state.devices.push_back(std::move(info));
      }
      recording.bus.push_back(std::move(state));
    } else if (ev == "ids") {
      HidAttributes& ids = recording.ids[TextField(event, "path")];
      ids.vendorId = static_cast<uint16_t>(NumberField(event, "vid"));
      ids.productId = static_cast<uint16_t>(NumberField(event, "pid"));
    } else if (ev == "outcome") {
      const std::string reason = TextField(event, "reason");
      recording.outcome = TextField(event, "result") + (reason.empty() ? "" : ": " + reason);
    }
  }
  recording.lines = lineNumber;
  if (recording.bus.empty()) {
    // Cut down to its reports: the controllers are made up, one per number.
    BusState state;
    for (const auto& [dev, stream] : recording.streams) {
      HidDeviceInfo info;
      const std::string name = "replay-" + std::to_string(dev == 0 ? 1 : dev);
      info.path = name;
      info.location = name;
      info.vendorId = kDeviceTable.front().vendorId;
      info.productId = ProductOfFraming(stream);
      info.idsKnown = true;
      state.devices.push_back(std::move(info));
    }
    recording.bus.push_back(std::move(state));
  }
  return recording;
}

std::string MarkDifferences(const std::string& expectedHex, const std::string& actualHex) {
  std::string marks;
  const size_t length = std::max(expectedHex.size(), actualHex.size());
  for (size_t i = 0; i + 1 < length; i += 2) {
    const bool same = i + 1 < expectedHex.size() && i + 1 < actualHex.size() &&
                      expectedHex.compare(i, 2, actualHex, i, 2) == 0;
    marks += same ? "  " : "^^";
  }
  marks.erase(marks.find_last_not_of(' ') + 1);
  return marks;
}

std::string ReplayDivergence::Describe() const {
  const std::string controller = dev == 0 ? "the controller" : "controller " + std::to_string(dev);
  std::string text;
  if (!expected) {
    text = "the replay diverged: the engine sent " + controller + " an output report the recording does not have\n";
  } else if (!actual) {
    text = "the replay diverged: the engine stopped where the recording goes on, at line " + std::to_string(line) +
           " (" + controller + "'s output report " + std::to_string(report) + ")\n";
  } else {
    text = "the replay diverged at line " + std::to_string(line) + " of the recording (" + controller +
           "'s output report " + std::to_string(report) + ")\n";
  }
  const std::string expectedHex = expected ? ToHex(expected->data(), expected->size()) : "";
  const std::string actualHex = actual ? ToHex(actual->data(), actual->size()) : "";
  text += "  recorded: " + (expected ? expectedHex : "(nothing)") + "\n";
  text += "  sent:     " + (actual ? actualHex : "(nothing)") + "\n";
  if (expected && actual) text += "            " + MarkDifferences(expectedHex, actualHex) + "\n";
  if (redacted) text += "  (the image's bytes are redacted in the recording: they are compared by their SHA-256)\n";
  text += "  before it " + std::to_string(matched) + " output report" + (matched == 1 ? "" : "s") +
          " went as recorded";
  if (lastMatchedLine != 0) text += " (the last at line " + std::to_string(lastMatchedLine) + ")";
  if (!recordedOutcome.empty()) text += "; the recorded update ended " + recordedOutcome;
  return text;
}

ReplayBus::ReplayBus(ReplayRecording recording, IClock& clock)
    : m_recording(std::move(recording)), m_clock(clock), m_startMs(clock.NowMs()) {
  for (const auto& [dev, stream] : m_recording.streams) {
    Playback& playback = m_playbacks[dev];
    playback.dev = dev;
    playback.stream = &stream;
    for (const ReplayRecording::Input& input : stream.before) {
      playback.queue.push_back({input.bytes, input.readFailed, m_startMs + input.t});
    }
    m_numbered = m_numbered || dev != 0;
  }
  // The numbers the transcript gives; where it gives none, the command
  // line's way: those present at the start in bus order, then each newcomer.
  if (m_numbered) {
    m_devOfIdentity = m_recording.devs;
    int last = 0;
    for (const auto& [identity, dev] : m_devOfIdentity) last = std::max(last, dev);
    for (const ReplayRecording::BusState& state : m_recording.bus) {
      for (const HidDeviceInfo& device : state.devices) {
        if (IsController(device) && m_devOfIdentity.emplace(IdentityOf(device), last + 1).second) ++last;
      }
    }
  }
  // Each device's comings and goings, from one bus state to the next.
  for (size_t state = 0; state < m_recording.bus.size(); ++state) {
    std::map<std::string, const HidDeviceInfo*> here;
    for (const HidDeviceInfo& device : m_recording.bus[state].devices) {
      here[device.path] = &device;
      if (std::find(m_order.begin(), m_order.end(), device.path) == m_order.end()) m_order.push_back(device.path);
      if (state == 0) m_present[device.path] = device;
    }
    if (state == 0) continue;
    for (const HidDeviceInfo& device : m_recording.bus[state - 1].devices) {
      if (here.count(device.path) == 0) AddChange(device, false, state);
    }
    for (const auto& [path, device] : here) {
      const std::vector<HidDeviceInfo>& before = m_recording.bus[state - 1].devices;
      const bool was =
          std::any_of(before.begin(), before.end(), [&p = path](const HidDeviceInfo& d) { return d.path == p; });
      if (!was) AddChange(*device, true, state);
    }
  }
}

std::optional<HidAttributes> ReplayBus::IdsOf(const HidDeviceInfo& device) const {
  if (device.idsKnown) return HidAttributes{device.vendorId, device.productId, 0};
  const auto recorded = m_recording.ids.find(device.path);
  if (recorded == m_recording.ids.end()) return std::nullopt;
  return recorded->second;
}

bool ReplayBus::IsController(const HidDeviceInfo& device) const {
  const std::optional<HidAttributes> ids = IdsOf(device);
  return ids && FindDeviceTableRow(ids->vendorId, ids->productId) != nullptr;
}

int ReplayBus::DevOf(const HidDeviceInfo& device) const {
  if (!IsController(device)) return -1;
  if (!m_numbered) return 0;
  const auto found = m_devOfIdentity.find(IdentityOf(device));
  return found == m_devOfIdentity.end() ? -1 : found->second;
}

ReplayBus::Playback* ReplayBus::PlaybackOf(const HidDeviceInfo& device) {
  const auto playback = m_playbacks.find(DevOf(device));
  return playback == m_playbacks.end() ? nullptr : &playback->second;
}

void ReplayBus::AddChange(const HidDeviceInfo& device, bool present, size_t state) {
  std::vector<Change>& changes = m_changes[device.path];
  Change change{device, present, state, 0, 0};
  const std::map<int, std::pair<size_t, uint64_t>>& after = m_recording.bus[state].after;
  if (const auto anchor = after.find(DevOf(device)); anchor != after.end()) change.afterLine = anchor->second.first;
  // The first change after that report comes with it, the next ones as long after it as recorded.
  const auto first = std::find_if(changes.begin(), changes.end(),
                                  [&](const Change& c) { return c.afterLine == change.afterLine; });
  if (change.afterLine != 0 && first != changes.end()) {
    const uint64_t t = m_recording.bus[state].t;
    const uint64_t firstT = m_recording.bus[first->state].t;
    change.delayMs = t > firstT ? t - firstT : 0;
  }
  changes.push_back(std::move(change));
}

std::optional<uint64_t> ReplayBus::DueMs(const Change& change) const {
  if (change.afterLine == 0) return m_startMs + m_recording.bus[change.state].t;
  const auto matched = m_matchedAt.find(change.afterLine);
  if (matched == m_matchedAt.end()) return std::nullopt;
  return matched->second + change.delayMs;
}

void ReplayBus::CatchUp() {
  std::vector<DeviceChange> notices;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    const uint64_t now = m_clock.NowMs();
    for (auto& [path, changes] : m_changes) {
      size_t done = 0;
      for (; done < changes.size(); ++done) {
        const std::optional<uint64_t> dueMs = DueMs(changes[done]);
        if (!dueMs || *dueMs > now) break;
        if (changes[done].present) {
          m_present[path] = changes[done].device;
          notices.push_back(DeviceChange::kArrival);
        } else {
          m_present.erase(path);
          notices.push_back(DeviceChange::kRemoval);
        }
      }
      changes.erase(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(done));
    }
    if (notices.empty()) return;
  }
  m_targets.Post(notices);
}

std::vector<std::string> ReplayBus::EnumerateInterfaces() { return PathsOf(EnumerateDevices()); }

std::vector<HidDeviceInfo> ReplayBus::EnumerateDevices() {
  CatchUp();
  std::lock_guard<std::mutex> lock(m_lock);
  std::vector<HidDeviceInfo> devices;
  for (const std::string& path : m_order) {
    if (const auto present = m_present.find(path); present != m_present.end()) devices.push_back(present->second);
  }
  return devices;
}

HidHandle ReplayBus::Open(const std::string& path, HidOpenMode mode) {
  CatchUp();
  std::lock_guard<std::mutex> lock(m_lock);
  const auto present = m_present.find(path);
  if (present == m_present.end()) return kInvalidHidHandle;
  const HidHandle handle = m_nextHandle++;
  m_handles[handle] = Handle{present->second, mode, PlaybackOf(present->second)};
  return handle;
}

bool ReplayBus::GetAttributes(HidHandle handle, HidAttributes& out) {
  std::lock_guard<std::mutex> lock(m_lock);
  const auto found = m_handles.find(handle);
  if (found == m_handles.end()) return false;
  const std::optional<HidAttributes> ids = IdsOf(found->second.device);
  if (!ids) return false;
  out = *ids;
  return true;
}

ReplayDivergence ReplayBus::AtNextOutput(const Playback& playback) const {
  ReplayDivergence divergence;
  divergence.dev = playback.dev;
  divergence.matched = m_matched;
  divergence.lastMatchedLine = m_lastMatchedLine;
  divergence.recordedOutcome = m_recording.outcome;
  if (playback.next < playback.stream->outputs.size()) {
    const ReplayRecording::Output& expected = playback.stream->outputs[playback.next];
    divergence.line = expected.line;
    divergence.report = playback.next + 1;
    divergence.expected = expected.bytes;
  }
  return divergence;
}

bool ReplayBus::WriteReport(HidHandle handle, const uint8_t* report, size_t size) {
  CatchUp();
  std::lock_guard<std::mutex> lock(m_lock);
  // After a difference the controller is as good as gone: the engine ends its run.
  if (m_divergence) return false;
  const auto found = m_handles.find(handle);
  if (found == m_handles.end() || found->second.mode == HidOpenMode::kReadOverlapped) return false;
  Playback* playback = found->second.playback;
  std::vector<uint8_t> sent(report, report + size);
  if (!playback) {
    // A device the recording has no reports of.
    m_divergence = AtNextOutput(Playback{});
    m_divergence->actual = std::move(sent);
    return false;
  }
  if (playback->next >= playback->stream->outputs.size()) {
    m_divergence = AtNextOutput(*playback);
    m_divergence->actual = std::move(sent);
    return false;
  }
  if (const ReplayRecording::Output& recorded = playback->stream->outputs[playback->next]; !recorded.digest.empty()) {
    // Redacted: the bytes kept, and the image's bytes by their digest.
    std::vector<uint8_t> kept = sent;
    RedactOutputReport(kept);
    if (kept != recorded.bytes || ReportDigest(sent) != recorded.digest) {
      m_divergence = AtNextOutput(*playback);
      m_divergence->actual = std::move(kept);
      m_divergence->redacted = true;
      return false;
    }
  } else if (sent != recorded.bytes) {
    m_divergence = AtNextOutput(*playback);
    m_divergence->actual = std::move(sent);
    return false;
  }
  const ReplayRecording::Output& expected = playback->stream->outputs[playback->next];
  const uint64_t now = m_clock.NowMs();
  ++playback->next;
  ++m_matched;
  m_lastMatchedLine = expected.line;
  m_matchedAt[expected.line] = now;
  // The controller's answers come as long after this report as they did when recorded.
  for (const ReplayRecording::Input& input : expected.after) {
    playback->queue.push_back({input.bytes, input.readFailed, now + (input.t > expected.t ? input.t - expected.t : 0)});
  }
  return !expected.writeFailed;
}

HidReadResult ReplayBus::ReadReport(HidHandle handle, uint8_t* buffer, size_t size, uint32_t timeoutMs) {
  CatchUp();
  std::unique_lock<std::mutex> lock(m_lock);
  const uint64_t deadline = m_clock.NowMs() + timeoutMs;
  for (;;) {
    const auto found = m_handles.find(handle);
    if (found == m_handles.end() || found->second.mode == HidOpenMode::kWriteSync) return {HidRead::kGone, 0};
    if (m_divergence) return {HidRead::kGone, 0};
    Playback* playback = found->second.playback;
    const uint64_t now = m_clock.NowMs();
    // A recorded report comes at its time, and at the latest when the read
    // would time out: the read that got it when recorded had it within its
    // wait. (On a virtual clock that several controllers share, a report's
    // recorded time also holds the other controllers' waits.)
    if (playback && !playback->queue.empty() && (playback->queue.front().dueMs <= now || now >= deadline)) {
      Pending pending = std::move(playback->queue.front());
      playback->queue.erase(playback->queue.begin());
      if (pending.readFailed) return {HidRead::kGone, 0};
      // A recorded report may be empty: its bytes then have no address to copy from.
      const size_t bytes = std::min(size, pending.bytes.size());
      if (bytes > 0) std::memcpy(buffer, pending.bytes.data(), bytes);
      return {HidRead::kReport, bytes};
    }
    if (now >= deadline) return {HidRead::kTimedOut, 0};
    // Nothing recorded is due: the recorded silence, until the next report or the engine's own time-out.
    uint64_t wake = deadline;
    if (playback && !playback->queue.empty()) wake = std::min(wake, playback->queue.front().dueMs);
    lock.unlock();
    if (!m_clock.AdvanceIdleTo(wake)) m_clock.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(wake - now, 10)));
    lock.lock();
  }
}

void ReplayBus::Close(HidHandle handle) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_handles.erase(handle);
}

NotifyHandle ReplayBus::RegisterNotify(IDeviceNotifyTarget& target) { return m_targets.Add(target); }

void ReplayBus::UnregisterNotify(NotifyHandle handle) { m_targets.Remove(handle); }

std::optional<ReplayDivergence> ReplayBus::Verdict() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_divergence) return m_divergence;
  for (const auto& [dev, playback] : m_playbacks) {
    if (playback.next < playback.stream->outputs.size()) return AtNextOutput(playback);
  }
  return std::nullopt;
}

size_t ReplayBus::ReportsMatched() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_matched;
}

}  // namespace tarvik
