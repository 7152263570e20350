// Packet frames and how they travel in reports of report modes 1 and 2.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/device_rig.h"
#include "update/packet_protocol.h"

namespace tarvik {
namespace {

using namespace packet;
using Bytes = std::vector<uint8_t>;

class PacketFrameTest : public ::testing::Test, protected test::DeviceRig {
 protected:
  // The reports written so far, each as the report data after the report ID;
  // checks the report ID and size of the mode on the way.
  std::vector<Bytes> Sent() {
    std::vector<Bytes> data;
    for (const Bytes& report : bus.ReportsWrittenTo(device)) {
      const bool mode1 = hid.Mode() == ReportMode::kPacketNumbered;
      EXPECT_EQ(report.size(), mode1 ? 64u : 65u);
      EXPECT_EQ(report[0], mode1 ? 0x81 : 0x00);
      data.emplace_back(report.begin() + 1, report.end());
    }
    return data;
  }
  static Bytes Data(std::initializer_list<uint8_t> head, size_t size) {
    Bytes data(head);
    data.resize(size, 0);
    return data;
  }
};

TEST_F(PacketFrameTest, ShortFramesAndCommandsWithoutPayloadInBothModes) {
  for (int row : {1, 2}) {
    Connect(row);
    const size_t size = row == 1 ? 63 : 64;
    SendFirmwarePacket(hid, diag, kCmdVersion, nullptr, 0);
    SendFirmwarePacket(hid, diag, kCmdEnd, nullptr, -1);
    SendShortFrame(hid, kTypeStartRequest, 0);
    SendShortFrame(hid, kTypeReceiveFailure, 0);
    const std::vector<Bytes> expected = {
        Data({0x05, 0x00, 0x16, 0x01, 0x00, 0x04}, size), Data({0x05, 0x00, 0x16, 0x01, 0x00, 0x02}, size),
        Data({0x05, 0x00, 0x1A, 0x01, 0x00, 0x00}, size), Data({0x05, 0x00, 0x1D, 0x01, 0x00, 0x00}, size)};
    EXPECT_EQ(Sent(), expected) << "row " << row;
    bus.Unplug(device, false);
  }
  const auto trace = system.TraceLines();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "SendFirmwarePacket cmd 4\n"), 2);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "SendFirmwarePacket cmd 2\n"), 2);
}

TEST_F(PacketFrameTest, HeaderPacketCarriesItsTwentyEightBytesInOneReport) {
  Connect(2);
  Bytes payload(28);
  for (int i = 0; i < 28; ++i) payload[i] = static_cast<uint8_t>(0xC0 + i);
  SendFirmwarePacket(hid, diag, kCmdHeader, payload.data(), 28);
  Bytes expected = {0x23, 0x00, 0x16, 0x1F, 0x00, 0x01, 0x1C, 0x00};
  expected.insert(expected.end(), payload.begin(), payload.end());
  expected.resize(64, 0);
  EXPECT_EQ(Sent(), std::vector<Bytes>{expected});
}

TEST_F(PacketFrameTest, DataPacketsGoInPiecesOfAtMost39FrameBytes) {
  Connect(1);
  Bytes payload(32, 0xAB);
  SendFirmwarePacket(hid, diag, kCmdData, payload.data(), 32);
  SendFirmwarePacket(hid, diag, kCmdData, payload.data(), 0);  // the file had no more bytes
  Bytes full = {0x27, 0x00, 0x16, 0x23, 0x00, 0x00, 0x20, 0x00};
  full.insert(full.end(), payload.begin(), payload.end());
  full.resize(63, 0);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{full, Data({0x05, 0x00, 0x16, 0x01, 0x00, 0x00}, 63)}));
  EXPECT_EQ(system.TraceLines(),
            (std::vector<std::string>{"m_DevicePath:" + bus.PathOf(device) + "\n",
                                      "WriteHid 39 btye sucessful\n", "WriteHid 5 btye sucessful\n"}));

  // A longer frame: 80 payload bytes make 87 frame bytes, sent as 39 + 39 + 9.
  Bytes longer(80);
  for (int i = 0; i < 80; ++i) longer[i] = static_cast<uint8_t>(i);
  SendFirmwarePacket(hid, diag, kCmdData, longer.data(), 80);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[2][0], 39);
  EXPECT_EQ(sent[3][0], 39);
  EXPECT_EQ(sent[4][0], 9);
  EXPECT_EQ(sent[3][1], 32);  // frame byte 39 = payload byte 32: no header in later pieces
  EXPECT_EQ(sent[4][9], 79);
}

TEST_F(PacketFrameTest, FailedPieceStopsTheRestOfTheFrame) {
  Connect(2);
  bus.UnplugAfterOutputs(device, 1);
  Bytes longer(80, 1);
  EXPECT_EQ(SendFirmwarePacket(hid, diag, kCmdData, longer.data(), 80), 0);
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_EQ(system.TraceLines().back(), "WriteHid error\n");
}

TEST_F(PacketFrameTest, ModeTwoSignalOnlyInReportModeTwo) {
  Connect(1);
  EXPECT_FALSE(ReopenAndSignal(hid));
  EXPECT_TRUE(Sent().empty());
  hid.SetReadTimeout(10);
  EXPECT_EQ(hid.ReadTimeout(), 10u);  // no reopen either

  bus.Unplug(device, false);
  Connect(2);
  hid.SetReadTimeout(10);
  EXPECT_TRUE(ReopenAndSignal(hid));
  EXPECT_EQ(hid.ReadTimeout(), 200u);
  EXPECT_EQ(Sent(), std::vector<Bytes>{Data({0x05, 0x00, 0x50, 0x01, 0x00, 0x00}, 64)});
}

}  // namespace
}  // namespace tarvik
