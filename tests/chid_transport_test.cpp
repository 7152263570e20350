#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <thread>

#include "tests/support/device_rig.h"

namespace tarvik {
namespace {

using Bytes = std::vector<uint8_t>;

class TransportTest : public ::testing::Test, protected test::DeviceRig {
 protected:
  Bytes LastWritten() {
    const auto written = bus.ReportsWrittenTo(device);
    return written.empty() ? Bytes{} : written.back();
  }
};

TEST_F(TransportTest, ReportModeOneFramesSixtyFourBytesWithId0x81) {
  Connect(1);
  const uint8_t payload[4] = {0x05, 0x00, 0x16, 0x01};
  EXPECT_NE(hid.WriteHid(payload, 4), 0);
  Bytes expected(64, 0);
  expected[0] = 0x81;
  std::memcpy(&expected[1], payload, 4);
  EXPECT_EQ(LastWritten(), expected);
}

TEST_F(TransportTest, ReportModesTwoAndThreeFrameSixtyFiveBytesWithId0) {
  for (int row : {2, 3}) {
    Connect(row);
    const uint8_t payload[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    EXPECT_NE(hid.WriteHid(payload, 4), 0);
    Bytes expected(65, 0);
    std::memcpy(&expected[1], payload, 4);
    EXPECT_EQ(LastWritten(), expected) << "row " << row;
    bus.Unplug(device, false);
  }
}

TEST_F(TransportTest, LengthZeroSendsTheFirstByteAndZerosAndOnlyTheLowByteCounts) {
  Connect(3);
  const uint8_t payload[64] = {1, 2, 3};
  EXPECT_NE(hid.WriteHid(payload, 0), 0);
  EXPECT_EQ(LastWritten(), Bytes(65, 0));
  EXPECT_NE(hid.WriteHid(payload, 0x102), 0);  // two payload bytes
  Bytes expected(65, 0);
  expected[1] = 1;
  expected[2] = 2;
  EXPECT_EQ(LastWritten(), expected);
}

TEST_F(TransportTest, ModeOneDropsTheSixtyFourthPayloadByte) {
  Connect(1);
  uint8_t payload[64];
  for (int i = 0; i < 64; ++i) payload[i] = static_cast<uint8_t>(i + 1);
  EXPECT_NE(hid.WriteHid(payload, 64), 0);
  const Bytes written = LastWritten();
  ASSERT_EQ(written.size(), 64u);
  EXPECT_EQ(written[63], 63);
}

TEST_F(TransportTest, ReadBeforeAnyOpenReturns128AndWriteFails) {
  PlugRow(3);
  ASSERT_TRUE(hid.SearchDevice());
  uint8_t destination[64] = {};
  EXPECT_EQ(hid.ReadHid(destination, 64), kWaitAbandoned);
  EXPECT_EQ(hid.WriteHid(destination, 4), 0);
  EXPECT_EQ(clock.NowMs(), 0u);
}

TEST_F(TransportTest, TimeoutReturns258AfterTheReadTimeoutAndLeavesDestinationAlone) {
  Connect(3);
  uint8_t destination[64];
  std::memset(destination, 0xEE, sizeof destination);
  const uint64_t start = clock.NowMs();
  EXPECT_EQ(hid.ReadHid(destination, 64), kWaitTimeout);
  EXPECT_EQ(clock.NowMs() - start, 200u);
  for (uint8_t b : destination) ASSERT_EQ(b, 0xEE);
  hid.SetReadTimeout(10);
  EXPECT_EQ(hid.ReadHid(destination, 64), kWaitTimeout);
  EXPECT_EQ(clock.NowMs() - start, 210u);
}

TEST_F(TransportTest, ReceivedReportHandsOverTheBytesAfterTheReportId) {
  Connect(3);
  Bytes report(65);
  for (size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i);
  bus.SendInput(device, report, 30);
  uint8_t destination[64] = {};
  EXPECT_EQ(hid.ReadHid(destination, 64), kWaitReceived);
  EXPECT_EQ(clock.NowMs(), 30u);  // waited for the report, not the whole time-out
  for (int i = 0; i < 64; ++i) ASSERT_EQ(destination[i], i + 1);
}

TEST_F(TransportTest, ModeOneReadZeroFillsWhatDidNotArrive) {
  Connect(1);
  bus.SendInput(device, Bytes(64, 0x11));
  uint8_t destination[64];
  std::memset(destination, 0xEE, sizeof destination);
  EXPECT_EQ(hid.ReadHid(destination, 64), kWaitReceived);
  for (int i = 0; i < 63; ++i) ASSERT_EQ(destination[i], 0x11);
  EXPECT_EQ(destination[63], 0);
}

TEST_F(TransportTest, VanishedDeviceFailsReadsAndWritesAtOnce) {
  Connect(3);
  bus.Unplug(device, false);
  uint8_t destination[64] = {};
  const uint64_t start = clock.NowMs();
  EXPECT_EQ(hid.ReadHid(destination, 64), kWaitFailed);
  EXPECT_EQ(clock.NowMs(), start);
  EXPECT_EQ(hid.WriteHid(destination, 4), 0);
}

TEST_F(TransportTest, OpenHidAlwaysLeavesTheTimeoutAt200) {
  Connect(3);
  hid.SetReadTimeout(10);
  EXPECT_TRUE(hid.OpenHid());
  EXPECT_EQ(hid.ReadTimeout(), 200u);
}

TEST_F(TransportTest, FailedOpenReportsFalse) {
  device = PlugRow(3);
  ASSERT_TRUE(hid.SearchDevice());
  bus.SetOpenable(device, false);
  EXPECT_FALSE(hid.OpenHid());
  EXPECT_EQ(hid.ReadTimeout(), 10u);
}

TEST_F(TransportTest, ReopenReleasesEarlierHandlesUnlessAWorkerUsesThem) {
  Connect(3);
  EXPECT_EQ(bus.OpenHandleCount(), 2);
  ASSERT_TRUE(hid.OpenHid());
  EXPECT_EQ(bus.OpenHandleCount(), 2);

  hid.BeginWorkerUse();
  ASSERT_TRUE(hid.OpenHid());
  ASSERT_TRUE(hid.OpenHid());
  EXPECT_EQ(bus.OpenHandleCount(), 6);
  hid.EndWorkerUse();
  EXPECT_EQ(bus.OpenHandleCount(), 2);
}

TEST_F(TransportTest, ConcurrentWritesNeverInterleaveInOneReport) {
  Connect(3);
  auto writer = [&](uint8_t value) {
    uint8_t payload[63];
    std::memset(payload, value, sizeof payload);
    for (int i = 0; i < 300; ++i) hid.WriteHid(payload, sizeof payload);
  };
  std::thread a(writer, 0xA1);
  std::thread b(writer, 0xB2);
  a.join();
  b.join();
  const auto written = bus.ReportsWrittenTo(device);
  ASSERT_EQ(written.size(), 600u);
  for (const Bytes& report : written) {
    ASSERT_EQ(report[0], 0);
    for (size_t i = 2; i < 64; ++i) ASSERT_EQ(report[i], report[1]);
  }
}

TEST_F(TransportTest, ReadsAndReopenOnTwoThreadsShareHandlesSafely) {
  Connect(3);
  hid.SetReadTimeout(1);
  std::thread reader([&] {
    uint8_t destination[64];
    for (int i = 0; i < 200; ++i) hid.ReadHid(destination, 64);
  });
  for (int i = 0; i < 50; ++i) hid.OpenHid();
  reader.join();
  EXPECT_EQ(bus.OpenHandleCount(), 2);
}

}  // namespace
}  // namespace tarvik
