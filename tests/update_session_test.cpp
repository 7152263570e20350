// The update session driven as a program would: no window, no user-interface
// thread. Outcomes and what the controller holds afterwards.
#include <gtest/gtest.h>

#include <string>

#include "texts/reason_texts.h"
#include "platform/std/virtual_clock.h"
#include "update/update_plan.h"
#include "session/update_session.h"
#include "sim/sim_setup.h"
#include "tests/support/image_builder.h"
#include "tests/support/session_rig.h"

namespace tarvik {
namespace {

using test::Bytes;

// Answers the confirmation as told, after thinking for 10 s when given a
// clock, and counts what it is asked.
class CountingUser final : public IUpdatePrompt, public IUpdateEvents {
 public:
  explicit CountingUser(bool confirm, IClock* thinking = nullptr) : m_confirm(confirm), m_thinking(thinking) {}
  int confirmations = 0;
  int successes = 0;
  int failures = 0;
  std::optional<std::string> ChooseImage() override { return std::nullopt; }
  bool ConfirmChange(const VersionChange&) override {
    ++confirmations;
    if (m_thinking) m_thinking->SleepMs(10000);
    return m_confirm;
  }
  void OnMilestone(UpdateMilestone milestone) override {
    if (milestone == UpdateMilestone::kSucceeded) ++successes;
  }
  void OnUpdateFailed(const UpdateOutcome&) override { ++failures; }

 private:
  bool m_confirm;
  IClock* m_thinking;
};

struct Rig {
  explicit Rig(SimMode mode) : system(clock), bus(clock) {
    SimOptions options;
    options.mode = mode;
    population = PopulateSimBus(bus, options);
  }
  VirtualClock clock;
  test::SessionSystem system;
  SimHidBus bus;
  SimPopulation population;

  // The payload the controller holds, whichever protocol it speaks.
  Bytes Held() const {
    if (population.packet) return population.packet->Firmware();
    const auto regions = population.boot->WrittenRegions();
    return regions.empty() ? Bytes() : regions.front().bytes;
  }
};

const Bytes kPayload = test::Payload(100, 7);
FirmwareImage Image() { return FirmwareImage::FromBytes(test::Record(131, 0x08004000, kPayload), "fw.dat"); }

struct Case {
  const char* name;
  SimMode mode;
  bool stopFirst;  // the shared stop was requested before the update
  bool confirm;
  OutcomeResult result;
  bool written;  // the controller holds the payload afterwards
};

class SessionUpdateTest : public ::testing::TestWithParam<Case> {};

TEST_P(SessionUpdateTest, EndsAsExpectedAndTheControllerHoldsWhatWasWritten) {
  const Case& c = GetParam();
  Rig rig(c.mode);
  UpdateSession session(rig.bus, rig.system);
  const ControllerProbe probe = session.Probe();
  ASSERT_TRUE(probe.present);
  EXPECT_EQ(probe.BootMode(), c.mode == SimMode::kBoot);
  CountingUser user(c.confirm, &rig.clock);
  StopSource stop;
  if (c.stopFirst) stop.RequestStop();
  const UpdateOutcome outcome =
      session.Update({.image = Image(), .prompt = &user, .events = &user, .progress = nullptr, .stop = &stop});
  EXPECT_EQ(outcome.result, c.result) << outcome.reason;
  EXPECT_LT(outcome.seconds, 5.0) << "the time at the prompt counted as the update's";
  EXPECT_EQ(user.successes, c.result == OutcomeResult::kUpgraded ? 1 : 0);
  const Bytes held = rig.Held();
  if (c.written) {
    ASSERT_GE(held.size(), kPayload.size());
    EXPECT_TRUE(std::equal(kPayload.begin(), kPayload.end(), held.begin()));
  } else {
    EXPECT_TRUE(held.empty());
    EXPECT_FALSE(outcome.controllerTouched);
  }
}

INSTANTIATE_TEST_SUITE_P(
    NoWindow, SessionUpdateTest,
    ::testing::Values(Case{"Boot", SimMode::kBoot, false, true, OutcomeResult::kUpgraded, true},
                      Case{"Packet1", SimMode::kPacket1, false, true, OutcomeResult::kUpgraded, true},
                      Case{"BootDeclined", SimMode::kBoot, false, false, OutcomeResult::kCancelled, false},
                      Case{"Packet1Declined", SimMode::kPacket1, false, false, OutcomeResult::kCancelled, false},
                      Case{"BootStoppedFirst", SimMode::kBoot, true, true, OutcomeResult::kInterrupted, false},
                      Case{"Packet1StoppedFirst", SimMode::kPacket1, true, true, OutcomeResult::kInterrupted, false}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

TEST(UpdateSessionTest, ProbeOfAnEmptyBusFindsNothingAndAnUpdateFails) {
  Rig rig(SimMode::kNone);
  UpdateSession session(rig.bus, rig.system);
  const ControllerProbe probe = session.Probe();
  EXPECT_FALSE(probe.present);
  EXPECT_FALSE(probe.queried);
  EXPECT_EQ(session.Update({.image = Image()}).result, OutcomeResult::kFailed);
}

TEST(UpdateSessionTest, ProbeReadsBothInformationBlocksAndTheUid) {
  Rig rig(SimMode::kBoot);
  UpdateSession session(rig.bus, rig.system);
  const ControllerProbe probe = session.Probe();
  ASSERT_TRUE(probe.queried) << EnglishReasonText(probe.reason);
  EXPECT_EQ(probe.VersionText(), "1.20");
  EXPECT_EQ(probe.AtVersion(), 110u);
  EXPECT_EQ(probe.Uid().size(), 24u);
  EXPECT_EQ(probe.Product(), "5a3c:7e23");
  EXPECT_FALSE(probe.location.empty());
}

TEST(UpdateSessionTest, GuardOrdersReleasesAfterTheirBetasOnEachMicrocontroller) {
  // Version words: release number in the low 16 bits, beta number above.
  const uint32_t beta2 = (2u << 16) | 131;
  EXPECT_LT(CompareVersions(beta2, 131), 0);
  EXPECT_GT(CompareVersions(131, beta2), 0);
  EXPECT_LT(CompareVersions(130, beta2), 0);
  EXPECT_EQ(CompareVersions(131, 131), 0);

  const FirmwareImage both = FirmwareImage::FromBytes(
      test::Concat({test::Record(131, 0x08004000, kPayload), test::Record(105, 0x2000, kPayload, 0)}), "fw.dat");
  const VersionGuard olderAt = GuardVersions(both, UpdateProtocol::kBoot, 120, 110);
  EXPECT_LT(olderAt.order, 0);
  EXPECT_EQ(olderAt.older.mcu, ImageMcu::kAtMcu);
  EXPECT_EQ(GuardVersions(both, UpdateProtocol::kBoot, 131, 105).order, 0);
  EXPECT_GT(GuardVersions(both, UpdateProtocol::kBoot, 120, 100).order, 0);
  // The packet protocol writes the main microcontroller alone.
  EXPECT_EQ(GuardVersions(Image(), UpdateProtocol::kPacket, 131, 999).order, 0);
}

// The plan says what an update would write before anything is, or why nothing is.
TEST(UpdateSessionTest, ThePlanNamesTheRecordsWrittenTheChangeOrWhyNothingIsWritten) {
  const FirmwareImage two = FirmwareImage::FromBytes(
      test::Concat({test::Record(131, 0x08004000, kPayload), test::Record(105, 0x2000, kPayload, 0)}), "fw.dat");
  const FirmwareImage trailing = FirmwareImage::FromBytes(
      test::Concat({test::Record(131, 0x08004000, kPayload), Bytes(40, 0xEE)}), "fw.dat");
  ControllerProbe boot;
  boot.present = true;
  boot.mode = ReportMode::kBootCommand;
  boot.queried = true;
  boot.deviceVersion = FirmwareVersion::FromWord(120);
  boot.at.version = 100;
  ControllerProbe olderAt = boot;
  olderAt.at.version = 110;
  ControllerProbe packet = boot;
  packet.mode = ReportMode::kPacket;
  ControllerProbe silent = boot;
  silent.queried = false;
  ControllerProbe unknown = packet;
  unknown.deviceVersion = FirmwareVersion::Unknown();
  ControllerProbe same = boot;
  same.deviceVersion = FirmwareVersion::FromWord(131);
  same.at.version = 105;
  const struct {
    const char* what;
    const ControllerProbe& probe;
    const FirmwareImage& image;
    PlanRefusal refusal;
    std::vector<size_t> records;
    std::string action;
  } cases[] = {
      {"boot mode writes both records", boot, two, PlanRefusal::kNone, {1, 2}, "upgrade"},
      {"an older ATmcu record is a downgrade", olderAt, two, PlanRefusal::kNone, {1, 2}, "downgrade"},
      {"the same versions on both", same, two, PlanRefusal::kNone, {1, 2}, "reinstall"},
      {"a packet controller refuses a second record", packet, two, PlanRefusal::kImageRejected, {}, ""},
      {"a packet controller takes trailing bytes", packet, trailing, PlanRefusal::kNone, {1}, "upgrade"},
      {"a boot-mode controller refuses them", boot, trailing, PlanRefusal::kImageRejected, {}, ""},
      {"a silent boot-mode controller", silent, two, PlanRefusal::kNotQueried, {}, ""},
      {"an unknown version", unknown, trailing, PlanRefusal::kNone, {1}, ""},
      {"no controller", ControllerProbe{}, two, PlanRefusal::kNoController, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const UpdatePlan plan = PlanUpdate(c.probe, c.image);
    EXPECT_EQ(plan.refusal, c.refusal);
    EXPECT_EQ(plan.Writes(), plan.reason.Empty());
    std::vector<size_t> numbers;
    for (const PlannedRecord& record : plan.records) numbers.push_back(record.number);
    EXPECT_EQ(numbers, c.records);
    EXPECT_EQ(plan.Action(), c.action);
  }
  const UpdatePlan both = PlanUpdate(boot, two);
  ASSERT_EQ(both.records.size(), 2u);
  EXPECT_EQ(both.records[1].mcu, ImageMcu::kAtMcu);
  EXPECT_EQ(both.records[1].destination, 0x2000u | kAtMcuAddressBit);
  EXPECT_EQ(both.records[1].version, 105u);
}

}  // namespace
}  // namespace tarvik
