// How update attempts end as the window's owner learns it: one outcome per
// attempt with its reason, and the faults where an update could hang, claim
// success it did not have, or run a second query inside the first.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/bytes.h"
#include "tests/support/fault_bus.h"
#include "tests/support/image_builder.h"
#include "tests/support/packet_frames.h"
#include "tests/support/window_rig.h"
#include "update/packet_protocol.h"

namespace tarvik {
namespace {

using test::Bytes;
using test::Payload;
using test::Record;

class UpdateOutcomeTest : public ::testing::Test, protected test::WindowRig {
 protected:
  int device = 0;
  std::optional<UpdateOutcome> outcome;

  void Press(int row) {
    if (device == 0) device = PlugController(row);
    RunWindow([&](CUpdateDlg& dlg) {
      ASSERT_TRUE(PressUpdate(dlg));
      outcome = dlg.LastOutcome();
    });
    ASSERT_TRUE(outcome.has_value());
  }
  // One press on a window whose writes go through `lossy`, which fails those `fails` picks.
  void PressThrough(test::FaultBus& lossy, std::function<bool(const uint8_t*, size_t)> fails) {
    lossy.failWrite = std::move(fails);
    CUpdateDlg dlg(PlatformServices{lossy, host, system});
    host.SetSession([&](HeadlessWindowHost&, IDialogEvents&) {
      host.PumpPending();
      EXPECT_TRUE(PressUpdate(dlg));
      outcome = dlg.LastOutcome();
      return 0;
    });
    dlg.DoModal();
    ASSERT_TRUE(outcome);
  }
  size_t Written(const std::function<bool(const Bytes&)>& match) {
    size_t n = 0;
    for (const Bytes& r : bus.ReportsWrittenTo(device)) n += match(r);
    return n;
  }
  bool ShowedUpgraded() {
    for (const std::string& text : user.MessageTexts()) {
      if (text == "\n Firmware upgraded! \n") return true;
    }
    return false;
  }
};

TEST_F(UpdateOutcomeTest, BootAttemptsEndWithTheirOutcome) {
  user.image = test::WriteFile(Dir() / "fw.dat", Record(131, 0x08004000, Payload(100)));
  Press(3);
  EXPECT_EQ(outcome->result, OutcomeResult::kUpgraded);
  EXPECT_EQ(outcome->bytesSent, 100u);
  EXPECT_EQ(outcome->payloadTotal, 100u);
  EXPECT_EQ(outcome->controllerVersion, "1.20");
  EXPECT_EQ(outcome->imageVersion, "1.31");
  EXPECT_TRUE(outcome->reason.Empty());

  clock.SleepMs(SimBootController::kResetAwayMs);  // back from its reset
  user.confirm = false;
  Press(3);
  EXPECT_EQ(outcome->result, OutcomeResult::kCancelled);
  EXPECT_EQ(outcome->reason.code, ReasonCode::kNotConfirmed);
  EXPECT_FALSE(outcome->controllerTouched);

  user.image.reset();
  Press(3);
  EXPECT_EQ(outcome->result, OutcomeResult::kCancelled);
  EXPECT_EQ(outcome->reason.code, ReasonCode::kNoImageChosen);
}

TEST_F(UpdateOutcomeTest, ADirectoryIsRefusedWithTheFailureBoxAndNoQuestion) {
  user.image = Dir().string();
  Press(3);
  EXPECT_EQ(outcome->result, OutcomeResult::kRejected);
  EXPECT_EQ(outcome->reason, Reason(ReasonCode::kIsDirectory).Path(Dir().string()));
  // The one box is the failure's: no question was asked.
  EXPECT_EQ(user.Count("msgbox"), 1u);
}

TEST_F(UpdateOutcomeTest, AStopRequestEndsTheBootUpdateAsInterrupted) {
  user.image = test::WriteFile(Dir() / "fw.dat", Record(131, 0x08004000, Payload(4600)));
  device = PlugController(3);
  size_t writesAtStop = 0;
  RunWindow([&](CUpdateDlg& dlg) {
    user.onProgress = [&](int pos) {
      if (pos == 50) {
        dlg.RequestStop();
        writesAtStop = bus.ReportsWrittenTo(device).size();
      }
    };
    ASSERT_TRUE(PressUpdate(dlg));
    outcome = dlg.LastOutcome();
  });
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->result, OutcomeResult::kInterrupted);
  EXPECT_TRUE(outcome->controllerTouched);
  EXPECT_EQ(outcome->bytesSent, 2300u);
  // Nothing went out after the chunk in flight.
  EXPECT_LE(bus.ReportsWrittenTo(device).size(), writesAtStop + 1);
}

TEST_F(UpdateOutcomeTest, PacketImageChangedOnDiskAfterItsSelectionIsWrittenAsSelected) {
  const std::string path = test::WriteFile(Dir() / "fw.dat", Record(150, 0x08004000, Payload(300)));
  user.image = path;
  user.answer = [&](const std::string& text) -> std::optional<MsgBoxAnswer> {
    // The file loses its last 200 bytes while the user confirms.
    if (text.rfind("Fw ", 0) == 0) std::filesystem::resize_file(path, 28 + 100);
    return std::nullopt;
  };
  Press(1);
  EXPECT_EQ(outcome->result, OutcomeResult::kUpgraded);
  EXPECT_EQ(outcome->bytesSent, 300u);
  EXPECT_EQ(packetModel->Firmware(), Payload(300));
}

TEST_F(UpdateOutcomeTest, PacketUpdateWhoseStartRequestIsNotWrittenFailsUntouched) {
  user.image = test::WriteFile(Dir() / "fw.dat", Record(150, 0x08004000, Payload(100)));
  device = PlugController(1);
  test::FaultBus lossy(bus);
  bool versionAsked = false;
  // The version query goes out first; the start request after it is refused.
  PressThrough(lossy, [&versionAsked](const uint8_t* report, size_t size) {
    const bool refused = versionAsked && !test::IsFirmwarePacket(report, size, packet::kCmdVersion);
    versionAsked = versionAsked || test::IsFirmwarePacket(report, size, packet::kCmdVersion);
    return refused;
  });
  EXPECT_EQ(outcome->result, OutcomeResult::kFailed);
  EXPECT_EQ(outcome->reason.code, ReasonCode::kStartUnwritten);
  EXPECT_FALSE(outcome->controllerTouched);
  EXPECT_TRUE(packetModel->Firmware().empty());
}

TEST_F(UpdateOutcomeTest, PacketUpdateWhoseEndPacketIsNotWrittenIsNoSuccess) {
  user.image = test::WriteFile(Dir() / "fw.dat", Record(150, 0x08004000, Payload(100)));
  device = PlugController(1);
  test::FaultBus lossy(bus);
  PressThrough(lossy, [](const uint8_t* report, size_t size) {
    return test::IsFirmwarePacket(report, size, packet::kCmdEnd);
  });
  EXPECT_EQ(outcome->result, OutcomeResult::kFailed);
  EXPECT_EQ(outcome->reason.code, ReasonCode::kEndUnwritten);
  EXPECT_FALSE(ShowedUpgraded());
  EXPECT_EQ(user.LastBoxLines(), (std::vector<std::string>{"Firmware update failure",
                                                            "The end packet could not be written.",
                                                            test::kStepPacketTouched}));
}

TEST_F(UpdateOutcomeTest, DeviceNoticesDuringAQueryMessageBoxWaitForTheQuery) {
  bootConfig.infoAt = SimInfoAnswer::kSilent;  // the query ends with a message box
  device = PlugController(3);
  CUpdateDlg* window = nullptr;
  size_t nestedInfoRequests = 0;
  user.answer = [&](const std::string& text) -> std::optional<MsgBoxAnswer> {
    if (window == nullptr || text != "Get sub device info error") return std::nullopt;
    // The box's event loop delivers an arrival notice (another HID interface).
    const auto infoRequests = [&] {
      return Written([](const Bytes& r) { return GetLe16(&r[1 + boot::kFrameCommand]) == boot::kCmdGetInfo; });
    };
    const size_t before = infoRequests();
    CUpdateDlg* dlg = window;
    window = nullptr;  // one notice is enough
    dlg->OnDeviceChange(DeviceChange::kArrival);
    nestedInfoRequests = infoRequests() - before;
    return std::nullopt;
  };
  size_t boxes = 0;
  RunWindow([&](CUpdateDlg& dlg) {
    window = &dlg;
    dlg.OnDeviceChange(DeviceChange::kArrival);
    boxes = user.MessageTexts().size();
  });
  EXPECT_EQ(nestedInfoRequests, 0u);
  // The notice was handled once the query had ended: a second query, a second box.
  EXPECT_GE(boxes, 4u);
}

}  // namespace
}  // namespace tarvik
