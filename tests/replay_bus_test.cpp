// The replay bus on hand-written transcripts: which controller it presents,
// what it answers and when, and where it says the engine went another way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/std/virtual_clock.h"
#include "base/bytes.h"
#include "transcript/redaction.h"
#include "transcript/replay_bus.h"

namespace tarvik {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes) { return bytes; }

ReplayRecording Parsed(const std::string& text) {
  std::string error;
  std::optional<ReplayRecording> recording = ReplayRecording::Parse(text, error);
  EXPECT_TRUE(recording) << error;
  return recording ? std::move(*recording) : ReplayRecording{};
}

// A boot-mode controller on the bus, as a transcript lists it.
constexpr const char* kBus = R"({"t":0,"ev":"bus","devices":[{"path":"/dev/hidraw3","vid":4660,"pid":1},)"
                             R"({"path":"/dev/hidraw4","vid":23100,"pid":32291,"location":"usb-1"}]})"
                             "\n";

struct Rig {
  VirtualClock clock{1000};
  ReplayBus bus;
  HidHandle handle = kInvalidHidHandle;
  explicit Rig(const std::string& text) : bus(Parsed(text), clock) {
    handle = bus.Open("/dev/hidraw4", HidOpenMode::kProbeReadWrite);
  }
  bool Write(std::vector<uint8_t> report) { return bus.WriteReport(handle, report.data(), report.size()); }
  HidReadResult Read(std::vector<uint8_t>& into, uint32_t timeoutMs = 500) {
    into.assign(65, 0);
    const HidReadResult result = bus.ReadReport(handle, into.data(), into.size(), timeoutMs);
    into.resize(result.bytes);
    return result;
  }
};

TEST(ReplayBusTest, PresentsTheRecordedDevicesWithTheirIds) {
  Rig rig(kBus);
  const std::vector<HidDeviceInfo> devices = rig.bus.EnumerateDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1].path, "/dev/hidraw4");
  EXPECT_EQ(devices[1].location, "usb-1");
  EXPECT_TRUE(devices[1].idsKnown);
  HidAttributes ids;
  ASSERT_TRUE(rig.bus.GetAttributes(rig.handle, ids));
  EXPECT_EQ(ids.vendorId, 0x5A3C);
  EXPECT_EQ(ids.productId, 0x7E23);
  EXPECT_EQ(rig.bus.Open("/dev/hidraw9", HidOpenMode::kProbeReadWrite), kInvalidHidHandle);
}

// Without "bus" lines the controller is told by its first output report.
TEST(ReplayBusTest, ATranscriptOfReportsOnlyGetsTheProductOfItsFraming) {
  const struct {
    const char* firstOut;
    uint16_t product;
  } cases[] = {
      {"8105001601000400", 0x7E21},  // numbered reports: the packet protocol in report mode 1
      {"0005001601000400", 0x7E22},  // report ID 0, a packet frame's lead byte
      {"0005c00000002e00", 0x7E23},  // report ID 0, a boot command
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.firstOut);
    const ReplayRecording recording = Parsed(std::string(R"({"ev":"out","hex":")") + c.firstOut + "\"}\n");
    ASSERT_EQ(recording.bus.size(), 1u);
    ASSERT_EQ(recording.bus[0].devices.size(), 1u);
    EXPECT_EQ(recording.bus[0].devices[0].productId, c.product);
  }
}

TEST(ReplayBusTest, LinesThatAreNotATranscriptsAreNamed) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"{\"ev\":\"out\",\"hex\":\"00\"}\nnot json\n", "line 2 of the transcript is not a JSON object"},
      {"{\"ev\":\"in\",\"hex\":\"0g\"}\n", "line 1 of the transcript has no report in hex"},
      {"{\"ev\":\"out\",\"hex\":\"000\"}\n", "line 1 of the transcript has no report in hex"},
      {"{\"ev\":\"bus\",\"devices\":[{\"vid\":1}]}\n", "line 1 of the transcript has a device without a path"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ReplayRecording::Parse(c.text, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(ReplayBusTest, AnswersComeOnTheRecordedTimingAndSilenceTimesOut) {
  Rig rig(std::string(kBus) +
          R"({"t":100,"ev":"out","hex":"0001"})" "\n"
          R"({"t":130,"ev":"in","hex":"00a1"})" "\n"
          R"({"t":140,"ev":"in","hex":"00a2"})" "\n"
          R"({"t":200,"ev":"out","hex":"0002"})" "\n"
          R"({"t":900,"ev":"out","hex":"0003"})" "\n"
          R"({"t":905,"ev":"fail","op":"read","code":4294967295})" "\n");
  ASSERT_TRUE(rig.Write(Bytes({0x00, 0x01})));
  std::vector<uint8_t> report;
  EXPECT_EQ(rig.Read(report).status, HidRead::kReport);
  EXPECT_EQ(report, Bytes({0x00, 0xa1}));
  EXPECT_EQ(rig.clock.NowMs(), 1030u);  // 30 ms after the write, as recorded
  EXPECT_EQ(rig.Read(report).status, HidRead::kReport);
  EXPECT_EQ(report, Bytes({0x00, 0xa2}));
  EXPECT_EQ(rig.clock.NowMs(), 1040u);
  // Nothing was recorded after the second report: the engine's own time-out, on the clock.
  ASSERT_TRUE(rig.Write(Bytes({0x00, 0x02})));
  EXPECT_EQ(rig.Read(report, 700).status, HidRead::kTimedOut);
  EXPECT_EQ(rig.clock.NowMs(), 1740u);
  // The controller left: the read fails outright.
  ASSERT_TRUE(rig.Write(Bytes({0x00, 0x03})));
  EXPECT_EQ(rig.Read(report).status, HidRead::kGone);
  EXPECT_FALSE(rig.bus.Verdict());
  EXPECT_EQ(rig.bus.ReportsMatched(), 3u);
}

// An empty recorded report arrives as a report of no bytes, and the next one after it.
TEST(ReplayBusTest, AnEmptyRecordedReportIsReceivedEmpty) {
  Rig rig(std::string(kBus) + R"({"t":0,"ev":"out","hex":"0001"})" "\n" R"({"t":0,"ev":"in","hex":""})" "\n"
          R"({"t":0,"ev":"in","hex":"00a1"})" "\n");
  ASSERT_TRUE(rig.Write(Bytes({0x00, 0x01})));
  std::vector<uint8_t> report;
  EXPECT_EQ(rig.Read(report).status, HidRead::kReport);
  EXPECT_TRUE(report.empty());
  EXPECT_EQ(rig.Read(report).status, HidRead::kReport);
  EXPECT_EQ(report, Bytes({0x00, 0xa1}));
}

TEST(ReplayBusTest, ARecordedReportIsNotLaterThanTheReadThatGotIt) {
  Rig rig(std::string(kBus) + R"({"t":0,"ev":"out","hex":"0001"})" "\n" R"({"t":5000,"ev":"in","hex":"00a1"})" "\n");
  ASSERT_TRUE(rig.Write(Bytes({0x00, 0x01})));
  std::vector<uint8_t> report;
  EXPECT_EQ(rig.Read(report, 1000).status, HidRead::kReport);
  EXPECT_EQ(rig.clock.NowMs(), 2000u);
}

TEST(ReplayBusTest, TheFirstDifferentReportEndsTheReplayWithWhereAndWhat) {
  const std::string text = std::string(kBus) +
                           R"({"t":0,"ev":"out","hex":"000102"})" "\n"
                           R"({"t":1,"ev":"in","hex":"00ff"})" "\n"
                           R"({"t":2,"ev":"out","hex":"00050607"})" "\n"
                           R"({"t":3,"ev":"outcome","result":"failed","reason":"it broke"})" "\n";
  const struct {
    std::vector<std::vector<uint8_t>> sent;
    size_t line;  // 0: none
    std::string expected;
    std::string actual;
    std::string marks;
    size_t matched;
  } cases[] = {
      {{{0x00, 0x01, 0x02}, {0x00, 0x05, 0x08, 0x07}}, 4, "00050607", "00050807", "    ^^", 1},
      {{{0x00, 0x01, 0x03}}, 2, "000102", "000103", "    ^^", 0},
      {{{0x00, 0x01, 0x02}, {0x00, 0x05, 0x06}}, 4, "00050607", "000506", "      ^^", 1},
      {{{0x00, 0x01, 0x02}, {0x00, 0x05, 0x06, 0x07}, {0x00}}, 0, "(nothing)", "00", "", 2},
      {{{0x00, 0x01, 0x02}}, 4, "00050607", "(nothing)", "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.actual);
    Rig rig(text);
    for (const std::vector<uint8_t>& report : c.sent) rig.Write(report);
    const std::optional<ReplayDivergence> verdict = rig.bus.Verdict();
    ASSERT_TRUE(verdict);
    EXPECT_EQ(verdict->line, c.line);
    EXPECT_EQ(verdict->matched, c.matched);
    const std::string described = verdict->Describe();
    EXPECT_NE(described.find("recorded: " + c.expected + "\n"), std::string::npos) << described;
    EXPECT_NE(described.find("sent:     " + c.actual + "\n"), std::string::npos) << described;
    if (!c.marks.empty()) {
      EXPECT_NE(described.find("\n            " + c.marks + "\n"), std::string::npos) << described;
    }
    if (c.line != 0) {
      EXPECT_NE(described.find("line " + std::to_string(c.line)), std::string::npos) << described;
    }
    EXPECT_NE(described.find("the recorded update ended failed: it broke"), std::string::npos) << described;
    if (!verdict->actual) continue;
    // After the difference the controller is as good as gone: the engine ends its run.
    std::vector<uint8_t> report;
    EXPECT_EQ(rig.Read(report).status, HidRead::kGone);
    EXPECT_FALSE(rig.Write(Bytes({0x00, 0x01, 0x02})));
  }
}

class NoticeCounter final : public IDeviceNotifyTarget {
 public:
  void PostDeviceChange(DeviceChange eventType) override { events.push_back(eventType); }
  std::vector<DeviceChange> events;
};

// A controller leaves once the output report before its leaving is sent (its
// recorded time is when an enumeration first saw it gone), and comes back as
// long after it left as recorded.
TEST(ReplayBusTest, ControllersLeaveAndComeBackAfterTheReportsTheyFollowed) {
  Rig rig(std::string(kBus) +
          R"({"t":10,"ev":"out","hex":"0007"})" "\n"
          R"({"t":60,"ev":"bus","devices":[{"path":"/dev/hidraw3","vid":4660,"pid":1}]})" "\n"
          R"({"t":900,"ev":"bus","devices":[{"path":"/dev/hidraw3","vid":4660,"pid":1},)"
          R"({"path":"/dev/hidraw4","vid":23100,"pid":32291,"location":"usb-1"}]})" "\n");
  NoticeCounter notices;
  rig.bus.RegisterNotify(notices);
  rig.clock.AdvanceTo(5000);  // long waits before the report change nothing
  EXPECT_EQ(rig.bus.EnumerateDevices().size(), 2u);
  EXPECT_TRUE(notices.events.empty());
  ASSERT_TRUE(rig.Write(Bytes({0x00, 0x07})));
  EXPECT_EQ(rig.bus.EnumerateDevices().size(), 1u);
  EXPECT_EQ(rig.bus.Open("/dev/hidraw4", HidOpenMode::kProbeReadWrite), kInvalidHidHandle);
  EXPECT_EQ(notices.events, std::vector<DeviceChange>{DeviceChange::kRemoval});
  rig.clock.SleepMs(839);
  EXPECT_EQ(rig.bus.EnumerateDevices().size(), 1u);
  rig.clock.SleepMs(1);
  const std::vector<HidDeviceInfo> back = rig.bus.EnumerateDevices();
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].path, "/dev/hidraw4");
  EXPECT_EQ(notices.events, (std::vector<DeviceChange>{DeviceChange::kRemoval, DeviceChange::kArrival}));
}

// Several controllers ("dev"): numbered as the transcript's "bus" lines say,
// else as the command line numbers them: in bus order at the start, each by
// where it is plugged in.
TEST(ReplayBusTest, NumberedControllersEachPlayTheirOwnReports) {
  const struct {
    const char* bus;
    const char* first;  // the path of controller 1
    const char* second;
  } cases[] = {
      {R"({"ev":"bus","devices":[{"path":"a","vid":23100,"pid":32291,"location":"p1"},)"
       R"({"path":"b","vid":23100,"pid":32289,"location":"p2"}]})",
       "a", "b"},
      {R"({"ev":"bus","devices":[{"path":"a","vid":23100,"pid":32291,"location":"p1","dev":2},)"
       R"({"path":"b","vid":23100,"pid":32289,"location":"p2","dev":1}]})",
       "b", "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    VirtualClock clock;
    ReplayBus bus(Parsed(std::string(c.bus) + "\n" +
                         R"({"ev":"out","hex":"0001","dev":2})" "\n"
                         R"({"ev":"out","hex":"0002","dev":1})" "\n"
                         R"({"ev":"in","hex":"00b2","dev":2})" "\n"),
                  clock);
    const HidHandle first = bus.Open(c.first, HidOpenMode::kProbeReadWrite);
    const HidHandle second = bus.Open(c.second, HidOpenMode::kProbeReadWrite);
    const uint8_t toFirst[] = {0x00, 0x02};
    const uint8_t toSecond[] = {0x00, 0x01};
    ASSERT_TRUE(bus.WriteReport(first, toFirst, 2));
    ASSERT_TRUE(bus.WriteReport(second, toSecond, 2));
    uint8_t buffer[8] = {};
    EXPECT_EQ(bus.ReadReport(first, buffer, sizeof buffer, 100).status, HidRead::kTimedOut);
    EXPECT_EQ(bus.ReadReport(second, buffer, sizeof buffer, 100).status, HidRead::kReport);
    EXPECT_EQ(buffer[1], 0xb2);
    EXPECT_FALSE(bus.Verdict());
  }
}

TEST(ReplayBusTest, DifferencesAreMarkedUnderTheirBytes) {
  EXPECT_EQ(MarkDifferences("0011", "0011"), "");
  EXPECT_EQ(MarkDifferences("001122", "00ff22"), "  ^^");
  EXPECT_EQ(MarkDifferences("00", "0011"), "  ^^");
  EXPECT_EQ(MarkDifferences("aabb", ""), "^^^^");
}

// A redacted output report: its bytes but the image's as they are, the
// image's by the whole report's digest.
TEST(ReplayBusTest, RedactedReportsAreCheckedByTheirDigest) {
  // A boot-mode write of two data bytes (ab cd) to 0x08004000.
  const std::vector<uint8_t> write = {0x00, 0x05, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                      0x02, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08, 0xab, 0xcd};
  std::vector<uint8_t> kept = write;
  ASSERT_TRUE(RedactOutputReport(kept));
  EXPECT_EQ(std::vector<uint8_t>(kept.begin(), kept.end() - 2), std::vector<uint8_t>(write.begin(), write.end() - 2));
  EXPECT_EQ(kept[18] | kept[19], 0);
  const std::string recording = std::string(kBus) + R"({"ev":"out","hex":")" + ToHex(kept.data(), kept.size()) +
                                R"(","digest":")" + ReportDigest(write) + "\"}\n";
  const struct {
    size_t changed;  // the byte sent otherwise; 0: none
    bool matches;
    std::string marks;
  } cases[] = {{0, true, ""}, {19, false, ""}, {14, false, std::string(28, ' ') + "^^"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.changed);
    Rig rig(recording);
    std::vector<uint8_t> sent = write;
    if (c.changed != 0) sent[c.changed] ^= 0x01;
    EXPECT_EQ(rig.Write(sent), c.matches);
    const std::optional<ReplayDivergence> verdict = rig.bus.Verdict();
    ASSERT_EQ(!verdict, c.matches);
    if (!verdict) continue;
    EXPECT_TRUE(verdict->redacted);
    // What the divergence shows of the sent report has no image bytes either.
    EXPECT_EQ(ToHex(verdict->actual->data(), verdict->actual->size()).substr(36), "0000");
    EXPECT_EQ(MarkDifferences(ToHex(kept.data(), kept.size()), ToHex(verdict->actual->data(), verdict->actual->size())),
              c.marks);
  }
}

// Where enumeration does not tell a device's IDs (Windows), the recorded
// ones its opening told are answered again, and make it the controller.
TEST(ReplayBusTest, IdsReadByOpeningADeviceAreAnsweredAgain) {
  VirtualClock clock;
  ReplayBus bus(Parsed(R"({"ev":"bus","devices":[{"path":"hid#1"},{"path":"hid#2"}]})" "\n"
                       R"({"ev":"ids","path":"hid#2","vid":23100,"pid":32291})" "\n"
                       R"({"ev":"out","hex":"0001"})" "\n"),
                clock);
  const std::vector<HidDeviceInfo> devices = bus.EnumerateDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_FALSE(devices[1].idsKnown);
  HidAttributes ids;
  EXPECT_FALSE(bus.GetAttributes(bus.Open("hid#1", HidOpenMode::kProbeReadWrite), ids));
  const HidHandle controller = bus.Open("hid#2", HidOpenMode::kProbeReadWrite);
  ASSERT_TRUE(bus.GetAttributes(controller, ids));
  EXPECT_EQ(ids.productId, 0x7E23);
  const uint8_t report[] = {0x00, 0x01};
  EXPECT_TRUE(bus.WriteReport(controller, report, sizeof report));
  EXPECT_FALSE(bus.Verdict());
}

}  // namespace
}  // namespace tarvik
