// The transcript reader (tarvik-update-cli --replay FILE) on arbitrary bytes,
// then a replay of what it read. The replay runs an update session on the
// replay bus and a virtual clock. It writes the image that the corpus
// transcripts carry.
//
// Checks: a refusal names a line of the text. What the reader takes, written
// out again as a recording writes transcripts, reads back as the same
// recording. The replay's verdict agrees with the recording. A difference
// names a recorded output report by its line and place. A replay without one
// matched every recorded output report.
//
// The seeds are transcripts of tarvik-update-cli flashing SeedImage on the
// simulator, in each protocol and with some of its faults. Each is named by
// its case. The plainest one was made so:
//   tarvik-update-cli --simulate boot --sim clock=virtual --transcript T flash --yes fw.dat
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/bytes.h"
#include "fuzz/fuzz_support.h"
#include "platform/std/virtual_clock.h"
#include "session/update_session.h"
#include "tests/support/image_builder.h"
#include "tests/support/session_rig.h"
#include "transcript/replay_bus.h"
#include "transcript/transcript.h"

using namespace tarvik;
using json = nlohmann::ordered_json;
using Recording = ReplayRecording;

namespace {

// Version 1.31, one main-mcu record of 200 bytes: both protocols take it.
test::Bytes SeedImage() { return test::Record(131, 0x08004000, test::Payload(200, 7)); }

// A clock set to each line's time before the line is written.
class LineClock final : public IClock {
 public:
  uint64_t now = 0;
  uint64_t NowMs() override { return now; }
  void SleepMs(uint32_t) override {}
};

// The lines `text` has, the last one also without its newline.
size_t LineCount(std::string_view text) {
  const size_t newlines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  return newlines + (text.empty() || text.back() == '\n' ? 0 : 1);
}

std::string IdentityOf(const HidDeviceInfo& device) {
  return device.location.empty() ? device.path : "at " + device.location;
}

// One line of a rewritten transcript: an input, an output report or a bus
// state, in the slot of the old line it goes after.
struct Event {
  size_t slot = 0;
  int dev = 0;
  const Recording::Input* input = nullptr;
  const Recording::Output* output = nullptr;
  const Recording::BusState* bus = nullptr;
};

json WithDev(json line, int dev) {
  if (dev != 0) line["dev"] = dev;
  return line;
}

json BusLine(const Recording& recording, const Recording::BusState& state) {
  json devices = json::array();
  for (const HidDeviceInfo& d : state.devices) {
    json entry = {{"path", d.path}};
    if (d.idsKnown) {
      entry["vid"] = d.vendorId;
      entry["pid"] = d.productId;
    }
    if (!d.location.empty()) entry["location"] = d.location;
    if (!d.serial.empty()) entry["serial"] = d.serial;
    if (const auto n = recording.devs.find(IdentityOf(d)); n != recording.devs.end()) entry["dev"] = n->second;
    devices.push_back(std::move(entry));
  }
  return {{"ev", "bus"}, {"devices", std::move(devices)}};
}

// `recording` written out as RecordingHidBus writes a transcript. Each input
// and output report goes where its line was, and `lineOf` maps each old line
// to its new one. A bus state goes right after the last output report it
// follows.
std::string Rewritten(const Recording& recording, std::map<size_t, size_t>& lineOf) {
  std::vector<Event> events;
  for (const auto& [dev, stream] : recording.streams) {
    for (const Recording::Input& in : stream.before) events.push_back({in.line, dev, &in, nullptr, nullptr});
    for (const Recording::Output& out : stream.outputs) {
      events.push_back({out.line, dev, nullptr, &out, nullptr});
      for (const Recording::Input& in : out.after) events.push_back({in.line, dev, &in, nullptr, nullptr});
    }
  }
  for (const Recording::BusState& state : recording.bus) {
    size_t last = 0;
    for (const auto& [dev, where] : state.after) last = std::max(last, where.first);
    events.push_back({last, 0, nullptr, nullptr, &state});
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.slot < b.slot; });

  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* file = open_memstream(&buffer, &size);
  if (file == nullptr) std::abort();
  LineClock clock;
  Transcript transcript(clock, file);
  size_t written = 0;
  const auto record = [&](uint64_t t, const json& line) {
    clock.now = t;
    transcript.Record(line);
    ++written;
  };
  const auto recordHex = [&](uint64_t t, const char* ev, const std::vector<uint8_t>& bytes, int dev) {
    clock.now = t;
    transcript.RecordHex(ev, "hex", bytes.data(), bytes.size(), dev);
    ++written;
  };
  for (const Event& e : events) {
    if (e.input != nullptr) {
      lineOf[e.input->line] = written + 1;
      if (e.input->readFailed) {
        record(e.input->t, WithDev({{"ev", "fail"}, {"op", "read"}}, e.dev));
      } else {
        recordHex(e.input->t, "in", e.input->bytes, e.dev);
      }
    } else if (e.output != nullptr) {
      const Recording::Output& out = *e.output;
      lineOf[out.line] = written + 1;
      if (out.digest.empty()) {
        recordHex(out.t, "out", out.bytes, e.dev);
      } else {
        record(out.t, WithDev({{"ev", "out"}, {"hex", ToHex(out.bytes.data(), out.bytes.size())}, {"digest", out.digest}},
                              e.dev));
      }
      if (out.writeFailed) record(out.t, WithDev({{"ev", "fail"}, {"op", "write"}}, e.dev));
    } else {
      record(e.bus->t, BusLine(recording, *e.bus));
    }
  }
  for (const auto& [path, ids] : recording.ids) {
    record(0, {{"ev", "ids"}, {"path", path}, {"vid", ids.vendorId}, {"pid", ids.productId}});
  }
  if (!recording.outcome.empty()) record(0, {{"ev", "outcome"}, {"result", recording.outcome}});
  transcript.Flush();
  std::fclose(file);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

// The new line of `line`; 0 for a line that was not moved.
size_t Moved(const std::map<size_t, size_t>& lineOf, size_t line) {
  const auto found = lineOf.find(line);
  return found == lineOf.end() ? 0 : found->second;
}

bool SameInput(const Recording::Input& a, const Recording::Input& b, const std::map<size_t, size_t>& lineOf) {
  return a.bytes == b.bytes && a.readFailed == b.readFailed && a.t == b.t && Moved(lineOf, a.line) == b.line;
}

bool SameInputs(const std::vector<Recording::Input>& a, const std::vector<Recording::Input>& b,
                const std::map<size_t, size_t>& lineOf) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](const auto& x, const auto& y) { return SameInput(x, y, lineOf); });
}

// IDs count only where they are known: a device listed without "vid" is
// asked for them, and its "pid" alone is never used.
bool SameDevice(const HidDeviceInfo& a, const HidDeviceInfo& b) {
  const bool sameIds = !a.idsKnown || (a.vendorId == b.vendorId && a.productId == b.productId);
  return a.path == b.path && a.idsKnown == b.idsKnown && sameIds && a.location == b.location && a.serial == b.serial;
}

// The streams that hold a report or a failed read. A "fail" line the reader
// passes over still makes its controller's stream, which holds nothing and is
// not written back.
size_t StreamsWithReports(const Recording& recording) {
  return static_cast<size_t>(std::count_if(recording.streams.begin(), recording.streams.end(), [](const auto& s) {
    return !s.second.before.empty() || !s.second.outputs.empty();
  }));
}

// Whether `b`, read from the rewritten `a`, is `a` with its lines moved as `lineOf` says.
bool Same(const Recording& a, const Recording& b, const std::map<size_t, size_t>& lineOf) {
  if (StreamsWithReports(a) != b.streams.size() || a.bus.size() != b.bus.size() || a.devs != b.devs ||
      a.outcome != b.outcome || a.ids.size() != b.ids.size()) {
    return false;
  }
  for (const auto& [dev, stream] : a.streams) {
    if (stream.before.empty() && stream.outputs.empty()) continue;
    const auto other = b.streams.find(dev);
    if (other == b.streams.end() || !SameInputs(stream.before, other->second.before, lineOf)) return false;
    const auto sameOutput = [&](const Recording::Output& x, const Recording::Output& y) {
      return x.bytes == y.bytes && x.writeFailed == y.writeFailed && x.digest == y.digest && x.t == y.t &&
             Moved(lineOf, x.line) == y.line && SameInputs(x.after, y.after, lineOf);
    };
    if (!std::equal(stream.outputs.begin(), stream.outputs.end(), other->second.outputs.begin(),
                    other->second.outputs.end(), sameOutput)) {
      return false;
    }
  }
  for (size_t i = 0; i < a.bus.size(); ++i) {
    const Recording::BusState& x = a.bus[i];
    const Recording::BusState& y = b.bus[i];
    if (x.t != y.t || x.after.size() != y.after.size() ||
        !std::equal(x.devices.begin(), x.devices.end(), y.devices.begin(), y.devices.end(), SameDevice)) {
      return false;
    }
    for (const auto& [dev, where] : x.after) {
      const auto other = y.after.find(dev);
      if (other == y.after.end() || other->second != std::make_pair(Moved(lineOf, where.first), where.second)) {
        return false;
      }
    }
  }
  for (const auto& [path, ids] : a.ids) {
    const auto other = b.ids.find(path);
    if (other == b.ids.end() || other->second.vendorId != ids.vendorId || other->second.productId != ids.productId) {
      return false;
    }
  }
  return true;
}

// Whether a controller's number reads as negative. The reader takes a "dev"
// of 2^31 and more as one, and no transcript can say it again.
bool NegativeNumbers(const Recording& recording) {
  for (const auto& [dev, stream] : recording.streams) {
    if (dev < 0) return true;
  }
  for (const auto& [identity, dev] : recording.devs) {
    if (dev < 0) return true;
  }
  return false;
}

// The replay's verdict against the recording it played.
void CheckVerdict(ReplayBus& bus, const Recording& recording) {
  size_t total = 0;
  for (const auto& [dev, stream] : recording.streams) total += stream.outputs.size();
  const size_t matched = bus.ReportsMatched();
  fuzz::Check(matched <= total, "more output reports matched than recorded");
  const std::optional<ReplayDivergence> verdict = bus.Verdict();
  if (!verdict) {
    fuzz::Check(matched == total, "a replay without a difference left recorded reports unsent");
    return;
  }
  fuzz::Check(!verdict->Describe().empty(), "a difference described by nothing");
  if (!verdict->expected) return;
  const auto stream = recording.streams.find(verdict->dev);
  fuzz::Check(stream != recording.streams.end(), "a difference names a controller the recording lacks");
  const std::vector<Recording::Output>& outputs = stream->second.outputs;
  fuzz::Check(verdict->report >= 1 && verdict->report <= outputs.size(), "a difference past the recorded reports");
  const Recording::Output& expected = outputs[verdict->report - 1];
  fuzz::Check(expected.line == verdict->line && expected.bytes == *verdict->expected,
              "a difference names another report than recorded");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const std::optional<Recording> recording = Recording::Parse(text, error);
  if (!recording) {
    const std::string prefix = "line ";
    fuzz::Check(error.rfind(prefix, 0) == 0, "a refusal that names no line");
    const unsigned long line = std::strtoul(error.c_str() + prefix.size(), nullptr, 10);
    fuzz::Check(line >= 1 && line <= LineCount(text), "a refusal that names a line the text lacks");
    return 0;
  }
  fuzz::Check(recording->lines == LineCount(text), "lines counted other than the text has");

  if (!NegativeNumbers(*recording)) {
    std::map<size_t, size_t> lineOf;
    const std::optional<Recording> again = Recording::Parse(Rewritten(*recording, lineOf), error);
    fuzz::Check(again.has_value(), "a rewritten recording is refused");
    fuzz::Check(Same(*recording, *again, lineOf), "a rewritten recording reads back as another");
  }

  VirtualClock clock;
  test::SessionSystem system(clock);
  system.traceReceived = false;
  ReplayBus bus(*recording, clock);
  fuzz::SessionUser user;
  {
    UpdateSession session(bus, system);
    session.Probe();
    session.Update({.image = FirmwareImage::FromBytes(SeedImage(), "fw.dat"), .prompt = &user, .events = &user});
  }
  fuzz::Check(user.fileRequests == 0, "asked for a file although the image was handed over");
  CheckVerdict(bus, *recording);
  return 0;
}
