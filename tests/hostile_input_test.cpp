// Controllers that answer late, twice, out of turn or not at all, and writes
// that fail: whole updates on an update session on the virtual clock (the
// window's start-up where it is the window's). Each test states a result the
// updater must never give.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "base/bytes.h"
#include "platform/std/virtual_clock.h"
#include "sim/sim_setup.h"
#include "tests/support/fault_bus.h"
#include "tests/support/image_builder.h"
#include "tests/support/packet_frames.h"
#include "tests/support/reply_faults.h"
#include "tests/support/scripted_model.h"
#include "tests/support/session_rig.h"
#include "update/boot_protocol.h"
#include "update/packet_protocol.h"

namespace tarvik {
namespace {

using test::Bytes;
using test::Payload;
using test::Record;
using test::ReplyFault;
using test::ReplyFaults;

bool IsBootCommand(const Bytes& report, uint16_t command) {
  return report.size() == 65 && report[1] == boot::kMarker &&
         GetLe16(&report[1 + boot::kFrameCommand]) == command;
}

class HostileInputTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  test::SessionRig rig{clock};

  void Plug(int row, std::shared_ptr<ISimDeviceModel> model) {
    SimDeviceSetup setup = ControllerSetup(row);
    setup.model = std::move(model);
    rig.bus.Plug(setup, false);
  }
  // The probe and one update on a session; the virtual time the update took.
  uint64_t Press(IHidBus* on = nullptr) {
    uint64_t start = 0;
    rig.UpdateOnSession(on, [&] { start = clock.NowMs(); });
    return clock.NowMs() - start;
  }
  static bool Holds(const SimBootController& model, uint32_t address, const Bytes& payload) {
    const auto regions = model.WrittenRegions();
    return regions.size() == 1 && regions[0].address == address && regions[0].bytes == payload;
  }
};

// Boot mode: the second chunk is never written, but the first chunk's
// acknowledgement arrives twice.
// A reply already waiting before a frame goes out answers an earlier one.
TEST_F(HostileInputTest, BootDuplicateAcknowledgementDoesNotStandForTheNextChunk) {
  SimBootConfig config;
  config.writeFail = true;
  config.writeFailChunk = 1;
  config.writeFailAttempts = 3;
  auto controller = std::make_shared<SimBootController>(config);
  Plug(3, std::make_shared<ReplyFaults>(controller, ReplyFault::kDuplicated, 0, 0,
                                        [](const Bytes& r) { return IsBootCommand(r, boot::kCmdWriteData); }));
  const Bytes payload = Payload(100);
  rig.SetImage(Record(123, 0x08004000, payload));
  Press();
  EXPECT_FALSE(Holds(*controller, 0x08004000, payload));
  EXPECT_FALSE(rig.user.Succeeded());
}

// Boot mode: the first chunk's acknowledgement comes after the host's polls
// have given up on it, so the retry's acknowledgement is left over.
// Replies that come soon after a retried chunk belong to its unanswered attempts.
TEST_F(HostileInputTest, BootLateAcknowledgementAfterARetryDoesNotStandForTheNextChunk) {
  SimBootConfig config;
  config.writeFail = true;
  config.writeFailChunk = 2;  // the controller counts the retry as a chunk of its own
  config.writeFailAttempts = 3;
  auto controller = std::make_shared<SimBootController>(config);
  Plug(3, std::make_shared<ReplyFaults>(controller, ReplyFault::kLate, 0, 1600,
                                        [](const Bytes& r) { return IsBootCommand(r, boot::kCmdWriteData); }));
  const Bytes payload = Payload(100);
  rig.SetImage(Record(123, 0x08004000, payload));
  Press();
  EXPECT_FALSE(rig.user.Succeeded() && !Holds(*controller, 0x08004000, payload));
}

// Boot mode: the first erase frame is answered late, after the host has sent
// it again; the second is answered by the echo of a write command, which comes
// only after the host's first chunk has gone out (and that chunk's own
// acknowledgement is lost).
// Replies that come soon after a retried erase belong to its unanswered
// attempts, whatever command they name.
TEST_F(HostileInputTest, BootStrayReplyToARetriedEraseDoesNotStandForTheFirstChunk) {
  auto controller = std::make_shared<SimBootController>();
  const auto isErase = [](const Bytes& r) { return IsBootCommand(r, boot::kCmdErase); };
  const auto isWrite = [](const Bytes& r) { return IsBootCommand(r, boot::kCmdWriteData); };
  auto firstChunkLost = std::make_shared<ReplyFaults>(controller, ReplyFault::kLost, 0, 0, isWrite);
  auto secondEraseLost = std::make_shared<ReplyFaults>(firstChunkLost, ReplyFault::kLost, 1, 0, isErase);
  auto firstEraseLate = std::make_shared<ReplyFaults>(secondEraseLost, ReplyFault::kLate, 0, 1600, isErase);
  std::atomic<int> erases{0};
  std::atomic<int> firstChunkFrames{0};
  Plug(3, std::make_shared<test::ScriptedModel>([&](const Bytes& r, SimDevicePort& port) {
    if (isErase(r) && ++erases == 2) port.SendInputReport(test::BootReply(boot::kCmdWriteData), 1200);
    if (isWrite(r) && GetLe32(&r[1 + boot::kFrameAddress]) == 0x08004000) ++firstChunkFrames;
    firstEraseLate->OnOutputReport(r, port);
  }));
  const Bytes payload = Payload(100);
  rig.SetImage(Record(123, 0x08004000, payload));
  Press();
  EXPECT_TRUE(rig.user.Succeeded());
  // The first chunk was acknowledged only by its second frame.
  EXPECT_EQ(firstChunkFrames.load(), 2);
  EXPECT_TRUE(Holds(*controller, 0x08004000, payload));
}

// Boot mode: erase answers "busy" once in every nine frames and stays silent
// otherwise (for 1000 frames, then it is done).
// Busy answers do not give back the tries that silences used up.
TEST_F(HostileInputTest, BootEraseWithBusyAnswersBetweenSilencesEnds) {
  int erases = 0;
  Plug(3, std::make_shared<test::ScriptedModel>([&](const Bytes& r, SimDevicePort& port) {
    const uint16_t command = test::BootCommandOf(r);
    if (command == boot::kCmdErase) {
      if (++erases > 1000) port.SendInputReport(test::BootReply(command));
      if (erases % 9 == 1) port.SendInputReport(test::BootReply(command, boot::kStatusBusy));
      return;
    }
    port.SendInputReport(test::BootReply(command));
  }));
  rig.SetImage(Record(123, 0x08004000, Payload(100)));
  const uint64_t took = Press();
  // 10 tries or 60 busy answers in a row, 1 s each, bound an erase.
  EXPECT_LT(took, 80000u);
}

// Packet protocol: the end packet's write fails.
// Success needs the end packet written.
TEST_F(HostileInputTest, PacketEndPacketThatCannotBeWrittenIsNoSuccess) {
  auto controller = std::make_shared<SimPacketController>(1);
  Plug(1, controller);
  test::FaultBus faulty(rig.bus);
  faulty.failWrite = [](const uint8_t* report, size_t size) {
    return size > 6 && report[2] == 0x00 && report[3] == packet::kTypeFirmware && report[6] == packet::kCmdEnd;
  };
  rig.SetImage(Record(150, 0x08004000, Payload(100)));
  Press(&faulty);
  EXPECT_EQ(faulty.failedWrites.load(), 1);
  EXPECT_EQ(controller->CompletedTransfers(), 0);
  EXPECT_FALSE(rig.user.Succeeded());
}

// Packet protocol: every data request comes twice, and the controller sends a
// failure report after the third data packet.
// One request per frame sent: the duplicates are dropped and the failure report wins.
TEST_F(HostileInputTest, PacketDuplicatedRequestsDoNotHideTheFailureReport) {
  SimPacketConfig config;
  config.failAt = 3;
  auto controller = std::make_shared<SimPacketController>(1, config);
  // Every answer twice: a chain of faults, one per report.
  std::shared_ptr<ISimDeviceModel> model = controller;
  for (uint32_t i = 0; i < 12; ++i) model = std::make_shared<ReplyFaults>(model, ReplyFault::kDuplicated, i);
  Plug(1, model);
  rig.SetImage(Record(150, 0x08004000, Payload(100)));
  Press();
  EXPECT_EQ(controller->CompletedTransfers(), 0);
  EXPECT_FALSE(rig.user.Succeeded());
}

// Packet protocol, start-up: the controller answers the version query with a
// start answer first.
// The start-up version query acts on the version report alone.
TEST_F(HostileInputTest, StartAnswerDuringTheStartUpQueryOpensNoFileDialog) {
  auto controller = std::make_shared<SimPacketController>(1);
  Plug(1, std::make_shared<test::ScriptedModel>([&](const Bytes& r, SimDevicePort& port) {
    if (r.size() > 6 && r[2] == 0x00 && r[3] == packet::kTypeFirmware && r[6] == packet::kCmdVersion) {
      Bytes answer(64, 0);
      answer[0] = 0x81;
      answer[1] = 5;
      answer[3] = packet::kTypeStartAnswer;
      answer[4] = 0x01;
      port.SendInputReport(answer);
    }
    controller->OnOutputReport(r, port);
  }));
  rig.SetImage(Record(150, 0x08004000, Payload(100)));
  rig.RunWindow();
  EXPECT_EQ(rig.user.fileDialogs, 0);
}

// Report mode 2, the controller comes back in report mode 1 on the signal;
// every answer comes 29 s late, just under the silence bound.
// The whole transfer is bounded (here by its one-minute floor).
TEST_F(HostileInputTest, PacketTransferJustUnderTheSilenceBoundEndsInMinutes) {
  SimPacketConfig config;
  config.latencyMs = 29000;
  config.onMode2Signal = SimSwitch::kReplug;
  auto controller = std::make_shared<SimPacketController>(2, config);
  Plug(2, controller);
  rig.bus.KeepExchangeLog(false);
  rig.SetImage(Record(150, 0x08004000, Payload(64 * packet::kDataPayload)));
  const uint64_t took = Press();
  EXPECT_LT(took, 10u * 60 * 1000) << "the update took " << took / 1000 << " s";
}

// Packet protocol: the controller sends a start answer again in the middle of
// the transfer.
// The start answer that was asked for is the only one acted on.
TEST_F(HostileInputTest, StartAnswerDuringTheTransferStartsNothing) {
  auto controller = std::make_shared<SimPacketController>(1);
  int dataPackets = 0;
  Plug(1, std::make_shared<test::ScriptedModel>([&](const Bytes& r, SimDevicePort& port) {
    if (test::IsFirmwarePacket(r.data(), r.size(), packet::kCmdData) && ++dataPackets == 2) {
      Bytes answer(64, 0);
      answer[0] = 0x81;
      const auto frame = packet::ShortFrameReport(packet::kTypeStartAnswer, 0);
      std::copy(frame.begin(), frame.end(), answer.begin() + 1);
      port.SendInputReport(answer);
    }
    controller->OnOutputReport(r, port);
  }));
  const Bytes payload = Payload(100);
  rig.SetImage(Record(150, 0x08004000, payload));
  Press();
  EXPECT_EQ(rig.user.fileDialogs, 1);
  EXPECT_TRUE(rig.user.Succeeded());
  EXPECT_EQ(controller->Firmware(), payload);
}

// Faults the engine copes with by retrying or by its silence bound.
TEST_F(HostileInputTest, BootLostAcknowledgementIsRetriedAndTheImageWritten) {
  auto controller = std::make_shared<SimBootController>();
  Plug(3, std::make_shared<ReplyFaults>(controller, ReplyFault::kLost, 1, 0,
                                        [](const Bytes& r) { return IsBootCommand(r, boot::kCmdWriteData); }));
  const Bytes payload = Payload(100);
  rig.SetImage(Record(123, 0x08004000, payload));
  Press();
  EXPECT_TRUE(rig.user.Succeeded());
  EXPECT_TRUE(Holds(*controller, 0x08004000, payload));
}

TEST_F(HostileInputTest, PacketLostRequestEndsTheUpdateAsAFailureAfterTheSilenceBound) {
  auto controller = std::make_shared<SimPacketController>(1);
  Plug(1, std::make_shared<ReplyFaults>(controller, ReplyFault::kLost, 2, 0, [](const Bytes& r) {
    return r.size() > 6 && r[2] == 0x00 && r[3] == packet::kTypeFirmware && r[6] == packet::kCmdData;
  }));
  rig.SetImage(Record(150, 0x08004000, Payload(100)));
  const uint64_t took = Press();
  EXPECT_FALSE(rig.user.Succeeded());
  EXPECT_GE(took, uint64_t{CPacketUpdateFlow::kControllerSilenceLimitMs});
  EXPECT_LT(took, uint64_t{CPacketUpdateFlow::kControllerSilenceLimitMs} + 5000);
}

}  // namespace
}  // namespace tarvik
