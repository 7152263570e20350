#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/device_rig.h"
#include "tests/support/scripted_model.h"
#include "update/boot_command_channel.h"

namespace tarvik {
namespace {

using namespace boot;
using Bytes = std::vector<uint8_t>;

class BootChannelTest : public ::testing::Test, protected test::DeviceRig {
 protected:
  std::atomic<bool> abort{false};
  CBootChannel channel{hid, diag, clock, abort};
  std::vector<uint64_t> frameTimes;

  // Connects a boot-mode controller whose answers `script` gives.
  void Connect(test::ScriptedModel::Script script) {
    SimDeviceSetup setup = ControllerSetup(3);
    setup.model = std::make_shared<test::ScriptedModel>(
        [this, script](const Bytes& report, SimDevicePort& port) {
          frameTimes.push_back(port.NowMs());
          if (script) script(report, port);
        });
    device = bus.Plug(setup, false);
    ASSERT_TRUE(hid.SearchDevice());
    ASSERT_TRUE(hid.OpenHid());
  }
  std::vector<Bytes> Frames() { return bus.ReportsWrittenTo(device); }
  size_t Reads() {
    size_t reads = 0;
    for (const auto& e : bus.Exchanges()) reads += e.direction == SimExchange::Direction::kIn;
    return reads;
  }
};

Bytes Frame(std::initializer_list<uint8_t> head, size_t size = 64) {
  Bytes frame(head);
  frame.resize(size, 0);
  return frame;
}

TEST(BootFrameTest, FieldsSitAtTheirOffsetsAndDataIsCappedAt46) {
  uint8_t data[60];
  for (int i = 0; i < 60; ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
  uint32_t bytes = 0;
  const auto frame = BuildBootCommandFrame(data, 60, 0x80001234, 0x100, kCmdWriteData, bytes);
  EXPECT_EQ(bytes, 63u);
  EXPECT_EQ(frame[0], 0x05);
  EXPECT_EQ(GetLe16(&frame[1]), 3);
  EXPECT_EQ(GetLe16(&frame[3]), 0);
  EXPECT_EQ(GetLe32(&frame[5]), 46u);
  EXPECT_EQ(GetLe32(&frame[9]), 0x100u);
  EXPECT_EQ(GetLe32(&frame[13]), 0x80001234u);
  EXPECT_EQ(frame[17], 0xA0);
  EXPECT_EQ(frame[62], 0xA0 + 45);
  EXPECT_EQ(frame[63], 0);
}

TEST(BootFrameTest, InformationRequestSends17BytesWithDataLength46) {
  uint32_t bytes = 0;
  const auto frame = BuildBootCommandFrame(nullptr, 46, kAddressAtMcu, 46, kCmdGetInfo, bytes);
  EXPECT_EQ(bytes, 17u);
  EXPECT_EQ(GetLe32(&frame[5]), 46u);
  EXPECT_EQ(GetLe16(&frame[1]), 192);
}

TEST_F(BootChannelTest, EraseRoundsTheLengthUpTo32KiB) {
  Connect([](const Bytes& r, SimDevicePort& port) { port.SendInputReport(test::BootReply(test::BootCommandOf(r))); });
  const uint32_t lengths[] = {0, 1, 32768, 32769};
  const uint32_t totals[] = {0, 32768, 32768, 65536};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(channel.EraseFlash(kCmdErase, 0x08004000, lengths[i]).ok());
    const Bytes frame = Frames().back();
    EXPECT_EQ(GetLe32(&frame[1 + kFrameTotalLength]), totals[i]) << lengths[i];
    EXPECT_EQ(GetLe32(&frame[1 + kFrameDataLength]), 0u);
    EXPECT_EQ(GetLe32(&frame[1 + kFrameAddress]), 0x08004000u);
  }
}

TEST_F(BootChannelTest, EraseBusyAnswersDoNotUseUpTheTries) {
  int erases = 0;
  Connect([&](const Bytes& r, SimDevicePort& port) {
    ++erases;
    port.SendInputReport(test::BootReply(test::BootCommandOf(r), erases <= 3 ? kStatusBusy : kStatusDone));
  });
  EXPECT_TRUE(channel.EraseFlash(kCmdErase, 0, 100).ok());
  EXPECT_EQ(erases, 4);
  EXPECT_EQ(clock.NowMs(), 4000u);
}

TEST_F(BootChannelTest, EraseNeverAnsweredSendsElevenFramesASecondApart) {
  Connect({});
  hid.SetReadTimeout(10);
  EXPECT_FALSE(channel.EraseFlash(kCmdErase, 0, 100).ok());
  ASSERT_EQ(frameTimes.size(), 11u);
  for (size_t i = 1; i < frameTimes.size(); ++i) EXPECT_EQ(frameTimes[i] - frameTimes[i - 1], 1010u);
  EXPECT_EQ(Reads(), 0u);
  for (const Bytes& f : Frames()) EXPECT_EQ(f, Frames()[0]);
}

// The waits count from when the bus took the frame, not from when its write
// returned: a device that holds each write for 3 ms after taking it delays
// nothing. An unanswered erase is sent again 1000 ms and a 10 ms read later;
// an acknowledged write ends at its first poll, 5 ms after its frame.
TEST_F(BootChannelTest, AWaitCountsFromWhenTheBusTookTheFrame) {
  Connect([this](const Bytes& r, SimDevicePort& port) {
    clock.SleepMs(3);
    if (test::BootCommandOf(r) == kCmdWriteData) port.SendInputReport(test::BootReply(kCmdWriteData));
  });
  hid.SetReadTimeout(10);
  EXPECT_FALSE(channel.EraseFlash(kCmdErase, 0, 100).ok());
  ASSERT_EQ(frameTimes.size(), 11u);
  EXPECT_EQ(frameTimes[1] - frameTimes[0], 1010u);

  uint8_t data[46] = {};
  EXPECT_TRUE(channel.WriteFlash(data, 0, 46, 46, FlashWrite::kFirmwareData).ok());
  EXPECT_EQ(clock.NowMs() - frameTimes.back(), 5u);
}

TEST_F(BootChannelTest, EraseThatStaysBusyGivesUpAfterSixtyAnswers) {
  int erases = 0;
  Connect([&](const Bytes& r, SimDevicePort& port) {
    ++erases;
    port.SendInputReport(test::BootReply(test::BootCommandOf(r), kStatusBusy));
  });
  EXPECT_FALSE(channel.EraseFlash(kCmdErase, 0, 100).ok());
  EXPECT_EQ(erases, CBootChannel::kMaxBusyAnswers);
}

TEST_F(BootChannelTest, WriteSendsItsAddressAndLogsTheCallersLength) {
  test::TempDir logDir;
  system.currentDirectory = logDir.Path().string();
  std::ofstream(logDir.Path() / "log.txt").flush();
  diag.CheckLogEnabled();
  Connect({});
  hid.SetReadTimeout(10);
  uint8_t data[60] = {};
  EXPECT_FALSE(channel.WriteFlash(data, 0x80001000, 60, 200, FlashWrite::kFirmwareData).ok());
  ASSERT_EQ(Frames().size(), 1u);  // the frame is not sent again
  EXPECT_EQ(GetLe32(&Frames()[0][1 + kFrameAddress]), 0x80001000u);
  EXPECT_EQ(GetLe32(&Frames()[0][1 + kFrameDataLength]), 46u);
  EXPECT_EQ(clock.NowMs(), 100u * 15u);  // 100 polls: 5 ms wait and a 10 ms read each
  std::ifstream log(logDir.Path() / "log.txt", std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "[Write error]address=0x80001000 len=0x3c\r\n");

  channel.WriteFlash(data, 0x1000, 4, 4, FlashWrite::kValue);
  EXPECT_EQ(GetLe32(&Frames()[1][1 + kFrameAddress]), 0x1000u);
  EXPECT_EQ(test::BootCommandOf(Frames()[1]), kCmdWriteValue);
}

TEST_F(BootChannelTest, WriteAcknowledgedOnALatePoll) {
  Connect([](const Bytes& r, SimDevicePort& port) {
    port.SendInputReport(test::BootReply(test::BootCommandOf(r)), 42);
  });
  hid.SetReadTimeout(10);
  uint8_t data[46] = {};
  EXPECT_TRUE(channel.WriteFlash(data, 0, 46, 46, FlashWrite::kFirmwareData).ok());
  EXPECT_LT(clock.NowMs(), 60u);
}

TEST_F(BootChannelTest, InformationNeverAnsweredReadsFiveTimesAndSendsSixFrames) {
  Connect({});
  channel.SetAddressSelect(kAddressAtMcu);
  uint8_t block[46] = {};
  EXPECT_FALSE(channel.GetDeviceInfo(block, 46).ok());
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 6u);
  for (const Bytes& f : frames) {
    // Every repeat carries the first request's lengths and address.
    EXPECT_EQ(f, frames[0]);
    EXPECT_EQ(GetLe32(&f[1 + kFrameAddress]), kAddressAtMcu);
    EXPECT_EQ(GetLe32(&f[1 + kFrameTotalLength]), 46u);
  }
  EXPECT_EQ(clock.NowMs(), 5u * (200 + 300));
}

TEST_F(BootChannelTest, InformationAnsweredOnlyByOtherRepliesReadsFiveTimesWithOneFrame) {
  Connect([](const Bytes&, SimDevicePort& port) {
    for (int i = 0; i < 6; ++i) port.SendInputReport(test::BootReply(kCmdErase));
  });
  uint8_t block[46] = {};
  EXPECT_FALSE(channel.GetDeviceInfo(block, 46).ok());
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Reads(), 5u);
  EXPECT_EQ(clock.NowMs(), 0u);
}

TEST_F(BootChannelTest, InformationBlockIsCopiedFromReplyOffset18) {
  Connect([](const Bytes&, SimDevicePort& port) {
    Bytes reply = test::BootReply(kCmdGetInfo);
    for (int i = 0; i < 46; ++i) reply[1 + kReplyData + i] = static_cast<uint8_t>(i + 1);
    port.SendInputReport(reply);
  });
  uint8_t block[46] = {};
  EXPECT_TRUE(channel.GetDeviceInfo(block, 46).ok());
  for (int i = 0; i < 46; ++i) ASSERT_EQ(block[i], i + 1);
}

TEST_F(BootChannelTest, RepliesThatFailAnyTestDoNotAcknowledge) {
  struct Case {
    uint8_t lead, marker;
    uint16_t status, echo;
  };
  const Case cases[] = {{0x01, 0x05, 0, 7}, {0x00, 0x06, 0, 7}, {0x00, 0x05, 1, 7}, {0x00, 0x05, 0, 4}};
  for (const Case& c : cases) {
    Bytes reply = test::BootReply(c.echo, c.status, c.lead, c.marker);
    Connect([reply](const Bytes&, SimDevicePort& port) { port.SendInputReport(reply); });
    EXPECT_FALSE(channel.ResetDevice().ok());
    bus.Unplug(device, false);
  }
  Connect([](const Bytes& r, SimDevicePort& port) { port.SendInputReport(test::BootReply(test::BootCommandOf(r))); });
  EXPECT_TRUE(channel.ResetDevice().ok());
}

TEST_F(BootChannelTest, ResetWithoutReplyFailsAfterOneRead) {
  Connect({});
  EXPECT_EQ(channel.ResetDevice().reason().code, ReasonCode::kResetUnanswered);
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_EQ(clock.NowMs(), 200u);
  const Bytes expected = Frame({0x00, 0x05, 0x07}, 65);
  EXPECT_EQ(Frames()[0], expected);
}

TEST_F(BootChannelTest, NoFrameLeavesOnceStopped) {
  Connect({});
  abort = true;
  uint8_t block[46] = {};
  EXPECT_FALSE(channel.EraseFlash(kCmdErase, 0, 1).ok());
  EXPECT_FALSE(channel.WriteFlash(block, 0, 4, 4, FlashWrite::kFirmwareData).ok());
  EXPECT_FALSE(channel.GetDeviceInfo(block, 46).ok());
  EXPECT_FALSE(channel.ResetDevice().ok());
  EXPECT_TRUE(Frames().empty());
}

}  // namespace
}  // namespace tarvik
