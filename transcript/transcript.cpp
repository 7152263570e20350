#include "transcript/transcript.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "base/bytes.h"
#include "device/chid.h"
#include "texts/reason_texts.h"
#include "transcript/redaction.h"

namespace tarvik {

using json = nlohmann::ordered_json;

Transcript::Transcript(IClock& clock, std::FILE* out)
    : m_clock(clock), m_out(out), m_startMs(clock.NowMs()) {}

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Bytes written as they are inside a JSON string: printable ASCII but " and \.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[static_cast<size_t>(c)] = c != '"' && c != '\\';
  return plain;
}();

// Each byte's two hex digits.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  std::array<std::array<char, 2>, 256> pairs{};
  for (size_t b = 0; b < 256; ++b) pairs[b] = {kHexDigits[b >> 4], kHexDigits[b & 0x0F]};
  return pairs;
}();

// Writes `size` bytes as lowercase hex digits at `out`, four bytes at a time:
// each byte's two nibbles spread into bytes of one word in output order, and
// turned into digits together.
char* PutHex(char* out, const uint8_t* bytes, size_t size) {
  static_assert(std::endian::native == std::endian::little, "the digits are gathered in a little-endian word");
  constexpr uint64_t kLowNibbles = 0x0F0F0F0F0F0F0F0FULL;
  size_t i = 0;
  for (; i + 4 <= size; i += 4, out += 8) {
    uint32_t four;
    std::memcpy(&four, bytes + i, 4);
    uint64_t x = four;
    x = (x | (x << 16)) & 0x0000FFFF0000FFFFULL;
    x = (x | (x << 8)) & 0x00FF00FF00FF00FFULL;  // byte k in the word's byte 2k
    const uint64_t nibbles = ((x >> 4) & kLowNibbles) | ((x & kLowNibbles) << 8);
    // 10..15 carry into bit 4 when 6 is added: those take 'a' - '0' - 10 more.
    const uint64_t letters = ((nibbles + 0x0606060606060606ULL) >> 4) & 0x0101010101010101ULL;
    const uint64_t digits = nibbles + 0x3030303030303030ULL + letters * ('a' - '0' - 10);
    std::memcpy(out, &digits, 8);
  }
  for (; i < size; ++i, out += 2) std::memcpy(out, kHexPairs[bytes[i]].data(), 2);
  return out;
}

char* Put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Whether the eight bytes at `p` are all plain (kPlain). A zero byte of v
// shows as its top bit in (v - ones) & ~v (and a byte below 0x20 likewise after
// subtracting 0x20 from each): exact for "any", which is all this asks.
bool EightPlain(const char* p) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kTops = 0x8080808080808080ULL;
  uint64_t w;
  std::memcpy(&w, p, 8);
  const auto anyZero = [](uint64_t v) { return (v - kOnes) & ~v & kTops; };
  const uint64_t notPlain = (w & kTops) | ((w - kOnes * 0x20) & ~w & kTops) | anyZero(w ^ (kOnes * '"')) |
                            anyZero(w ^ (kOnes * '\\'));
  return notPlain == 0;
}

// Writes `text` as a JSON string, as the JSON library writes it, at `out`
// (room for 2 + 6 x its size): control characters, " and \ escaped. Returns
// nullptr, having written some of it, for text with bytes outside ASCII.
char* PutAsciiJsonString(char* out, std::string_view text) {
  *out++ = '"';
  const char* plain = text.data();  // start of the characters not yet written
  const char* const end = text.data() + text.size();
  for (const char* p = plain; p != end; ++p) {
    // Eight plain characters at a time, the usual case.
    while (end - p >= 8 && EightPlain(p)) p += 8;
    if (p == end) break;
    const auto c = static_cast<unsigned char>(*p);
    if (kPlain[c]) continue;
    if (c >= 0x80) return nullptr;
    out = Put(out, std::string_view(plain, static_cast<size_t>(p - plain)));
    plain = p + 1;
    *out++ = '\\';
    switch (c) {
      case '"': *out++ = '"'; break;
      case '\\': *out++ = '\\'; break;
      case '\b': *out++ = 'b'; break;
      case '\f': *out++ = 'f'; break;
      case '\n': *out++ = 'n'; break;
      case '\r': *out++ = 'r'; break;
      case '\t': *out++ = 't'; break;
      default:
        out = Put(out, "u00");
        *out++ = kHexDigits[c >> 4];
        *out++ = kHexDigits[c & 0x0F];
    }
  }
  out = Put(out, std::string_view(plain, static_cast<size_t>(end - plain)));
  *out++ = '"';
  return out;
}

}  // namespace

void Transcript::Record(const json& event) {
  // Texts that are not valid UTF-8 are written with replacement characters, never dropped.
  const std::string body = event.dump(-1, ' ', false, json::error_handler_t::replace);
  {
    std::lock_guard<std::mutex> lock(m_lock);
    // "t" first, then the event's own fields.
    char* out = PutTime(Reserve(32 + body.size()));
    if (body.size() > 2) {
      *out++ = ',';
      out = Put(out, std::string_view(body).substr(1));
    } else {
      *out++ = '}';
    }
    *out++ = '\n';
    m_used = static_cast<size_t>(out - m_block.data());
  }
  // An attempt's outcome ends a block: what happened up to it is on disk.
  if (const auto ev = event.find("ev"); ev != event.end() && *ev == "outcome") Flush();
}

char* Transcript::PutTime(char* out) {
  out = Put(out, "{\"t\":");
  return std::to_chars(out, out + 20, m_clock.NowMs() - m_startMs).ptr;
}

char* Transcript::Reserve(size_t room) {
  if (m_block.size() - m_used < room) {
    WriteBlock();
    // Grown, never shrunk: most lines need no new room, and none is filled first.
    if (m_block.size() < room) m_block.resize(std::max(room, kBlockSize));
  }
  return m_block.data() + m_used;
}

void Transcript::WriteBlock() {
  if (m_used > 0) std::fwrite(m_block.data(), 1, m_used, m_out);
  m_used = 0;
}

char* Transcript::BeginLine(std::string_view ev, std::string_view key, size_t valueRoom) {
  // "t", the event's name and key (the transcript's own: letters only), the
  // value, "dev": the line is written in place. Beside the names and the
  // value it takes at most 57 bytes (20 digits of "t", 11 of "dev").
  char* out = PutTime(Reserve(64 + ev.size() + key.size() + valueRoom));
  out = Put(out, ",\"ev\":\"");
  out = Put(out, ev);
  out = Put(out, "\",\"");
  out = Put(out, key);
  return Put(out, "\":");
}

void Transcript::EndLine(char* out, int dev) {
  if (dev != 0) {
    out = Put(out, ",\"dev\":");
    out = std::to_chars(out, out + 11, dev).ptr;
  }
  out = Put(out, "}\n");
  m_used = static_cast<size_t>(out - m_block.data());
}

void Transcript::RecordText(std::string_view ev, std::string_view key, std::string_view text, int dev) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (char* out = PutAsciiJsonString(BeginLine(ev, key, 2 + 6 * text.size()), text)) {
    EndLine(out, dev);
    return;
  }
  // Texts that are not valid UTF-8 are written with replacement characters, never dropped.
  const std::string value = json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
  EndLine(Put(BeginLine(ev, key, value.size()), value), dev);
}

void Transcript::RecordHex(std::string_view ev, std::string_view key, const uint8_t* bytes, size_t size, int dev) {
  std::lock_guard<std::mutex> lock(m_lock);
  char* out = BeginLine(ev, key, 2 + 2 * size);
  *out++ = '"';
  out = PutHex(out, bytes, size);
  *out++ = '"';
  EndLine(out, dev);
}

void Transcript::Flush() {
  std::lock_guard<std::mutex> lock(m_lock);
  WriteBlock();
  std::fflush(m_out);
}

nlohmann::ordered_json OutcomeJson(const UpdateOutcome& outcome) {
  nlohmann::ordered_json event = {{"ev", "outcome"}, {"result", OutcomeName(outcome.result)}};
  // In English, as every recording has it, whatever the run speaks.
  if (!outcome.reason.Empty()) event["reason"] = EnglishReasonText(outcome.reason);
  event["bytesSent"] = outcome.bytesSent;
  event["payloadTotal"] = outcome.payloadTotal;
  event["from"] = outcome.controllerVersion;
  event["to"] = outcome.imageVersion;
  event["seconds"] = outcome.seconds;
  // The default pace goes unsaid, so that recordings of it read as before.
  if (outcome.pace != BootPace::kParts) event["pace"] = PaceName(outcome.pace);
  // An image without a signature file goes unsaid too.
  if (outcome.signature && outcome.signature->status != SignatureStatus::kUnsigned) {
    event["signature"] = SignatureStatusName(outcome.signature->status);
    if (!outcome.signature->keyId.empty()) event["keyId"] = outcome.signature->keyId;
  }
  return event;
}

void TranscriptUpdateObserver::OnUpdateOutcome(const UpdateOutcome& outcome) {
  nlohmann::ordered_json event = OutcomeJson(outcome);
  if (m_dev != 0) event["dev"] = m_dev;
  m_transcript.Record(event);
}

void TranscriptWindowObserver::OnTitle(const std::string& text) {
  m_transcript.Record({{"ev", "title"}, {"text", text}});
}

void TranscriptWindowObserver::OnItemText(int id, const std::string& text) {
  m_transcript.Record({{"ev", "text"}, {"id", id}, {"text", text}});
}

void TranscriptWindowObserver::OnEnable(int id, bool on) {
  m_transcript.Record({{"ev", "enable"}, {"id", id}, {"on", on}});
}

void TranscriptWindowObserver::OnShow(int id, bool on) {
  m_transcript.Record({{"ev", "show"}, {"id", id}, {"on", on}});
}

void TranscriptWindowObserver::OnProgressRange(int low, int high) {
  m_transcript.Record({{"ev", "range"}, {"lo", low}, {"hi", high}});
}

void TranscriptWindowObserver::OnProgressPos(int pos) {
  m_transcript.Record({{"ev", "progress"}, {"pos", pos}});
}

void TranscriptWindowObserver::OnMessageBox(const std::string& text,
                                            const std::optional<std::string>& caption,
                                            MsgBoxButtons buttons, MsgBoxAnswer answer) {
  m_transcript.Record({{"ev", "msgbox"},
                       {"text", text},
                       {"caption", caption ? json(*caption) : json(nullptr)},
                       {"buttons", buttons == MsgBoxButtons::kOk ? "ok" : "okcancel"},
                       {"answer", answer == MsgBoxAnswer::kOk ? "ok" : "cancel"}});
}

void TranscriptWindowObserver::OnFileDialog(const FileDialogRequest& request,
                                            const std::optional<std::string>& answer) {
  json types = json::array();
  for (const FileType& type : request.types) types.push_back({{"label", type.label}, {"pattern", type.pattern}});
  m_transcript.Record({{"ev", "filedialog"},
                       {"types", std::move(types)},
                       {"dir", request.initialDirectory},
                       {"answer", answer ? json(*answer) : json(nullptr)}});
}

void TranscriptWindowObserver::OnTimer(uintptr_t id, bool on) {
  m_transcript.Record({{"ev", "timer"}, {"id", id}, {"on", on}});
}

// A transcript names a device change by the event number the Windows
// window gets for it, as transcripts always have.
uint32_t DeviceEventNumber(DeviceChange change) {
  switch (change) {
    case DeviceChange::kArrival:
      return 0x8000;
    case DeviceChange::kRemoval:
      return 0x8004;
    case DeviceChange::kNodesChanged:
      return 0x0007;
  }
  return 0;
}

void TranscriptWindowObserver::OnDeviceEvent(DeviceChange change) {
  m_transcript.Record({{"ev", "device"}, {"event", DeviceEventNumber(change)}});
}

HidHandle RecordingHidBus::Open(const std::string& path, HidOpenMode mode) {
  const HidHandle handle = m_inner.Open(path, mode);
  if (handle != kInvalidHidHandle) {
    std::lock_guard<std::mutex> lock(m_devicesLock);
    m_paths[handle] = path;
  }
  if (handle != kInvalidHidHandle && m_numberOf) {
    if (const int number = m_numberOf(path); number != 0) {
      std::lock_guard<std::mutex> lock(m_numbersLock);
      m_numbers[handle] = number;
    }
  }
  return handle;
}

bool RecordingHidBus::GetAttributes(HidHandle handle, HidAttributes& out) {
  if (!m_inner.GetAttributes(handle, out)) return false;
  std::lock_guard<std::mutex> lock(m_devicesLock);
  const auto path = m_paths.find(handle);
  if (path != m_paths.end() && m_idsRecorded.insert(path->second).second) {
    m_transcript.Record({{"ev", "ids"}, {"path", path->second}, {"vid", out.vendorId}, {"pid", out.productId}});
  }
  return true;
}

void RecordingHidBus::Close(HidHandle handle) {
  {
    std::lock_guard<std::mutex> lock(m_devicesLock);
    m_paths.erase(handle);
  }
  if (m_numberOf) {
    std::lock_guard<std::mutex> lock(m_numbersLock);
    m_numbers.erase(handle);
  }
  m_inner.Close(handle);
}

int RecordingHidBus::NumberOf(HidHandle handle) {
  if (!m_numberOf) return 0;
  std::lock_guard<std::mutex> lock(m_numbersLock);
  const auto number = m_numbers.find(handle);
  return number == m_numbers.end() ? 0 : number->second;
}

void RecordingHidBus::RecordReport(std::string_view ev, HidHandle handle, const uint8_t* report, size_t size) {
  const int dev = NumberOf(handle);
  if (m_redacted) {
    const std::vector<uint8_t> original(report, report + size);
    std::vector<uint8_t> kept = original;
    if (ev == "out" && RedactOutputReport(kept)) {
      json line = {{"ev", "out"}, {"hex", ToHex(kept.data(), kept.size())}, {"digest", ReportDigest(original)}};
      if (dev != 0) line["dev"] = dev;
      m_transcript.Record(line);
      return;
    }
    if (ev == "in" && RedactInputReport(kept)) {
      m_transcript.RecordHex(ev, "hex", kept.data(), kept.size(), dev);
      return;
    }
  }
  m_transcript.RecordHex(ev, "hex", report, size, dev);
}

void RecordingHidBus::RecordFailure(HidHandle handle, json event) {
  if (const int dev = NumberOf(handle); dev != 0) event["dev"] = dev;
  m_transcript.Record(event);
}

std::vector<HidDeviceInfo> RecordingHidBus::EnumerateDevices() {
  std::vector<HidDeviceInfo> devices = m_inner.EnumerateDevices();
  const auto same = [](const HidDeviceInfo& a, const HidDeviceInfo& b) {
    return a.path == b.path && a.idsKnown == b.idsKnown && a.vendorId == b.vendorId && a.productId == b.productId &&
           a.location == b.location && a.serial == b.serial;
  };
  std::lock_guard<std::mutex> lock(m_devicesLock);
  if (m_devices && std::equal(devices.begin(), devices.end(), m_devices->begin(), m_devices->end(), same)) {
    return devices;
  }
  json list = json::array();
  for (const HidDeviceInfo& device : devices) {
    json entry = {{"path", device.path}};
    if (device.idsKnown) {
      entry["vid"] = device.vendorId;
      entry["pid"] = device.productId;
    }
    if (!device.location.empty()) entry["location"] = device.location;
    if (!device.serial.empty()) entry["serial"] = m_redacted ? RedactText(device.serial) : device.serial;
    if (const int dev = m_knownNumberOf ? m_knownNumberOf(device.path, device.location) : 0; dev != 0) entry["dev"] = dev;
    list.push_back(std::move(entry));
  }
  m_transcript.Record({{"ev", "bus"}, {"devices", std::move(list)}});
  m_devices = devices;
  return devices;
}

bool RecordingHidBus::WriteReport(HidHandle handle, const uint8_t* report, size_t size) {
  uint64_t takenUs = 0;
  return WriteReportTimed(handle, report, size, takenUs);
}

bool RecordingHidBus::WriteReportTimed(HidHandle handle, const uint8_t* report, size_t size, uint64_t& takenUs) {
  RecordReport("out", handle, report, size);
  const bool written = m_inner.WriteReportTimed(handle, report, size, takenUs);
  if (!written) RecordFailure(handle, {{"ev", "fail"}, {"op", "write"}});
  return written;
}

HidReadResult RecordingHidBus::ReadReport(HidHandle handle, uint8_t* buffer, size_t size,
                                          uint32_t timeoutMs) {
  const HidReadResult result = m_inner.ReadReport(handle, buffer, size, timeoutMs);
  if (result.status == HidRead::kReport) RecordReport("in", handle, buffer, result.bytes);
  // A failed read is named by the code CHid::ReadHid gives it.
  if (result.status == HidRead::kGone) {
    RecordFailure(handle, {{"ev", "fail"}, {"op", "read"}, {"code", kWaitFailed}});
  }
  return result;
}

void RecordingSystem::Trace(const std::string& line) {
  m_transcript.RecordText("trace", "text", line);
  m_inner.Trace(line);
}

}  // namespace tarvik
