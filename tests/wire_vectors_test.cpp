// Wire vectors: the bytes the host puts on the wire and the replies it takes,
// each written out by hand from the two protocols' frame tables and worked
// examples. Nothing expected here is produced by the code under test; when a
// vector and the code disagree, the code is wrong.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "device/report_framing.h"
#include "tests/support/device_rig.h"
#include "tests/support/image_builder.h"
#include "tests/support/scripted_model.h"
#include "tests/support/window_rig.h"
#include "update/firmware_image.h"
#include "update/boot_command_channel.h"
#include "update/boot_wire.h"
#include "update/packet_protocol.h"

namespace tarvik {
namespace {

using Bytes = std::vector<uint8_t>;

// `head`, then zeros up to `size` bytes.
Bytes Padded(const Bytes& head, size_t size) {
  Bytes bytes(head);
  bytes.resize(size, 0);
  return bytes;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// ---------------------------------------------------------------------------
// Boot command protocol: command frames.

// A boot-mode output report: report ID 0x00, then the frame, zero to 65 bytes.
Bytes BootReport(const Bytes& frame) { return Padded(Cat({{0x00}, frame}), 65); }

class BootFrameWireTest : public ::testing::Test, protected test::DeviceRig {
 protected:
  std::atomic<bool> abort{false};
  CBootChannel channel{hid, diag, clock, abort};
  // The reply the controller gives to every frame; empty: one that acknowledges it.
  Bytes reply;

  void SetUp() override {
    SimDeviceSetup setup = ControllerSetup(3);
    setup.model = std::make_shared<test::ScriptedModel>([this](const Bytes& r, SimDevicePort& port) {
      port.SendInputReport(reply.empty() ? test::BootReply(test::BootCommandOf(r)) : reply);
    });
    device = bus.Plug(setup, false);
    ASSERT_TRUE(hid.SearchDevice());
    ASSERT_TRUE(hid.OpenHid());
  }
  std::vector<Bytes> Reports() { return bus.ReportsWrittenTo(device); }
};

TEST_F(BootFrameWireTest, EachCommandGoesOutAsItsFrame) {
  const Bytes sixty = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                       0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7,
                       0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xC1, 0xC2, 0xC3,
                       0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
                       0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB};
  const uint8_t four[] = {0x11, 0x22, 0x33, 0x44};
  struct Case {
    const char* what;
    uint32_t select;
    std::function<StepResult()> send;
    Bytes frame;  // marker, command, reserved, data length, total length, address, data
  };
  const Case cases[] = {
      {"erase of 0 bytes", 0, [&] { return channel.EraseFlash(4, 0x08004000, 0); },
       {0x05, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08}},
      {"erase of 1 byte", 0, [&] { return channel.EraseFlash(4, 0x08004000, 1); },
       {0x05, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08}},
      {"erase of 32768 bytes", 0, [&] { return channel.EraseFlash(4, 0x08004000, 32768); },
       {0x05, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08}},
      {"erase of 32769 bytes", 0, [&] { return channel.EraseFlash(4, 0x08004000, 32769); },
       {0x05, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00, 0x08}},
      {"erase leaves the address as given, whatever the select", 0x80000000,
       [&] { return channel.EraseFlash(4, 0x00010000, 100); },
       {0x05, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}},
      {"write of 60 bytes sends 46", 0, [&] { return channel.WriteFlash(sixty.data(), 0x08004000, 60, 300, FlashWrite::kFirmwareData); },
       {0x05, 0x03, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x2C, 0x01, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08,
        0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
        0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
        0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD}},
      {"write to the ATmcu carries bit 31", 0x80000000,
       [&] { return channel.WriteFlash(four, 0x00001F00 | AddressSelectOf(ImageMcu::kAtMcu), 4, 4, FlashWrite::kFirmwareData); },
       {0x05, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x80,
        0x11, 0x22, 0x33, 0x44}},
      {"write to the main mcu", 0, [&] { return channel.WriteFlash(four, 0x00001F00, 4, 4, FlashWrite::kFirmwareData); },
       {0x05, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x00,
        0x11, 0x22, 0x33, 0x44}},
      {"information request of the main mcu", 0,
       [&] {
         uint8_t block[46];
         return channel.GetDeviceInfo(block, 46);
       },
       {0x05, 0xC0, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"information request of the ATmcu", 0x80000000,
       [&] {
         uint8_t block[46];
         return channel.GetDeviceInfo(block, 46);
       },
       {0x05, 0xC0, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
      {"version stamp of the main mcu", 0, [&] { return channel.SetVersion(0x0800FC00, 0x0002007B); },
       {0x05, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0xFC, 0x00, 0x08,
        0x7B, 0x00, 0x02, 0x00}},
      {"version stamp of the ATmcu", 0x80000000,
       [&] { return channel.SetVersion(0x0001FC00 | AddressSelectOf(ImageMcu::kAtMcu), 110); },
       {0x05, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0xFC, 0x01, 0x80,
        0x6E, 0x00, 0x00, 0x00}},
      {"reset", 0, [&] { return channel.ResetDevice(); }, {0x05, 0x07, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    channel.SetAddressSelect(c.select);
    const size_t before = Reports().size();
    EXPECT_TRUE(c.send().ok());
    const std::vector<Bytes> reports = Reports();
    ASSERT_EQ(reports.size(), before + 1);
    EXPECT_EQ(reports.back(), BootReport(c.frame));
  }
}

TEST(BootFrameWireBuildTest, BytesHandedToTheWriteAreTheHeaderAndTheAttachedData) {
  uint32_t bytes = 0;
  // The information request: data length 46, but no data, so 17 bytes.
  const auto info = BuildBootCommandFrame(nullptr, 46, 0x80000000, 46, 192, bytes);
  EXPECT_EQ(bytes, 17u);
  EXPECT_EQ(Bytes(info.begin(), info.end()),
            Padded({0x05, 0xC0, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0x80},
                   64));
  const uint8_t data[50] = {0x5A};
  BuildBootCommandFrame(data, 50, 0, 50, 3, bytes);
  EXPECT_EQ(bytes, 63u);
  BuildBootCommandFrame(data, 4, 0, 4, 2, bytes);
  EXPECT_EQ(bytes, 21u);
  BuildBootCommandFrame(nullptr, 0, 0, 0, 7, bytes);
  EXPECT_EQ(bytes, 17u);
}

// ---------------------------------------------------------------------------
// Boot command protocol: replies and the information block.

// An information block with a different value in every field; each byte's
// field is named beside it.
const Bytes kMainBlock = {
    0x34, 0x12,                                                                  // pid 0x1234
    0x78, 0x56,                                                                  // not interpreted
    0x7B, 0x00, 0x03, 0x01,                                                      // version 1.23, beta 0x0103
    0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA, 0x99,      // uid
    0x01, 0x00, 0x1D, 0x0B, 0x02, 0x00, 0x1D, 0x0B, 0x03, 0x00, 0x1D, 0x0B,      // boot_id
    0x00, 0xF8, 0x00, 0x08,                                                      // bootIDAddr
    0x00, 0xF4, 0x00, 0x08,                                                      // appIDAddr
    0x00, 0xFC, 0x00, 0x08,                                                      // VerAddr
    0x05, 0x01,                                                                  // revision 261
};
const Bytes kAtBlock = {
    0x01, 0x0A, 0x00, 0x00, 0x6E, 0x00, 0x00, 0x00,                          // pid, -, version 1.10
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // uid
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // boot_id
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                          // bootIDAddr, appIDAddr
    0x00, 0xFC, 0x01, 0x00,                                                  // VerAddr
    0x03, 0x00,                                                              // revision
};

TEST(InfoBlockWireTest, EveryFieldIsReadFromItsBytesAndWrittenBackExactly) {
  ASSERT_EQ(kMainBlock.size(), 46u);
  const boot::InfoBlock block = boot::InfoBlock::Parse(kMainBlock.data());
  EXPECT_EQ(block.pid, 0x1234);
  EXPECT_EQ(block.unused, 0x5678);
  EXPECT_EQ(block.version, 0x0103007Bu);
  EXPECT_EQ(block.BetaLow(), 0x03);
  EXPECT_EQ(block.uid, (std::array<uint32_t, 3>{0x11223344, 0x55667788, 0x99AABBCC}));
  EXPECT_EQ(block.bootId, (std::array<uint32_t, 3>{0x0B1D0001, 0x0B1D0002, 0x0B1D0003}));
  EXPECT_EQ(block.bootIdAddr, 0x0800F800u);
  EXPECT_EQ(block.appIdAddr, 0x0800F400u);
  EXPECT_EQ(block.verAddr, 0x0800FC00u);
  EXPECT_EQ(block.revision, 0x0105);
  EXPECT_FALSE(block.Erased());

  Bytes out(46, 0xEE);
  block.Serialize(out.data());
  EXPECT_EQ(out, kMainBlock);

  // Bytes 0 to 45 each different: a field that overlaps another or misses a
  // byte would not come back the same.
  Bytes counting(46);
  for (size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(0x80 + i);
  boot::InfoBlock::Parse(counting.data()).Serialize(out.data());
  EXPECT_EQ(out, counting);
}

TEST(InfoBlockWireTest, ErasedOnlyWhenAllFortySixBytesAreFF) {
  const Bytes erased(46, 0xFF);
  EXPECT_TRUE(boot::InfoBlock::Parse(erased.data()).Erased());
  for (size_t i = 0; i < erased.size(); ++i) {
    Bytes one = erased;
    one[i] = 0xFE;
    EXPECT_FALSE(boot::InfoBlock::Parse(one.data()).Erased()) << "byte " << i;
  }
  EXPECT_FALSE(boot::InfoBlock{}.Erased());
}

TEST(BootReplyWireTest, ReplyFieldsAndItsInformationBlock) {
  // lead, marker, status 0, echo 192, twelve bytes no host reads, the block.
  const Bytes wire = Cat({{0x00, 0x05, 0x00, 0x00, 0xC0, 0x00},
                          {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B},
                          kMainBlock});
  ASSERT_EQ(wire.size(), 64u);
  const boot::BootReply reply = boot::BootReply::Parse(wire.data());
  EXPECT_EQ(reply.lead, 0x00);
  EXPECT_EQ(reply.marker, 0x05);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.echo, 192);
  EXPECT_TRUE(reply.Acknowledges(192));
  EXPECT_EQ(reply.Info(), boot::InfoBlock::Parse(kMainBlock.data()));
  Bytes out(64, 0xEE);
  reply.Serialize(out.data());
  EXPECT_EQ(out, wire);
}

TEST_F(BootFrameWireTest, ReplyAcknowledgesOnlyWithLeadZeroMarkerStatusZeroAndTheEcho) {
  struct Case {
    const char* what;
    Bytes head;  // the first six reply bytes: lead, marker, status, echo
    bool acknowledges;
    bool busy;
  };
  const Case cases[] = {
      {"done", {0x00, 0x05, 0x00, 0x00, 0x07, 0x00}, true, false},
      {"lead byte 0x01", {0x01, 0x05, 0x00, 0x00, 0x07, 0x00}, false, false},
      {"another marker", {0x00, 0x04, 0x00, 0x00, 0x07, 0x00}, false, false},
      {"busy", {0x00, 0x05, 0x10, 0x00, 0x07, 0x00}, false, true},
      {"busy, lead byte 0x01", {0x01, 0x05, 0x10, 0x00, 0x07, 0x00}, false, false},
      {"busy with another command", {0x00, 0x05, 0x10, 0x00, 0x04, 0x00}, false, false},
      {"status 1", {0x00, 0x05, 0x01, 0x00, 0x07, 0x00}, false, false},
      {"status 0x1000", {0x00, 0x05, 0x00, 0x10, 0x07, 0x00}, false, false},
      {"echo of the erase", {0x00, 0x05, 0x00, 0x00, 0x04, 0x00}, false, false},
      {"echo 0x0107", {0x00, 0x05, 0x00, 0x00, 0x07, 0x01}, false, false},
      {"echo 0x0700", {0x00, 0x05, 0x00, 0x00, 0x00, 0x07}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes wire = Padded(c.head, 64);
    const boot::BootReply parsed = boot::BootReply::Parse(wire.data());
    EXPECT_EQ(parsed.Acknowledges(7), c.acknowledges);
    EXPECT_EQ(parsed.Busy(7), c.busy);
    // The command channel takes the same reply the same way: the reset reads one reply.
    reply = Cat({{0x00}, wire});
    EXPECT_EQ(channel.ResetDevice().ok(), c.acknowledges);
  }
}

// The start-up information query reads both blocks from the replies' bytes.
TEST(InfoQueryWireTest, StartUpQueryLogsAndShowsTheFieldsOfTheBlocksAsSent) {
  test::WindowRig rig;
  rig.EnableLog();
  SimDeviceSetup setup = ControllerSetup(3);
  setup.model = std::make_shared<test::ScriptedModel>([](const Bytes& r, SimDevicePort& port) {
    // Command 192 at frame bytes 1-2; bit 31 of the address (frame byte 16) picks the ATmcu.
    if (r.size() != 65 || r[2] != 0xC0 || r[3] != 0x00) return;
    const Bytes& block = (r[17] & 0x80) ? kAtBlock : kMainBlock;
    port.SendInputReport(Cat({{0x00, 0x00, 0x05, 0x00, 0x00, 0xC0, 0x00}, Bytes(12, 0x00), block}));
  });
  rig.bus.Plug(setup, false);
  rig.RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_EQ(rig.host.WindowText(), "Tarvik Update v2.00 (Fw v1.23 beta259 r261)");
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), 0x0103007Bu);
    EXPECT_EQ(dlg.Session().InfoBlockBytes(ImageMcu::kMain), kMainBlock);
    EXPECT_EQ(dlg.Session().InfoBlockBytes(ImageMcu::kAtMcu), kAtBlock);
  });
  const std::string lines =
      "Get gamepad info ok!\r\n"
      "pid=0x1234\r\n"
      "version=0x103007b (v1.2 beta3)\r\n"
      "revision=261\r\n"
      "uid=11223344 55667788 99aabbcc\r\n"
      "boot_id=0b1d0001 0b1d0002 0b1d0003\r\n"
      "bootIDAddr=0x800f800\r\n"
      "appIDAddr=0x800f400\r\n"
      "VerAddr=0x800fc00\r\n"
      "Get ATmcu info ok!\r\n"
      "ATpid=0x0a01\r\n"
      "ATversion=0x6e (v1.1 beta0)\r\n"
      "ATmcu VerAddr=0x1fc00\r\n";
  EXPECT_NE(rig.Log().find(lines), std::string::npos) << rig.Log();
}

// ---------------------------------------------------------------------------
// Firmware packet protocol: frames and their reports.

// The output report of `data` in report mode 1 (64 bytes, ID 0x81) or 2 (65 bytes, ID 0x00).
Bytes PacketReport(int mode, const Bytes& data) {
  return mode == 1 ? Padded(Cat({{0x81}, data}), 64) : Padded(Cat({{0x00}, data}), 65);
}

const Bytes kVersionQuery = {0x05, 0x00, 0x16, 0x01, 0x00, 0x04};
const Bytes kEndPacket = {0x05, 0x00, 0x16, 0x01, 0x00, 0x02};
const Bytes kEmptyDataPacket = {0x05, 0x00, 0x16, 0x01, 0x00, 0x00};
const Bytes kStartRequest = {0x05, 0x00, 0x1A, 0x01, 0x00, 0x00};
const Bytes kReceiveFailure = {0x05, 0x00, 0x1D, 0x01, 0x00, 0x00};
const Bytes kMode2Signal = {0x05, 0x00, 0x50, 0x01, 0x00, 0x00};
// Count 0x27 (39 frame bytes), frame 00 16, body length 0x23, command 0, payload length 0x20.
const Bytes kFullDataHead = {0x27, 0x00, 0x16, 0x23, 0x00, 0x00, 0x20, 0x00};
// Count 0x23 (35 frame bytes), frame 00 16, body length 0x1F, command 1, payload length 0x1C.
const Bytes kHeaderHead = {0x23, 0x00, 0x16, 0x1F, 0x00, 0x01, 0x1C, 0x00};

TEST(ReportFramingWireTest, FirstByteAndSizesByReportMode) {
  struct Case {
    uint8_t mode;
    uint8_t firstByte;
    size_t outputSize;
    size_t inputSize;
  };
  for (const Case& c : {Case{1, 0x81, 64, 64}, Case{2, 0x00, 65, 65}, Case{3, 0x00, 65, 65}}) {
    const ReportFraming framing = FramingForMode(static_cast<ReportMode>(c.mode));
    EXPECT_EQ(framing.firstByte, c.firstByte) << int{c.mode};
    EXPECT_EQ(framing.outputSize, c.outputSize) << int{c.mode};
    EXPECT_EQ(framing.inputSize, c.inputSize) << int{c.mode};
  }
}

class PacketFrameWireTest : public ::testing::Test, protected test::DeviceRig {};

TEST_F(PacketFrameWireTest, EveryFrameTheHostSendsInBothReportModes) {
  const Bytes header = {0x7B, 0x00, 0x02, 0x00, 0x00, 0x40, 0x00, 0x08, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  const Bytes data = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                      0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16,
                      0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20};
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    Connect(mode);
    SendFirmwarePacket(hid, diag, packet::kCmdVersion, nullptr, 0);
    SendFirmwarePacket(hid, diag, packet::kCmdEnd, nullptr, 0);
    SendFirmwarePacket(hid, diag, packet::kCmdHeader, header.data(), 28);
    SendFirmwarePacket(hid, diag, packet::kCmdData, data.data(), 32);
    SendFirmwarePacket(hid, diag, packet::kCmdData, data.data(), 0);
    SendShortFrame(hid, packet::kTypeStartRequest, 0);
    SendShortFrame(hid, packet::kTypeReceiveFailure, 0);
    EXPECT_EQ(ReopenAndSignal(hid), mode == 2);
    std::vector<Bytes> expected = {
        PacketReport(mode, kVersionQuery),
        PacketReport(mode, kEndPacket),
        PacketReport(mode, Cat({kHeaderHead, header})),
        PacketReport(mode, Cat({kFullDataHead, data})),
        PacketReport(mode, kEmptyDataPacket),
        PacketReport(mode, kStartRequest),
        PacketReport(mode, kReceiveFailure),
    };
    if (mode == 2) expected.push_back(PacketReport(mode, kMode2Signal));
    EXPECT_EQ(bus.ReportsWrittenTo(device), expected);
    bus.Unplug(device, false);
  }
}

// ---------------------------------------------------------------------------
// Firmware packet protocol: the data packets of whole updates.

class PacketTransferWireTest : public ::testing::Test, protected test::WindowRig {
 protected:
  // Runs one update of `image` on a report-mode-1 controller; the firmware
  // packets the host sent from the header on (the start-up version queries
  // left out), each as its whole output report.
  std::vector<Bytes> Transfer(const Bytes& image) {
    user.image = test::WriteFile(Dir() / "fw.dat", image);
    const int device = PlugController(1);
    RunWindow([&](CUpdateDlg& dlg) { EXPECT_TRUE(PressUpdate(dlg)); });
    const Bytes versionQuery = PacketReport(1, kVersionQuery);
    std::vector<Bytes> packets;
    for (const Bytes& report : bus.ReportsWrittenTo(device)) {
      // Report ID, count, frame lead 0x00, type 0x16.
      if (report.size() > 3 && report[2] == 0x00 && report[3] == 0x16 && report != versionQuery) {
        packets.push_back(report);
      }
    }
    const std::vector<std::string> texts = user.MessageTexts();
    EXPECT_TRUE(!texts.empty() && texts.back() == "\n Firmware upgraded! \n");
    return packets;
  }
};

// Record header: version 150, address 0x08004000, desLen (bytes 8-11), pid 1.
Bytes RecordHeader(uint8_t desLen) {
  return {0x96, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08, desLen, 0x00, 0x00, 0x00, 0x01, 0x00,
          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}
// The header packet of that record: its first twelve bytes, then sixteen zeros.
Bytes HeaderPacket(uint8_t desLen) {
  return PacketReport(1, Cat({kHeaderHead,
                              {0x96, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08, desLen, 0x00, 0x00, 0x00},
                              Bytes(16, 0x00)}));
}

const Bytes kHundredBytes = {
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11,
    0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22,
    0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33,
    0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x61, 0x62, 0x63, 0x64};

// The header packet and the first three data packets of those hundred bytes.
const std::vector<Bytes> kHundredBytesFirstPackets = {
    HeaderPacket(100),
    PacketReport(1, Cat({kFullDataHead, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                                         0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16,
                                         0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20}})),
    PacketReport(1, Cat({kFullDataHead, {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B,
                                         0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36,
                                         0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40}})),
    PacketReport(1, Cat({kFullDataHead, {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B,
                                         0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56,
                                         0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60}})),
};

TEST_F(PacketTransferWireTest, HundredBytesGoOutAsFourFullPacketsTheLastRunningPastThePayload) {
  const Bytes& payload = kHundredBytes;
  // A file of 156 bytes: the record, then an all-zero header that ends the chain.
  const Bytes image = Cat({RecordHeader(100), payload, Bytes(28, 0x00)});
  ASSERT_EQ(image.size(), 156u);
  std::vector<Bytes> expected = kHundredBytesFirstPackets;
  expected.insert(expected.end(), {
      // The last four payload bytes, then the 28 bytes of the zero header behind them.
      PacketReport(1, Cat({kFullDataHead, {0x61, 0x62, 0x63, 0x64}, Bytes(28, 0x00)})),
      PacketReport(1, kEndPacket),
  });
  EXPECT_EQ(Transfer(image), expected);
}

TEST_F(PacketTransferWireTest, HundredBytesBeforeSixtyThatAreNoRecordGoOutAsFourPacketsTheLastWithTwentyEightOfThem) {
  // A file of 188 bytes: the record, then 60 bytes that form no record.
  const Bytes trailing = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE,
                          0xCF, 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD,
                          0xDE, 0xDF, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC,
                          0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB};
  const Bytes image = Cat({RecordHeader(100), kHundredBytes, trailing});
  ASSERT_EQ(image.size(), 188u);
  std::vector<Bytes> expected = kHundredBytesFirstPackets;
  expected.insert(expected.end(), {
      // File bytes 124 to 155: the last four payload bytes, then the first 28 after the record.
      PacketReport(1, Cat({kFullDataHead, {0x61, 0x62, 0x63, 0x64, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6,
                                           0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0, 0xD1,
                                           0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB}})),
      PacketReport(1, kEndPacket),
  });
  EXPECT_EQ(Transfer(image), expected);
  EXPECT_EQ(packetModel->Firmware(), kHundredBytes);
}

const Bytes kTwentyBytes = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA,
                            0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4};

TEST_F(PacketTransferWireTest, TwentyBytesInALongFileGoOutAsTwoFullPackets) {
  // 104 bytes: the record; an empty record (version 150, 0x08008000, no
  // bytes); the all-zero header that ends the chain. 76 bytes follow the
  // first header.
  const Bytes empty = {0x96, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  const Bytes image = Cat({RecordHeader(20), kTwentyBytes, empty, Bytes(28, 0x00)});
  ASSERT_EQ(image.size(), 104u);
  const std::vector<Bytes> expected = {
      HeaderPacket(20),
      // The 20 bytes, then the first twelve bytes of the empty record's header.
      PacketReport(1, Cat({kFullDataHead, kTwentyBytes,
                           {0x96, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00}})),
      // 32 more, all beyond the announced length: the rest of that header, then
      // sixteen bytes of the zero header.
      PacketReport(1, Cat({kFullDataHead, {0x01, 0x00}, Bytes(30, 0x00)})),
      PacketReport(1, kEndPacket),
  };
  EXPECT_EQ(Transfer(image), expected);
}

TEST_F(PacketTransferWireTest, TwentyBytesBeforeFortyFourThatAreNoRecordGoOutAsTwoPacketsTheSecondAllBeyond) {
  // A file of 92 bytes: the record, then 44 bytes that form no record.
  const Bytes trailing = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A,
                          0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45,
                          0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50,
                          0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B};
  const Bytes image = Cat({RecordHeader(20), kTwentyBytes, trailing});
  ASSERT_EQ(image.size(), 92u);
  const std::vector<Bytes> expected = {
      HeaderPacket(20),
      PacketReport(1, Cat({kFullDataHead, kTwentyBytes,
                           {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B}})),
      PacketReport(1, Cat({kFullDataHead, {0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46,
                                           0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51,
                                           0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B}})),
      PacketReport(1, kEndPacket),
  };
  EXPECT_EQ(Transfer(image), expected);
  EXPECT_EQ(packetModel->Firmware(), kTwentyBytes);
}

TEST_F(PacketTransferWireTest, TwentyBytesBeforeAZeroHeaderGoOutAsAFullPacketAndTheFilesLastSixteen) {
  // 76 bytes: the record and an all-zero header; 48 bytes follow the first header.
  const Bytes image = Cat({RecordHeader(20), kTwentyBytes, Bytes(28, 0x00)});
  ASSERT_EQ(image.size(), 76u);
  const std::vector<Bytes> expected = {
      HeaderPacket(20),
      PacketReport(1, Cat({kFullDataHead, kTwentyBytes, Bytes(12, 0x00)})),
      // Count 0x17 (23 frame bytes), body length 0x13, payload length 0x10: what is left of the file.
      PacketReport(1, Cat({{0x17, 0x00, 0x16, 0x13, 0x00, 0x00, 0x10, 0x00}, Bytes(16, 0x00)})),
      PacketReport(1, kEndPacket),
  };
  EXPECT_EQ(Transfer(image), expected);
}

TEST_F(PacketTransferWireTest, TwentyBytesEndingTheFileGoOutAloneThenTheEmptyPacket) {
  const Bytes image = Cat({RecordHeader(20), kTwentyBytes});
  ASSERT_EQ(image.size(), 48u);
  const std::vector<Bytes> expected = {
      HeaderPacket(20),
      // Count 0x1B (27 frame bytes), body length 0x17, payload length 0x14.
      PacketReport(1, Cat({{0x1B, 0x00, 0x16, 0x17, 0x00, 0x00, 0x14, 0x00}, kTwentyBytes})),
      PacketReport(1, kEmptyDataPacket),
      PacketReport(1, kEndPacket),
  };
  EXPECT_EQ(Transfer(image), expected);
}

}  // namespace
}  // namespace tarvik
