// The fault matrix: a two-record boot-mode update and a packet-protocol update
// in each report mode, with one fault each: the controller unplugged after
// output report k (every k of the clean run), or its replies to report k late,
// duplicated or lost. Every run ends within its bound of virtual time, shows
// "Firmware upgraded!" only when the controller holds the whole image, and the
// controller holds nothing but bytes of the image at their own addresses. On
// an update session, without a window. The boot-mode update runs at both
// paces, and the acknowledging pace ends every case as the default one does.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "texts/reason_texts.h"
#include "platform/std/virtual_clock.h"
#include "sim/sim_setup.h"
#include "tests/support/image_builder.h"
#include "tests/support/reply_faults.h"
#include "tests/support/session_rig.h"

namespace tarvik {
namespace {

using test::Bytes;
using test::Payload;
using test::Record;
using test::ReplyFault;

enum class Flow { kBoot, kBootAck, kPacket1, kPacket2 };
enum class Fault { kUnplug, kLate, kDuplicated, kLost };

struct Case {
  Flow flow;
  Fault fault;
  uint32_t at;  // output report, 1-based
};

const char* FlowName(Flow f) {
  return f == Flow::kBoot ? "Boot" : f == Flow::kBootAck ? "BootAck" : f == Flow::kPacket1 ? "Packet1" : "Packet2";
}
const char* FaultName(Fault f) {
  return f == Fault::kUnplug ? "UnplugAfter" : f == Fault::kLate ? "LateReplyTo" : f == Fault::kDuplicated ? "DuplicatedReplyTo" : "LostReplyTo";
}
std::string CaseName(const Case& c) { return std::string(FlowName(c.flow)) + FaultName(c.fault) + std::to_string(c.at); }

const Bytes kMain = Payload(100, 1);
const Bytes kAt = Payload(50, 2);
const Bytes kPacketData = Payload(100, 3);

// A pulled controller is plugged in again this long after.
constexpr uint32_t kBackMs = 500;

// One whole update with `c`'s fault; k = 0 runs it clean. Then a second one
// of the same controller, without a fault.
struct Outcome {
  bool succeeded = false;
  bool holdsImage = false;
  bool holdsOnlyImageBytes = true;
  uint64_t tookMs = 0;
  uint32_t outputs = 0;  // output reports the controller received
  std::string result;    // the update's outcome and its reason
  std::string reason;
  std::string secondResult;  // the second update's outcome and its reason
  std::string secondReason;
  bool recovered = false;  // the second update succeeded and left the image and its stamps alone
};

// The versions a whole update stamps, by microcontroller, as the controller tells them now.
std::map<std::string, uint32_t> StampedVersions(const SimBootController& boot) {
  std::map<std::string, uint32_t> latest;
  for (const SimBootController::VersionStamp& stamp : boot.Stamps()) latest[stamp.mcu] = stamp.version;
  return latest;
}

Outcome RunCase(const Case& c) {
  VirtualClock clock;
  test::SessionRig rig(clock);
  const bool bootMode = c.flow == Flow::kBoot || c.flow == Flow::kBootAck;
  const int row = bootMode ? 3 : c.flow == Flow::kPacket1 ? 1 : 2;
  std::shared_ptr<SimBootController> boot;
  std::shared_ptr<SimPacketController> packet;
  std::shared_ptr<ISimDeviceModel> model;
  if (row == 3) {
    model = boot = std::make_shared<SimBootController>();
    rig.SetImage(test::Concat({Record(123, 0x08004000, kMain), Record((1u << 16) | 110, 0x2000, kAt, 0)}));
  } else {
    SimPacketConfig config;
    config.onMode2Signal = SimSwitch::kReplug;
    model = packet = std::make_shared<SimPacketController>(row, config);
    rig.SetImage(Record(150, 0x08004000, kPacketData));
  }
  std::shared_ptr<test::ReplyFaults> faults;
  if (c.at > 0 && c.fault != Fault::kUnplug) {
    const ReplyFault f = c.fault == Fault::kLate ? ReplyFault::kLate
                         : c.fault == Fault::kDuplicated ? ReplyFault::kDuplicated
                                                         : ReplyFault::kLost;
    // Late: past the boot channel's write polls (1.5 s), inside the packet flow's silence bound.
    model = faults = std::make_shared<test::ReplyFaults>(model, f, c.at - 1, row == 3 ? 1600 : 2000);
  } else {
    model = faults = std::make_shared<test::ReplyFaults>(model, ReplyFault::kNone, 0);
  }
  SimDeviceSetup setup = ControllerSetup(row);
  setup.model = model;
  const int device = rig.bus.Plug(setup, false);
  if (c.at > 0 && c.fault == Fault::kUnplug) rig.bus.UnplugAfterOutputs(device, c.at, kBackMs);

  Outcome outcome;
  uint64_t start = 0;
  const UpdateOutcome ended = rig.UpdateOnSession(nullptr, [&] { start = clock.NowMs(); },
                                                  c.flow == Flow::kBootAck ? BootPace::kAck : BootPace::kParts);
  outcome.tookMs = clock.NowMs() - start;
  outcome.result = OutcomeName(ended.result);
  outcome.reason = EnglishReasonText(ended.reason);
  outcome.succeeded = rig.user.Succeeded();
  outcome.outputs = faults->Counted();
  const auto holdsWholeImage = [&] {
    if (boot) {
      return boot->WrittenRegions() == std::vector<SimBootController::FlashRegion>{{"main", 0x08004000, kMain},
                                                                                   {"at", 0x2000, kAt}};
    }
    return packet->Firmware() == kPacketData && packet->CompletedTransfers() >= 1;
  };
  outcome.holdsImage = holdsWholeImage();
  if (boot) {
    for (const auto& region : boot->WrittenRegions()) {
      const bool main = region.mcu == "main";
      const uint32_t base = main ? 0x08004000 : 0x2000;
      const Bytes& image = main ? kMain : kAt;
      const uint64_t offset = uint64_t{region.address} - base;
      const bool inside = region.address >= base && offset + region.bytes.size() <= image.size();
      outcome.holdsOnlyImageBytes = outcome.holdsOnlyImageBytes && inside &&
                                    std::equal(region.bytes.begin(), region.bytes.end(), image.begin() + offset);
    }
  } else {
    const Bytes received = packet->Firmware();
    outcome.holdsImage = outcome.holdsImage && packet->CompletedTransfers() == 1;
    outcome.holdsOnlyImageBytes = received.size() <= kPacketData.size() &&
                                  std::equal(received.begin(), received.end(), kPacketData.begin());
  }

  // Plugged in again and back from any restart, then updated once more, as
  // the failure box tells a person to do.
  clock.SleepMs(kBackMs + 2000);
  rig.user.sessionSucceeded.store(false);
  rig.user.messages.clear();
  const int completedBefore = packet ? packet->CompletedTransfers() : 0;
  const UpdateOutcome second =
      rig.UpdateOnSession(nullptr, {}, c.flow == Flow::kBootAck ? BootPace::kAck : BootPace::kParts);
  outcome.secondResult = OutcomeName(second.result);
  outcome.secondReason = EnglishReasonText(second.reason);
  if (boot) {
    const std::map<std::string, uint32_t> stamped{{"main", 123}, {"at", (1u << 16) | 110}};
    outcome.recovered = rig.user.Succeeded() && holdsWholeImage() && StampedVersions(*boot) == stamped;
  } else {
    clock.SleepMs(SimPacketController::kRestartAwayMs + 100);  // started what it was sent
    outcome.recovered = rig.user.Succeeded() && holdsWholeImage() &&
                        packet->CompletedTransfers() == completedBefore + 1 && packet->Version() == 150u;
  }
  return outcome;
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (Flow flow : {Flow::kBoot, Flow::kBootAck, Flow::kPacket1, Flow::kPacket2}) {
    const uint32_t outputs = RunCase({flow, Fault::kUnplug, 0}).outputs;
    for (Fault fault : {Fault::kUnplug, Fault::kLate, Fault::kDuplicated, Fault::kLost}) {
      for (uint32_t k = 1; k <= outputs; ++k) cases.push_back({flow, fault, k});
    }
  }
  return cases;
}

class FaultMatrixTest : public ::testing::TestWithParam<Case> {};

TEST_P(FaultMatrixTest, EndsInBoundsWithoutFalseSuccess) {
  const Case c = GetParam();
  const Outcome o = RunCase(c);
  // Boot: information queries, two erases of up to 10 s, chunks of up to 4.5 s;
  // packet: one silence bound and the version query.
  const uint64_t bound = c.flow == Flow::kBoot || c.flow == Flow::kBootAck ? 120000 : 45000;
  EXPECT_LE(o.tookMs, bound);
  EXPECT_TRUE(!o.succeeded || o.holdsImage) << "success without the whole image";
  EXPECT_TRUE(o.holdsOnlyImageBytes) << "the controller holds bytes that are not the image's";
  EXPECT_TRUE(o.recovered) << "the second update: " << o.secondResult << ": " << o.secondReason;
  if (c.flow != Flow::kBootAck) return;
  // Only the waits differ: the same frames reach the controller and the update ends the same way.
  const Outcome parts = RunCase({Flow::kBoot, c.fault, c.at});
  EXPECT_EQ(o.outputs, parts.outputs);
  EXPECT_EQ(o.result, parts.result);
  EXPECT_EQ(o.reason, parts.reason);
  EXPECT_EQ(o.holdsImage, parts.holdsImage);
}

TEST(FaultMatrixCleanRun, EachFlowSucceedsWithoutFaults) {
  for (Flow flow : {Flow::kBoot, Flow::kBootAck, Flow::kPacket1, Flow::kPacket2}) {
    const Outcome o = RunCase({flow, Fault::kUnplug, 0});
    EXPECT_TRUE(o.succeeded && o.holdsImage && o.recovered) << FlowName(flow);
    EXPECT_GT(o.outputs, 5u) << FlowName(flow);
  }
}

INSTANTIATE_TEST_SUITE_P(AtEveryReport, FaultMatrixTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& param) { return CaseName(param.param); });

}  // namespace
}  // namespace tarvik
