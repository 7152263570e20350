#include "sim/sim_boot_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "base/bytes.h"
#include "platform/std/steady_clock.h"
#include "platform/std/virtual_clock.h"
#include "tests/support/device_rig.h"
#include "tests/support/image_builder.h"
#include "update/boot_protocol.h"

namespace tarvik {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace boot;

class BootControllerTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  SimHidBus bus{clock};
  std::shared_ptr<SimBootController> model;
  int device = 0;
  HidHandle writer = kInvalidHidHandle;
  HidHandle reader = kInvalidHidHandle;

  void Start(const std::vector<std::pair<std::string, std::string>>& settings = {}, bool keepWritten = true) {
    SimBootConfig config;
    config.keepWritten = keepWritten;
    for (const auto& [key, value] : settings) {
      std::string error;
      ASSERT_TRUE(ApplySimBootSetting(key, value, config, error)) << key << ": " << error;
    }
    model = std::make_shared<SimBootController>(config);
    SimDeviceSetup setup;
    setup.vendorId = 0x5A3C;
    setup.productId = 0x7E23;
    setup.model = model;
    bus.KeepExchangeLog(true);
    device = bus.Plug(setup, false);
    writer = bus.Open(bus.PathOf(device), HidOpenMode::kWriteSync);
    reader = bus.Open(bus.PathOf(device), HidOpenMode::kReadOverlapped);
  }

  void Send(uint16_t command, uint32_t address, uint32_t total = 0, const Bytes& data = {},
            uint8_t marker = kMarker) {
    Bytes report(1 + kFrameSize, 0);
    uint8_t* frame = report.data() + 1;
    frame[kFrameMarker] = marker;
    PutLe16(frame + kFrameCommand, command);
    PutLe32(frame + kFrameDataLength, static_cast<uint32_t>(data.size()));
    PutLe32(frame + kFrameTotalLength, total);
    PutLe32(frame + kFrameAddress, address);
    std::copy(data.begin(), data.end(), frame + kFrameData);
    ASSERT_TRUE(bus.WriteReport(writer, report.data(), report.size()));
  }

  void SendInfo(uint32_t address) {
    Send(kCmdGetInfo, address, kInfoBlockSize, Bytes(kInfoBlockSize, 0));
  }

  // The 64-byte reply, or nothing when none arrives in time.
  std::optional<Bytes> Read(uint32_t timeoutMs = 100) {
    Bytes report(1 + kReplySize, 0);
    const HidReadResult result = bus.ReadReport(reader, report.data(), report.size(), timeoutMs);
    if (result.status != HidRead::kReport) return std::nullopt;
    EXPECT_EQ(report[0], 0x00);
    return Bytes(report.begin() + 1, report.end());
  }

  std::vector<Bytes> ReadAll() {
    std::vector<Bytes> replies;
    while (auto reply = Read()) replies.push_back(*reply);
    return replies;
  }

  // Sends a frame and returns the status of the one reply acknowledging it;
  // kNoReply when nothing arrives.
  static constexpr uint32_t kNoReply = 0x10000;
  uint32_t Ask(uint16_t command, uint32_t address, uint32_t total = 0, const Bytes& data = {}) {
    Send(command, address, total, data);
    const std::optional<Bytes> reply = Read();
    if (!reply) return kNoReply;
    EXPECT_EQ((*reply)[kReplyLead], 0x00);
    EXPECT_EQ((*reply)[kReplyMarker], kMarker);
    EXPECT_EQ(GetLe16(reply->data() + kReplyCommand), command);
    return GetLe16(reply->data() + kReplyStatus);
  }

  uint32_t InfoVersion(uint32_t address) {
    SendInfo(address);
    const std::optional<Bytes> reply = Read();
    return reply ? GetLe32(reply->data() + kReplyData + kInfoVersion) : 0;
  }
};

Bytes Pattern(size_t size, uint8_t first) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

using Region = SimBootController::FlashRegion;
using Stamp = SimBootController::VersionStamp;
using Erased = SimBootController::EraseRegion;

TEST_F(BootControllerTest, InformationBlocksCarryEachMcusFieldsAtTheirOffsets) {
  Start({{"main.pid", "0xFFFF"}, {"main.version", "0x00020079"}, {"main.revision", "9"},
         {"main.veraddr", "0x0800E000"}, {"at.pid", "4660"}, {"at.version", "4294967295"},
         {"at.veraddr", "0x0001E000"}});
  const SimBootConfig defaults;
  for (const bool at : {false, true}) {
    SCOPED_TRACE(at ? "at" : "main");
    SendInfo(at ? kAddressAtMcu : kAddressMain);
    const std::optional<Bytes> reply = Read();
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[kReplyLead], 0x00);
    EXPECT_EQ((*reply)[kReplyMarker], kMarker);
    EXPECT_EQ(GetLe16(reply->data() + kReplyStatus), kStatusDone);
    EXPECT_EQ(GetLe16(reply->data() + kReplyCommand), kCmdGetInfo);
    const uint8_t* info = reply->data() + kReplyData;
    const SimInfoBlock& fixed = at ? defaults.at : defaults.main;
    EXPECT_EQ(GetLe16(info + kInfoPid), at ? 4660 : 0xFFFF);
    EXPECT_EQ(GetLe32(info + kInfoVersion), at ? 0xFFFFFFFFu : 0x00020079u);
    EXPECT_EQ(info[kInfoBetaLow], at ? 0xFF : 2);
    EXPECT_EQ(GetLe32(info + kInfoVerAddr), at ? 0x0001E000u : 0x0800E000u);
    EXPECT_EQ(GetLe16(info + kInfoRevision), at ? fixed.revision : 9);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(GetLe32(info + kInfoUid + 4 * i), fixed.uid[i]);
      EXPECT_EQ(GetLe32(info + kInfoBootId + 4 * i), fixed.bootId[i]);
    }
    EXPECT_EQ(GetLe32(info + kInfoBootIdAddr), fixed.bootIdAddr);
    EXPECT_EQ(GetLe32(info + kInfoAppIdAddr), fixed.appIdAddr);
  }
  EXPECT_FALSE(Read());  // one reply per request
}

TEST_F(BootControllerTest, DefaultBlocksHaveNoZeroOrRepeatedField) {
  const SimBootConfig config;
  std::vector<uint32_t> fields;
  for (const SimInfoBlock* b : {&config.main, &config.at}) {
    fields.insert(fields.end(), {b->pid, b->unused, b->version, b->bootIdAddr, b->appIdAddr,
                                 b->verAddr, b->revision});
    fields.insert(fields.end(), b->uid.begin(), b->uid.end());
    fields.insert(fields.end(), b->bootId.begin(), b->bootId.end());
  }
  EXPECT_EQ(std::set<uint32_t>(fields.begin(), fields.end()).size(), fields.size());
  EXPECT_EQ(std::count(fields.begin(), fields.end(), 0u), 0);
}

TEST_F(BootControllerTest, SilentAndWrongInformationAnswers) {
  Start({{"info.main", "silent"}, {"info.at", "wrong"}});
  SendInfo(kAddressMain);
  SendInfo(kAddressMain);  // a resend is not answered either
  EXPECT_FALSE(Read(1000));
  EXPECT_EQ(model->FramesReceived(kCmdGetInfo), 2);

  for (int request = 0; request < 2; ++request) {
    SendInfo(kAddressAtMcu);
    const std::vector<Bytes> replies = ReadAll();
    EXPECT_GE(replies.size(), 5u);
    for (const Bytes& reply : replies) {
      EXPECT_EQ(reply[kReplyLead], 0x00);
      EXPECT_EQ(reply[kReplyMarker], kMarker);
      EXPECT_EQ(GetLe16(reply.data() + kReplyStatus), kStatusDone);
      EXPECT_NE(GetLe16(reply.data() + kReplyCommand), kCmdGetInfo);
    }
  }
}

TEST_F(BootControllerTest, MalformedFramesAreIgnored) {
  Start();
  Send(kCmdGetInfo, kAddressMain, kInfoBlockSize, Bytes(kInfoBlockSize, 0), 0x06);
  Send(kCmdReset, 0, 0, {}, 0x00);
  EXPECT_EQ(Ask(kCmdWriteValue, 0x0800FC00, 4, {0x79, 0x00}), kNoReply);
  EXPECT_EQ(Ask(kCmdWriteData, 0x08000000, 0, {}), kNoReply);
  EXPECT_EQ(Ask(kCmdWriteData, 0x08000000, 47, Bytes(47, 1)), kNoReply);
  EXPECT_EQ(model->ResetCount(), 0);
  EXPECT_TRUE(model->Stamps().empty());
  EXPECT_TRUE(model->WrittenRegions().empty());
  EXPECT_EQ(model->IgnoredFrames(), 5);
}

TEST_F(BootControllerTest, EraseAnswersBusyPerRegionThenDone) {
  Start({{"erase.busy", "2"}});
  // The second region is asked before the first is done, so the first is
  // never erased; a region asked again after it was done is busy again.
  const uint32_t regions[] = {0x08000000u, kAddressAtMcu | 0x08008000u, 0x08008000u, 0x08008000u};
  const uint32_t busyAnswers[] = {1, 2, 2, 2};
  for (size_t i = 0; i < 4; ++i) {
    for (uint32_t busy = 0; busy < busyAnswers[i]; ++busy) {
      EXPECT_EQ(Ask(kCmdErase, regions[i], kEraseUnit), kStatusBusy) << i;
    }
    if (i > 0) {
      EXPECT_EQ(Ask(kCmdErase, regions[i], kEraseUnit), kStatusDone) << i;
    }
  }
  EXPECT_EQ(model->ErasedRegions(), (std::vector<Erased>{{"at", 0x08008000u, kEraseUnit},
                                                        {"main", 0x08008000u, kEraseUnit},
                                                        {"main", 0x08008000u, kEraseUnit}}));
}

TEST_F(BootControllerTest, FailingChunkIsAnsweredAfterItsFailedAttempts) {
  Start({{"write.fail", "2:2"}});
  // Two records: the chunk count runs on across them.
  EXPECT_EQ(Ask(kCmdWriteData, 0x08000000, 46, Pattern(46, 0)), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteData, 0x08004000, 10, Pattern(10, 0x40)), kStatusDone);
  // Writing an acknowledged address again is the next chunk, not a resend.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(Ask(kCmdWriteData, 0x08004000, 10, Pattern(4, 0x90)), kNoReply) << attempt;
    EXPECT_EQ(model->WrittenRegions()[1].bytes, Pattern(10, 0x40));
  }
  EXPECT_EQ(Ask(kCmdWriteData, 0x08004000, 10, Pattern(4, 0x90)), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteData, 0x0800400A, 10, Pattern(2, 0xA0)), kStatusDone);
  EXPECT_EQ(model->WrittenRegions()[1].bytes,
            (Bytes{0x90, 0x91, 0x92, 0x93, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0xA0, 0xA1}));
}

TEST_F(BootControllerTest, ThreeFailedAttemptsMeanTheChunkIsNeverAnswered) {
  Start({{"write.fail", "0:3"}});
  for (int attempt = 0; attempt < 10; ++attempt) {
    EXPECT_EQ(Ask(kCmdWriteData, 0x08000000, 46, Pattern(46, 0)), kNoReply);
  }
  EXPECT_TRUE(model->WrittenRegions().empty());
  EXPECT_EQ(model->FramesReceived(kCmdWriteData), 10);
}

TEST_F(BootControllerTest, SmallUpdateLeavesRegionsStampAndReset) {
  Start();
  EXPECT_EQ(Ask(kCmdErase, 0x08000000, kEraseUnit), kStatusDone);
  EXPECT_EQ(Ask(kCmdErase, kAddressAtMcu | 0x00010000, kEraseUnit), kStatusDone);
  // The ATmcu's chunk goes first; the main mcu's three chunks run on.
  EXPECT_EQ(Ask(kCmdWriteData, kAddressAtMcu | 0x00010000, 5, Pattern(5, 0xA0)), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteData, 0x08000000, 102, Pattern(46, 0)), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteData, 0x0800002E, 102, Pattern(46, 46)), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteData, 0x0800005C, 102, Pattern(10, 92)), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteValue, 0x0800FC00, 4, {0x79, 0x00, 0x01, 0x00}), kStatusDone);
  EXPECT_EQ(InfoVersion(kAddressMain), 0x00010079u);  // the block shows the stamp from now on
  EXPECT_EQ(Ask(kCmdReset, 0), kStatusDone);

  EXPECT_EQ(model->WrittenRegions(), (std::vector<Region>{{"at", 0x00010000u, Pattern(5, 0xA0)},
                                                 {"main", 0x08000000u, Pattern(102, 0)}}));
  EXPECT_EQ(model->Stamps(), (std::vector<Stamp>{{"main", 0x0800FC00u, 0x00010079u}}));
  EXPECT_EQ(model->ResetCount(), 1);
  EXPECT_EQ(model->WritesOutsideErased(), 0);
}

TEST_F(BootControllerTest, OneThatKeepsNoFlashStillAnswersAndRunsWhatItWasStamped) {
  Start({}, false);
  EXPECT_EQ(Ask(kCmdErase, 0x08000000, kEraseUnit), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteData, 0x08000000, 102, Pattern(46, 0)), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteData, 0x0800F000, 102, Pattern(46, 0)), kStatusDone);
  EXPECT_EQ(Ask(kCmdWriteValue, 0x0800FC00, 4, {0x83, 0x00, 0x00, 0x00}), kStatusDone);
  EXPECT_EQ(InfoVersion(kAddressMain), 131u);
  EXPECT_TRUE(model->WrittenRegions().empty());
  EXPECT_EQ(model->WritesOutsideErased(), 1);
}

TEST_F(BootControllerTest, SilentCommandsStillActAndResetStartsTheChunkCountAgain) {
  // The controller stays on the bus through its resets, so that the second round follows at once.
  Start({{"erase", "silent"}, {"erase.busy", "3"}, {"setversion", "silent"}, {"reset", "silent"},
         {"write.fail", "0:1"}, {"reset.replug", "0"}});
  for (uint32_t address : {0x08000000u, 0x08000004u}) {
    EXPECT_EQ(Ask(kCmdErase, kAddressAtMcu, kEraseUnit), kNoReply);
    EXPECT_EQ(Ask(kCmdWriteData, address, 4, Pattern(4, 0)), kNoReply) << address;
    EXPECT_EQ(Ask(kCmdWriteData, address, 4, Pattern(4, 0)), kStatusDone) << address;
    EXPECT_EQ(Ask(kCmdWriteValue, kAddressAtMcu | 0x0001FC00, 4, {0x6F, 0, 3, 0}), kNoReply);
    EXPECT_EQ(Ask(kCmdReset, 0), kNoReply);
  }
  EXPECT_EQ(model->ResetCount(), 2);
  EXPECT_EQ(model->ErasedRegions(), (std::vector<Erased>(2, {"at", 0, kEraseUnit})));
  EXPECT_EQ(model->Stamps(), (std::vector<Stamp>(2, {"at", 0x0001FC00u, 0x0003006Fu})));
  EXPECT_EQ(InfoVersion(kAddressAtMcu), 0x0003006Fu);
}

using NoticeLog = test::NoticeCollector;  // the notices a bus sends, in order

constexpr uint32_t kAway = SimBootController::kResetAwayMs;
const std::vector<DeviceChange> kLeft = {DeviceChange::kRemoval};
const std::vector<DeviceChange> kLeftAndBack = {DeviceChange::kRemoval, DeviceChange::kArrival};

TEST_F(BootControllerTest, AtItsResetTheControllerLeavesAndComesBackRunningWhatItWasStamped) {
  NoticeLog notices;
  bus.RegisterNotify(notices);
  struct Case {
    std::vector<std::pair<std::string, std::string>> settings;
    uint32_t latencyMs;
    uint32_t resetReply;
  };
  const Case cases[] = {
      {{}, 0, kStatusDone},
      {{{"latency.ms", "50"}}, 50, kStatusDone},  // its leaving does not lose the acknowledgement
      {{{"reset", "silent"}}, 0, kNoReply},       // an unanswered reset resets all the same
  };
  const auto onBus = [this](const std::string& path) {
    const std::vector<std::string> paths = bus.EnumerateInterfaces();
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.latencyMs);
    Start(c.settings);
    notices.Clear();
    const std::string path = bus.PathOf(device);
    EXPECT_EQ(Ask(kCmdWriteValue, 0x0800FC00, 4, {0x83, 0, 0, 0}), kStatusDone);
    EXPECT_EQ(Ask(kCmdWriteValue, kAddressAtMcu | 0x0001FC00, 4, {0x84, 0, 1, 0}), kStatusDone);
    EXPECT_EQ(Ask(kCmdWriteValue, 0x0800F000, 4, {0x99, 0, 0, 0}), kStatusDone);  // not at VerAddr
    const uint64_t reset = clock.NowMs();
    EXPECT_EQ(Ask(kCmdReset, 0), c.resetReply);

    EXPECT_FALSE(onBus(path));
    EXPECT_EQ(notices.Events(), kLeft);
    const Bytes frame(1 + kFrameSize, 0);
    EXPECT_FALSE(bus.WriteReport(writer, frame.data(), frame.size()));
    EXPECT_FALSE(Read());
    clock.AdvanceTo(reset + c.latencyMs + kAway - 1);
    EXPECT_FALSE(onBus(path));
    clock.SleepMs(1);
    EXPECT_TRUE(onBus(path));
    EXPECT_EQ(notices.Events(), kLeftAndBack);
    // Handles of before the reset stay dead; new ones reach the controller.
    EXPECT_FALSE(bus.WriteReport(writer, frame.data(), frame.size()));
    writer = bus.Open(path, HidOpenMode::kWriteSync);
    reader = bus.Open(path, HidOpenMode::kReadOverlapped);
    EXPECT_EQ(InfoVersion(kAddressMain), 0x83u);
    EXPECT_EQ(InfoVersion(kAddressAtMcu), 0x00010084u);
    EXPECT_EQ(model->ResetCount(), 1);
  }
}

TEST_F(BootControllerTest, WithReplugOffTheControllerStaysThroughItsReset) {
  NoticeLog notices;
  bus.RegisterNotify(notices);
  Start({{"reset.replug", "0"}});
  EXPECT_EQ(Ask(kCmdWriteValue, 0x0800FC00, 4, {0x83, 0, 0, 0}), kStatusDone);
  EXPECT_EQ(Ask(kCmdReset, 0), kStatusDone);
  clock.SleepMs(2 * kAway);
  EXPECT_EQ(bus.EnumerateInterfaces(), std::vector<std::string>{bus.PathOf(device)});
  EXPECT_TRUE(notices.Events().empty());
  EXPECT_EQ(InfoVersion(kAddressMain), 0x83u);  // on the handles of before
}

TEST(SimBootResetTest, OnARealClockTheControllerComesBackWithoutAnyBusCall) {
  SteadyClock clock;
  SimHidBus bus(clock);
  NoticeLog notices;
  bus.RegisterNotify(notices);
  SimDeviceSetup setup;
  setup.vendorId = 0x5A3C;
  setup.productId = 0x7E23;
  setup.model = std::make_shared<SimBootController>();
  const int device = bus.Plug(setup, false);
  const HidHandle writer = bus.Open(bus.PathOf(device), HidOpenMode::kWriteSync);
  Bytes reset(1 + kFrameSize, 0);
  reset[1 + kFrameMarker] = kMarker;
  PutLe16(&reset[1 + kFrameCommand], kCmdReset);
  ASSERT_TRUE(bus.WriteReport(writer, reset.data(), reset.size()));
  for (int i = 0; i < 400 && notices.Events().size() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(notices.Events(), kLeftAndBack);
  EXPECT_TRUE(bus.IsPresent(device));
}

TEST_F(BootControllerTest, WritesOutsideErasedFlashAndEraseAfterWrite) {
  Start();
  Send(kCmdErase, 0x08000000, kEraseUnit);
  Send(kCmdWriteData, 0x08007FF0, 32, Pattern(32, 0));  // runs past the region's end
  Send(kCmdWriteData, kAddressAtMcu | 0x08000000, 4, Pattern(4, 0));  // other mcu's flash
  EXPECT_EQ(model->WritesOutsideErased(), 2);
  EXPECT_EQ(model->WrittenRegions().size(), 2u);
  Send(kCmdErase, 0x08000000, kEraseUnit);  // takes the written bytes inside it away
  EXPECT_EQ(model->WrittenRegions(), (std::vector<Region>{{"main", 0x08008000u, Pattern(16, 16)},
                                                 {"at", 0x08000000u, Pattern(4, 0)}}));
  // Bytes written in front of the main run later join it, and it stays first.
  Send(kCmdWriteData, 0x08007FFC, 4, Pattern(4, 12));
  EXPECT_EQ(model->WrittenRegions(), (std::vector<Region>{{"main", 0x08007FFCu, Pattern(20, 12)},
                                                 {"at", 0x08000000u, Pattern(4, 0)}}));
}

TEST_F(BootControllerTest, OverwritesAcrossPagesKeepFirstWriteOrderAndErasesSplitRuns) {
  Start();
  // Two runs a page boundary apart, the later-written one at the lower address.
  Send(kCmdWriteData, 0x08001000, 40, Pattern(40, 100));
  Send(kCmdWriteData, 0x08000FE0, 32, Pattern(32, 0));  // ends where the first begins
  EXPECT_EQ(model->WrittenRegions(),
            (std::vector<Region>{{"main", 0x08000FE0u, test::Concat({Pattern(32, 0), Pattern(40, 100)})}}));
  // An overwrite spanning both changes bytes, not the order of first writes.
  Send(kCmdWriteData, 0x08000FFC, 8, Bytes(8, 0xEE));
  Send(kCmdWriteData, 0x08003000, 4, Pattern(4, 7));
  // Erasing the middle leaves a head written second and a tail written first:
  // the tail now orders before the head.
  Send(kCmdErase, 0x08000FF0, 0x18);
  Bytes tail = Pattern(40, 100);
  tail.erase(tail.begin(), tail.begin() + 8);
  EXPECT_EQ(model->WrittenRegions(), (std::vector<Region>{{"main", 0x08001008u, tail},
                                                         {"main", 0x08000FE0u, Pattern(16, 0)},
                                                         {"main", 0x08003000u, Pattern(4, 7)}}));
  Send(kCmdErase, 0x08000000, 0x10000);
  EXPECT_TRUE(model->WrittenRegions().empty());
}

TEST_F(BootControllerTest, ReconfigureKeepsTheStampedVersionAndActsFromTheNextFrame) {
  Start();
  EXPECT_EQ(Ask(kCmdWriteValue, 0x0800FC00, 4, {0x7B, 0, 0, 0}), kStatusDone);
  model->Reconfigure([](SimBootConfig& config) {
    EXPECT_EQ(config.main.version, 0x7Bu);
    config.eraseAnswers = false;
    config.at.version = 0x00010070;
  });
  EXPECT_EQ(Ask(kCmdErase, 0x08000000, kEraseUnit), kNoReply);
  EXPECT_EQ(InfoVersion(kAddressMain), 0x7Bu);
  EXPECT_EQ(InfoVersion(kAddressAtMcu), 0x00010070u);
}

TEST_F(BootControllerTest, RepliesArriveAfterTheLatency) {
  Start({{"latency.ms", "250"}});
  const uint64_t sent = clock.NowMs();
  SendInfo(kAddressMain);
  EXPECT_FALSE(Read(249));
  EXPECT_TRUE(Read(100));
  EXPECT_EQ(clock.NowMs() - sent, 250u);
}

TEST_F(BootControllerTest, TwoWritersAtOnce) {
  Start();
  auto writeInfo = [this](uint32_t address) {
    for (int i = 0; i < 20; ++i) SendInfo(address);
  };
  std::thread other(writeInfo, kAddressAtMcu);
  writeInfo(kAddressMain);
  other.join();
  EXPECT_EQ(ReadAll().size(), 40u);
  EXPECT_EQ(model->FramesReceived(kCmdGetInfo), 40);
}

TEST(SimBootSettingTest, RejectsBadValuesWithOneLineAndLeavesTheConfigAlone) {
  const std::pair<const char*, const char*> bad[] = {
      {"main.pid", "0x10000"},     {"at.pid", "65536"},         {"main.revision", "0x1FFFF"},
      {"main.version", "0x100000000"}, {"main.veraddr", "4294967296"}, {"at.veraddr", "-1"},
      {"at.version", "12x"},       {"main.pid", ""},            {"main.pid", "0x"},
      {"main.pid", " 5"},          {"main.pid", "+5"},          {"info.main", "loud"},
      {"info.at", "OK"},           {"erase", "wrong"},          {"erase.busy", "-2"},
      {"write.fail", "3"},         {"write.fail", "3:"},        {"write.fail", ":2"},
      {"write.fail", "1:2:3"},     {"setversion", ""},          {"reset", "no"},
      {"latency.ms", "1.5"},       {"reset.replug", "yes"},     {"reset.replug", "2"}};
  for (const auto& [key, value] : bad) {
    SimBootConfig config;
    std::string error;
    EXPECT_FALSE(ApplySimBootSetting(key, value, config, error)) << key << "=" << value;
    EXPECT_FALSE(error.empty()) << key << "=" << value;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_FALSE(config.writeFail);
    EXPECT_EQ(config.main.pid, SimBootConfig{}.main.pid);
  }
}

TEST(SimBootSettingTest, OtherKeysAreLeftToTheCallerWithoutAnError) {
  for (const char* key : {"clock", "unplug.after", "main", "main.pidx", "at.revision", "info"}) {
    SimBootConfig config;
    std::string error = "stale";
    EXPECT_FALSE(ApplySimBootSetting(key, "1", config, error)) << key;
    EXPECT_TRUE(error.empty()) << key;
  }
}

}  // namespace
}  // namespace tarvik
