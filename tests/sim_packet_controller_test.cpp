#include "sim/sim_packet_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>

#include "base/bytes.h"
#include "device/report_framing.h"
#include "platform/std/virtual_clock.h"
#include "sim/sim_setup.h"
#include "tests/support/device_rig.h"
#include "update/packet_protocol.h"

namespace tarvik {
namespace {

using Bytes = std::vector<uint8_t>;
using Settings = std::vector<std::pair<std::string, std::string>>;
using namespace packet;

Bytes Short(uint8_t type, uint8_t value = 0x00) { return {0x00, type, 0x01, 0x00, value}; }

Bytes Packet(uint8_t command, const Bytes& payload = {}) {
  Bytes frame{0x00, kTypeFirmware, 0, 0, command};
  if (!payload.empty()) frame.insert(frame.end(), {static_cast<uint8_t>(payload.size()), 0});
  frame.insert(frame.end(), payload.begin(), payload.end());
  PutLe16(&frame[2], static_cast<uint16_t>(frame.size() - 4));
  return frame;
}

Bytes Header(uint32_t desLen, size_t size = kHeaderPayload, uint32_t version = 0xEEEEEEEE) {
  Bytes payload(size, 0xEE);
  if (size >= 4) PutLe32(&payload[0], version);
  PutLe32(&payload[8], desLen);
  return Packet(kCmdHeader, payload);
}

Bytes Pattern(size_t size, uint8_t first) {
  Bytes bytes(size);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

const Bytes kRequest = Packet(kCmdDataRequest);

class PacketControllerTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  SimHidBus bus{clock};
  std::shared_ptr<SimPacketController> model;
  int device = 0;
  HidHandle writer = kInvalidHidHandle;
  HidHandle reader = kInvalidHidHandle;

  // Report mode 1 or 2 is row 1 or 2 of the device table.
  void Start(int mode, const Settings& settings = {}, bool keepReceived = true) {
    SimPacketConfig config;
    config.keepReceived = keepReceived;
    for (const auto& [key, value] : settings) {
      std::string error;
      ASSERT_TRUE(ApplySimPacketSetting(key, value, config, error)) << key << ": " << error;
    }
    model = std::make_shared<SimPacketController>(mode, config);
    SimDeviceSetup setup = ControllerSetup(mode);
    setup.model = model;
    bus.KeepExchangeLog(true);
    device = bus.Plug(setup, false);
    Open(bus.PathOf(device));
  }

  void Open(const std::string& path) {
    writer = bus.Open(path, HidOpenMode::kWriteSync);
    reader = bus.Open(path, HidOpenMode::kReadOverlapped);
  }

  // One report per piece of at most `piece` frame bytes, as the host cuts them.
  void Write(const Bytes& frame, size_t piece = kMaxPiece) {
    const ReportFraming framing = FramingForMode(static_cast<tarvik::ReportMode>(model->ReportMode()));
    for (size_t at = 0; at < frame.size(); at += piece) {
      const size_t count = std::min(piece, frame.size() - at);
      Bytes report(framing.outputSize, 0);
      report[0] = framing.firstByte;
      report[1] = static_cast<uint8_t>(count);
      std::copy_n(&frame[at], count, &report[2]);
      ASSERT_TRUE(bus.WriteReport(writer, report.data(), report.size()));
    }
  }

  // The frame of the next input report, its framing checked; nothing when
  // none arrives in time.
  std::optional<Bytes> Read(uint32_t timeoutMs = 100) {
    const ReportFraming framing = FramingForMode(static_cast<tarvik::ReportMode>(model->ReportMode()));
    Bytes report(kReadBufferSize, 0);
    const HidReadResult result = bus.ReadReport(reader, report.data(), report.size(), timeoutMs);
    if (result.status != HidRead::kReport) return std::nullopt;
    EXPECT_EQ(result.bytes, framing.inputSize);
    EXPECT_EQ(report[0], framing.firstByte);
    const auto end = report.begin() + 2 + report[1];
    EXPECT_TRUE(std::all_of(end, report.end(), [](uint8_t b) { return b == 0; }));
    return Bytes(report.begin() + 2, end);
  }

  std::vector<Bytes> ReadAll() {
    std::vector<Bytes> frames;
    while (auto frame = Read()) frames.push_back(*frame);
    return frames;
  }
};

class PacketModeTest : public PacketControllerTest, public ::testing::WithParamInterface<int> {};

TEST_P(PacketModeTest, WholeTransferThenAnEarlyEnd) {
  Start(GetParam(), {{"end.replug", "0"}});
  Write(Short(kTypeStartRequest));
  EXPECT_EQ(Read(), Short(kTypeStartAnswer));
  Write(Header(70));
  EXPECT_EQ(Read(), kRequest);
  const Bytes image = Pattern(70, 1);
  for (size_t at = 0; at < image.size(); at += kDataPayload) {
    Write(Packet(kCmdData, Bytes(&image[at], &image[std::min<size_t>(at + kDataPayload, 70)])));
    EXPECT_EQ(Read(), kRequest) << at;
  }
  Write(Packet(kCmdEnd));
  Write(Packet(kCmdEnd));  // completes nothing more
  EXPECT_FALSE(Read());
  EXPECT_EQ(model->ReceivedData(), image);
  EXPECT_EQ(model->AnnouncedLength(), 70u);
  EXPECT_EQ(model->CompletedTransfers(), 1);

  Write(Header(33));
  Write(Packet(kCmdData, Pattern(32, 0x80)));
  Write(Packet(kCmdEnd));
  EXPECT_EQ(ReadAll(), std::vector<Bytes>(2, kRequest));
  EXPECT_EQ(model->ReceivedData(), Pattern(32, 0x80));
  EXPECT_EQ(model->CompletedTransfers(), 1);
}

INSTANTIATE_TEST_SUITE_P(ReportModes, PacketModeTest, ::testing::Values(1, 2));

TEST_F(PacketControllerTest, OneThatKeepsNoPayloadStillTellsAWholeTransferFromAShortOne) {
  Start(1, {{"end.replug", "0"}}, false);
  Write(Header(70));
  for (int packet = 0; packet < 3; ++packet) Write(Packet(kCmdData, Pattern(kDataPayload, 1)));
  Write(Packet(kCmdEnd));
  Write(Header(33));
  Write(Packet(kCmdData, Pattern(32, 0x80)));
  Write(Packet(kCmdEnd));
  EXPECT_EQ(ReadAll(), std::vector<Bytes>(6, kRequest));
  EXPECT_EQ(model->CompletedTransfers(), 1);
  EXPECT_TRUE(model->ReceivedData().empty());
  EXPECT_TRUE(model->Firmware().empty());
}

// After the end of a whole transfer the controller starts what it was sent:
// it leaves the bus and comes back at the same place, telling the header's
// version. A short transfer's end, or end.replug=0, leaves it as it was.
TEST_F(PacketControllerTest, AWholeTransferRestartsItWithTheVersionSent) {
  struct Case {
    const char* replug;
    uint32_t sent;  // payload bytes, of the 64 announced
    bool leaves;
    uint32_t version;  // told afterwards
  };
  for (const Case& c : {Case{"1", 64, true, 150}, Case{"1", 32, false, 123}, Case{"0", 64, false, 123}}) {
    SCOPED_TRACE(std::string("end.replug=") + c.replug + ", " + std::to_string(c.sent) + " bytes");
    Start(1, {{"end.replug", c.replug}});
    Write(Header(64, kHeaderPayload, 150));
    for (uint32_t at = 0; at < c.sent; at += kDataPayload) Write(Packet(kCmdData, Pattern(kDataPayload, 1)));
    Write(Packet(kCmdEnd));
    clock.SleepMs(1);
    EXPECT_EQ(bus.EnumerateDevices().empty(), c.leaves);
    clock.SleepMs(SimPacketController::kRestartAwayMs);
    ASSERT_EQ(bus.EnumerateDevices().size(), 1u);
    EXPECT_EQ(bus.EnumerateDevices().front().path, bus.PathOf(device));
    Open(bus.PathOf(device));
    ReadAll();
    Write(Packet(kCmdVersion));
    Bytes word(4);
    PutLe32(word.data(), c.version);
    EXPECT_EQ(Read(), Packet(kCmdVersion, word));
    bus.Unplug(device);
  }
}

TEST_F(PacketControllerTest, FramesAreTakenByTheirBodyLength) {
  Start(1);
  Write(Header(40));
  Write(Packet(kCmdData, Pattern(40, 7)));  // 47 frame bytes: two reports
  Bytes padded = Packet(kCmdData);          // the host's file has no more
  padded.resize(12);                        // a count past the frame's end
  Write(padded);
  EXPECT_EQ(ReadAll(), std::vector<Bytes>(3, kRequest));
  EXPECT_EQ(model->ReceivedData(), Pattern(40, 7));
}

TEST_F(PacketControllerTest, VersionReportOrSilence) {
  const std::pair<Settings, std::optional<Bytes>> cases[] = {
      {{}, Bytes{0x7B, 0, 0, 0}},
      {{{"version", "0x01020304"}}, Bytes{4, 3, 2, 1}},
      {{{"version", "4294967295"}}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
      {{{"version", "silent"}, {"start", "silent"}}, std::nullopt}};
  for (const auto& [settings, word] : cases) {
    Start(2, settings);
    Write(Packet(kCmdVersion));
    Write(Short(kTypeStartRequest));
    std::vector<Bytes> expected;
    if (word) expected = {Packet(kCmdVersion, *word), Short(kTypeStartAnswer)};
    EXPECT_EQ(ReadAll(), expected);
  }
}

TEST_F(PacketControllerTest, FailureReportTakesTheNextRequestsPlaceAndEndsTheTransfer) {
  const std::tuple<Settings, uint32_t, uint8_t> cases[] = {
      {{{"fail.at", "0"}}, 0, kCmdFailure1},
      {{{"fail.at", "2"}, {"fail.cmd", "0x18"}}, 2, kCmdFailure2}};
  for (const auto& [settings, packets, command] : cases) {
    Start(1, settings);
    Write(Header(200));
    for (uint32_t i = 0; i <= packets; ++i) Write(Packet(kCmdData, Pattern(32, 0)));
    Write(Packet(kCmdEnd));
    std::vector<Bytes> expected(packets, kRequest);
    expected.push_back(Packet(command));
    EXPECT_EQ(ReadAll(), expected);
    EXPECT_EQ(model->ReceivedData().size(), 32u * packets);
    EXPECT_EQ(model->CompletedTransfers(), 0);
  }
}

TEST_F(PacketControllerTest, SilentAfterDataPacketsButStillReceiving) {
  Start(2, {{"silent.after", "1"}});
  Write(Header(64));
  EXPECT_EQ(Read(), kRequest);
  for (const Bytes& frame : {Packet(kCmdData, Pattern(32, 0)), Short(kTypeStartRequest),
                             Packet(kCmdVersion), Header(64), Packet(kCmdData, Pattern(64, 0)),
                             Packet(kCmdEnd)}) {
    Write(frame);
  }
  EXPECT_FALSE(Read(1000));
  EXPECT_EQ(model->CompletedTransfers(), 1);
}

TEST_F(PacketControllerTest, JunkFramesGoBeforeEveryAnswer) {
  Start(1, {{"junk", "1"}});
  const std::pair<Bytes, Bytes> exchanges[] = {
      {Short(kTypeStartRequest), Short(kTypeStartAnswer)},
      {Header(1), kRequest},
      {Packet(kCmdVersion), Packet(kCmdVersion, {123, 0, 0, 0})}};
  for (const auto& [request, answer] : exchanges) {
    Write(request);
    EXPECT_EQ(ReadAll(), (std::vector<Bytes>{{0x01, kTypeFirmware, 0x01, 0x00, kCmdDataRequest},
                                             {0x00, 0x04, 0x01, 0x00, kCmdDataRequest},
                                             Packet(0x33), answer}));
  }
}

TEST_F(PacketControllerTest, Mode2SignalReplugsAsAMode1ControllerOnlyWhenTold) {
  Start(2);
  Write(Short(kTypeMode2Signal));
  EXPECT_TRUE(bus.IsPresent(device));

  Start(2, {{"switch", "replug"}});
  test::NoticeCollector window;
  bus.RegisterNotify(window);
  const HidHandle oldWriter = writer;
  Write(Short(kTypeMode2Signal));
  EXPECT_EQ(window.Events(), (std::vector<DeviceChange>{DeviceChange::kRemoval, DeviceChange::kArrival}));
  Bytes buffer(kReadBufferSize, 0);
  EXPECT_FALSE(bus.WriteReport(oldWriter, buffer.data(), 65));
  EXPECT_EQ(bus.ReadReport(reader, buffer.data(), buffer.size(), 10).status, HidRead::kGone);

  const std::vector<std::string> paths = bus.EnumerateInterfaces();
  ASSERT_EQ(paths.size(), 2u);  // the first controller and the replugged one
  EXPECT_NE(paths[1], bus.PathOf(device));
  Open(paths[1]);
  HidAttributes attributes;
  ASSERT_TRUE(bus.GetAttributes(writer, attributes));
  EXPECT_EQ(attributes.productId, 0x7E21);
  Write(Short(kTypeStartRequest));  // 64-byte reports with ID 0x81 now
  EXPECT_EQ(Read(), Short(kTypeStartAnswer));
  Write(Short(kTypeMode2Signal));  // a mode-1 controller has nothing to switch
  EXPECT_EQ(bus.EnumerateInterfaces(), paths);
}

TEST_F(PacketControllerTest, NoticesAndMalformedFramesGetNoAnswer) {
  Start(1);
  Write(Short(kTypeReceiveFailure));
  Bytes wrongId(64, 0);  // the mode-2 report ID in mode 1
  std::copy_n(Short(kTypeStartRequest).begin(), 5, &wrongId[2]);
  wrongId[1] = 5;
  ASSERT_TRUE(bus.WriteReport(writer, wrongId.data(), wrongId.size()));
  for (const Bytes& frame :
       {Bytes{0x01, kTypeStartRequest, 0x01, 0x00, 0x00}, Short(kTypeStartRequest, 0x01),
        Bytes{0x00, kTypeStartRequest, 0x02, 0x00, 0x00, 0x00}, Packet(kCmdData, Pattern(4, 0)),
        Header(10, 27), Packet(kCmdVersion, {0}), Packet(0x33)}) {
    Write(frame);
  }
  EXPECT_FALSE(Read(1000));
  EXPECT_EQ(model->Counts().receiveFailures, 1);
  EXPECT_EQ(model->Counts().ignoredFrames, 8);
  EXPECT_EQ(model->AnnouncedLength(), 0u);
}

TEST_F(PacketControllerTest, AnswersArriveAfterTheLatency) {
  Start(1, {{"latency.ms", "250"}});
  Write(Packet(kCmdVersion));
  EXPECT_FALSE(Read(249));
  EXPECT_TRUE(Read(100));
  EXPECT_EQ(clock.NowMs(), 250u);
}

TEST_F(PacketControllerTest, TwoWritersAtOnce) {
  Start(2);
  auto query = [this] {
    for (int i = 0; i < 20; ++i) Write(Packet(kCmdVersion));
  };
  std::thread other(query);
  query();
  other.join();
  EXPECT_EQ(ReadAll().size(), 40u);
}

TEST(SimPacketSettingTest, BadValuesAndOtherKeys) {
  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"version", "0x100000000"}, {"version", "-1"}, {"version", ""}, {"start", "ok"},
           {"fail.at", "0x"}, {"fail.cmd", "0x16"}, {"fail.cmd", "15"}, {"silent.after", " 3"},
           {"junk", "yes"}, {"switch", "Replug"}, {"latency.ms", "1.5"}, {"clock", "1"}}) {
    SimPacketConfig config;
    std::string error = "stale";
    EXPECT_FALSE(ApplySimPacketSetting(key, value, config, error)) << key << "=" << value;
    EXPECT_EQ(error.empty(), key == "clock") << key << "=" << value << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(config.version, 123u);
  }
}

}  // namespace
}  // namespace tarvik
