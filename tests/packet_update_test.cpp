// Packet-protocol controllers: the version query and whole updates against
// the simulated controller in report modes 1 and 2.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/strformat.h"
#include "tests/support/image_builder.h"
#include "tests/support/packet_frames.h"
#include "tests/support/scripted_model.h"
#include "tests/support/window_rig.h"
#include "update/packet_protocol.h"

namespace tarvik {
namespace {

using test::Bytes;
using test::Payload;
using test::Record;

class PacketUpdateTest : public ::testing::Test, protected test::WindowRig {
 protected:
  int device = 0;
  // One record of `desLen` bytes, with the chain's empty version-0 header
  // behind it when `terminated` (the bytes the last data packet carries beyond desLen).
  void UseImage(uint32_t desLen, bool terminated = true) {
    const Bytes record = Record(150, 0x08004000, Payload(desLen));
    user.image = test::WriteFile(Dir() / "fw.dat", terminated ? test::Concat({record, Bytes(28, 0)}) : record);
  }
  void Update(int row, const std::function<void(CUpdateDlg&)>& after = {}) {
    if (device == 0) device = PlugController(row);
    RunWindow([&](CUpdateDlg& dlg) {
      user.events.clear();
      ASSERT_TRUE(PressUpdate(dlg));
      if (after) after(dlg);
    });
  }
  // Frames the host sent, by frame type (and command for firmware packets).
  size_t Sent(uint8_t type, int command = -1) {
    size_t count = 0;
    for (const Bytes& r : bus.ReportsWrittenTo(device)) {
      const uint8_t* frame = test::FrameOfReport(r.data());
      if (packet::IsPacketFrame(frame) && packet::FrameType(frame) == type &&
          (command < 0 || packet::BodyCommand(packet::FrameBody(frame)) == command)) {
        ++count;
      }
    }
    return count;
  }
  bool Succeeded() {
    const auto texts = user.MessageTexts();
    return !texts.empty() && texts.back() == "\n Firmware upgraded! \n";
  }
  std::vector<int> DataProgress() {
    std::vector<int> positions = user.ProgressPositions();
    positions.erase(std::remove(positions.begin(), positions.end(), 0), positions.end());
    return positions;
  }
};

TEST_F(PacketUpdateTest, StartUpShowsTheVersionInBothTitleForms) {
  PlugController(1);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00(GamePad V1.23)");
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), 123u);
  });
  EXPECT_EQ(packetModel->Counts().versionQueries, 2);

  packetConfig.version = (2u << 16) | 123;
  test::WindowRig beta;
  beta.packetConfig = packetConfig;
  beta.PlugController(2);
  beta.RunWindow([&](CUpdateDlg&) { EXPECT_EQ(beta.host.WindowText(), "Tarvik Update v2.00(GamePad V1.23 beta2)"); });
  EXPECT_EQ(beta.packetModel->Counts().versionQueries, 1);
  EXPECT_EQ(beta.packetModel->Counts().mode2Signals, 1);
}

TEST_F(PacketUpdateTest, ControllerWithoutFirmwareGetsTheConnectionInstructions) {
  packetConfig.version = 0xFFFFFFFFu;
  PlugController(1);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), 0xFFFFFFFFu);
  });
  EXPECT_EQ(user.MessageTexts(), std::vector<std::string>(2, Text(kTextHelp)));
}

TEST_F(PacketUpdateTest, VersionQueryWithoutAnswerGivesUpAfterTwoSeconds) {
  packetConfig.version = std::nullopt;
  PlugController(1);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), FirmwareVersion::kUnknownWord);
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
  });
  EXPECT_EQ(clock.NowMs(), 2u * 2000u);  // two queries of ten 200 ms reads
  EXPECT_EQ(packetModel->Counts().receiveFailures, 20);
}

TEST_F(PacketUpdateTest, WholeUpdateAnswersEachDataRequestWithTheNextBytesUpToTheAnnouncedLength) {
  UseImage(100);
  Update(1, [&](CUpdateDlg& dlg) {
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kUpgraded);
    EXPECT_FALSE(host.IsTimerRunning(kUpdateTimerId));
    EXPECT_TRUE(host.IsItemVisible(IDC_STATIC_NOTICE));
    EXPECT_EQ(host.ProgressPos(), 0);
  });
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(packetModel->Firmware(), Payload(100));
  EXPECT_EQ(packetModel->CompletedTransfers(), 1);
  // Four packets of 32, the last beyond desLen; the bar stops at its end.
  EXPECT_EQ(packetModel->Counts().dataPackets, 4);
  EXPECT_EQ(DataProgress(), (std::vector<int>{64, 96, 100}));
  EXPECT_EQ(Sent(packet::kTypeFirmware, packet::kCmdHeader), 1u);
  EXPECT_EQ(Sent(packet::kTypeFirmware, packet::kCmdEnd), 1u);
  const auto trace = system.TraceLines();
  EXPECT_NE(std::find(trace.begin(), trace.end(), "desVersion is 150\n"), trace.end());
  EXPECT_NE(std::find(trace.begin(), trace.end(), "Exit Usb_UpdateThread\n"), trace.end());
}

// A controller that starts its new firmware after the end packet leaves the
// bus and comes back: the title and the next question show the version it
// was sent. One that stays keeps telling its old version.
TEST(PacketRestartTest, TheWindowFollowsAControllerThatStartsItsNewFirmware) {
  struct Case {
    bool endReplug;
    const char* titleAfter;
    std::string nextConfirmation;
  };
  const Case cases[] = {
      {true, "Tarvik Update v2.00(GamePad V1.50)", "Fw 1.50 and current is 1.50\nThe controller already runs 1.50.\n" + test::kUnsignedLine},
      {false, "Tarvik Update v2.00(GamePad V1.23)", "Fw 1.50 and current is 1.23\n" + test::kUnsignedLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.endReplug);
    test::WindowRig rig;
    rig.packetConfig.endReplug = c.endReplug;
    rig.PlugController(1);
    rig.user.image =
        test::WriteFile(rig.Dir() / "fw.dat", test::Concat({Record(150, 0x08004000, Payload(100)), Bytes(28, 0)}));
    rig.RunWindow([&](CUpdateDlg& dlg) {
      ASSERT_TRUE(rig.PressUpdate(dlg));
      rig.WaitAtWindow(SimPacketController::kRestartAwayMs + 100);
      EXPECT_EQ(rig.host.WindowText(), c.titleAfter);
      EXPECT_TRUE(rig.host.IsItemEnabled(IDC_USB_UPDATE));

      rig.user.confirm = false;
      rig.user.events.clear();
      ASSERT_TRUE(rig.PressUpdate(dlg));
      EXPECT_EQ(rig.user.MessageTexts(), std::vector<std::string>{c.nextConfirmation});
    });
    EXPECT_EQ(rig.packetModel->CompletedTransfers(), 1);
  }
}

TEST_F(PacketUpdateTest, PressOnTheReEnabledButtonStartsNoSecondWorker) {
  UseImage(100);
  device = PlugController(1);
  bool clicked = false;
  RunWindow([&](CUpdateDlg& dlg) {
    // The button comes back once the last data packet is out, while the worker
    // still waits for the controller's last request: press it then.
    std::function<void()> pressWhenEnabled = [&] {
      if (!host.IsItemEnabled(IDC_USB_UPDATE)) return host.PostToUi(pressWhenEnabled);
      clicked = host.Click(IDC_USB_UPDATE);
      EXPECT_TRUE(dlg.IsBusy());
    };
    user.onProgress = [&](int pos) {
      if (pos == 100) host.PostToUi(pressWhenEnabled);
    };
    ASSERT_TRUE(PressUpdate(dlg));
  });
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(Sent(packet::kTypeStartRequest), 1u);
}

TEST_F(PacketUpdateTest, ImagesTheControllerWouldNotTakeWholeAreRefusedBeforeTheHeader) {
  const Bytes cases[] = {
      // The first record announces nothing; the payload is in a record the protocol never sends.
      test::Concat({Record(150, 0x08004000, Bytes{}), Record(150, 0x08005000, Payload(64))}),
      // A second microcontroller's record would be dropped.
      test::Concat({Record(150, 0x08004000, Payload(100)), Record(112, 0x3000, Payload(50), 0)}),
  };
  for (const Bytes& image : cases) {
    test::WindowRig rig;
    rig.PlugController(1);
    rig.user.image = test::WriteFile(rig.Dir() / "fw.dat", image);
    rig.RunWindow([&](CUpdateDlg& dlg) {
      ASSERT_TRUE(rig.PressUpdate(dlg));
      ASSERT_TRUE(dlg.LastOutcome());
      EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kRejected);
    });
    // Refused before the question: the failure box is the one box.
    EXPECT_EQ(rig.user.MessageTexts().size(), 1u);
    EXPECT_EQ(rig.user.LastBoxLines().back(), test::kStepOtherImage);
    EXPECT_EQ(rig.packetModel->AnnouncedLength(), 0u);
    EXPECT_EQ(rig.packetModel->Counts().dataPackets, 0);
  }
}

TEST_F(PacketUpdateTest, ShortImageStillSendsTwoDataPacketsInReportModeTwoAfterReplug) {
  packetConfig.onMode2Signal = SimSwitch::kReplug;
  UseImage(20, false);
  Update(2);
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(packetModel->ReportMode(), 1);
  // The 20 bytes, then the empty packet that completes the transfer.
  EXPECT_EQ(packetModel->Firmware(), Payload(20));
  EXPECT_EQ(packetModel->Counts().dataPackets, 2);
}

TEST_F(PacketUpdateTest, ReportModeTwoStartAnswerStopsWithTheBootModeMessage) {
  UseImage(100, false);
  Update(2, [&](CUpdateDlg& dlg) { EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kFailed); });
  EXPECT_EQ(user.MessageTexts(),
            std::vector<std::string>{"Firmware update failure, please handle work in BOOT mode\n\nThe controller must be put "
                                     "in boot mode first (hold the pair button while plugging it in)."});
  EXPECT_EQ(Sent(packet::kTypeFirmware, packet::kCmdHeader), 0u);
}

TEST_F(PacketUpdateTest, FailureReportDuringTheDataEndsWithTheFailureMessage) {
  for (uint8_t command : {packet::kCmdFailure1, packet::kCmdFailure2}) {
    test::WindowRig rig;
    rig.packetConfig.failAt = 2;
    rig.packetConfig.failCommand = command;
    rig.user.image = test::WriteFile(rig.Dir() / "fw.dat", Record(150, 0, Payload(200)));
    rig.PlugController(1);
    rig.RunWindow([&](CUpdateDlg& dlg) {
      ASSERT_TRUE(rig.PressUpdate(dlg));
      EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kFailed);
      EXPECT_FALSE(rig.host.IsTimerRunning(kUpdateTimerId));
      EXPECT_TRUE(rig.host.IsItemEnabled(IDC_USB_UPDATE));
      EXPECT_FALSE(rig.host.IsItemVisible(IDC_STATIC_NOTICE));
    });
    EXPECT_EQ(rig.user.LastBoxLines(), (std::vector<std::string>{
                                           "Firmware update failure",
                                           StrFormat("The controller reported failure 0x%02X after 2 packets at 32 %%.",
                                                     command),
                                           test::kStepPacketTouched,
                                       }));
  }
}

TEST_F(PacketUpdateTest, SilentControllerGetsANoticeEveryTimeOutAndTheUpdateEnds) {
  packetConfig.silentAfter = 0;  // nothing after the header
  UseImage(100, false);
  Update(1, [&](CUpdateDlg& dlg) { EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kFailed); });
  EXPECT_EQ(user.LastBoxLines()[1], "The controller sent nothing for 30 s at 0 %.");
  // One notice per 10 ms read for 30 seconds.
  EXPECT_NEAR(packetModel->Counts().receiveFailures, 3000, 5);
}

TEST_F(PacketUpdateTest, VanishedControllerEndsTheUpdate) {
  packetConfig.silentAfter = 2;
  UseImage(100, false);
  device = PlugController(1);
  RunWindow([&](CUpdateDlg& dlg) {
    user.onProgress = [&](int pos) {
      if (pos == 64) bus.Unplug(device);
    };
    ASSERT_TRUE(PressUpdate(dlg));
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");  // the removal, handled once the worker ended
  });
  EXPECT_EQ(user.LastBoxLines(), (std::vector<std::string>{"Firmware update failure",
                                                            "The controller was disconnected at 64 %.",
                                                            test::kStepPacketTouched}));
  EXPECT_LT(clock.NowMs(), 1000u);
}

TEST_F(PacketUpdateTest, ImageShorterThanItAnnouncesIsRefusedBeforeTheHeader) {
  user.image = test::WriteFile(Dir() / "fw.dat", Record(150, 0x08004000, Payload(99), 1, 100));
  Update(1);
  EXPECT_EQ(user.MessageTexts().size(), 1u);
  EXPECT_EQ(user.LastBoxLines().front(), "Firmware update failure");
  EXPECT_EQ(Sent(packet::kTypeFirmware, packet::kCmdHeader), 0u);
}

TEST_F(PacketUpdateTest, StopMidTransferEndsWithTheTimerKilledAndNoEndPacket) {
  UseImage(200);
  device = PlugController(1);
  RunWindow([&](CUpdateDlg& dlg) {
    user.onProgress = [&](int pos) {
      if (pos > 0) dlg.RequestStop();
    };
    ASSERT_TRUE(PressUpdate(dlg));
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kInterrupted);
    EXPECT_FALSE(host.IsTimerRunning(kUpdateTimerId));
  });
  EXPECT_EQ(Sent(packet::kTypeFirmware, packet::kCmdEnd), 0u);
  EXPECT_LT(packetModel->Counts().dataPackets, 7);
  EXPECT_FALSE(Succeeded());
}

TEST_F(PacketUpdateTest, CancelledConfirmationStopsWithoutMessage) {
  user.confirm = false;
  UseImage(100, false);
  Update(1, [&](CUpdateDlg& dlg) {
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kCancelled);
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
  });
  EXPECT_EQ(user.MessageTexts().size(), 1u);
  EXPECT_EQ(Sent(packet::kTypeFirmware, packet::kCmdHeader), 0u);
}

TEST_F(PacketUpdateTest, UnwritableStartRequestSetsTheButtonAgain) {
  SimDeviceSetup setup = ControllerSetup(1);
  setup.outputReportSize = 65;  // every write of a 64-byte report fails
  device = bus.Plug(setup, false);
  RunWindow([&](CUpdateDlg& dlg) {
    ASSERT_TRUE(PressUpdate(dlg));
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kFailed);
  });
  const auto trace = system.TraceLines();
  EXPECT_NE(std::find(trace.begin(), trace.end(), "send() failed with error code 0\n"), trace.end());
}

TEST_F(PacketUpdateTest, JunkBetweenFramesIsIgnored) {
  packetConfig.junk = true;
  UseImage(100);
  Update(1);
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(packetModel->Firmware(), Payload(100));
}

TEST_F(PacketUpdateTest, DataRequestDuringTheVersionQueryIsIgnored) {
  // A controller that asks for data when asked for its version: the query
  // acts on version reports alone, so nothing is sent and nothing shown.
  SimDeviceSetup setup = ControllerSetup(1);
  setup.model = std::make_shared<test::ScriptedModel>([](const Bytes& report, SimDevicePort& port) {
    if (!test::IsFirmwarePacket(report.data(), report.size(), packet::kCmdVersion)) return;
    Bytes request(64, 0);
    request[0] = 0x81;
    const uint8_t frame[] = {0x05, 0x00, 0x16, 0x01, 0x00, 0x14};
    std::copy(std::begin(frame), std::end(frame), request.begin() + 1);
    port.SendInputReport(request);
  });
  device = bus.Plug(setup, false);
  RunWindow();
  EXPECT_EQ(Sent(packet::kTypeFirmware, packet::kCmdEnd), 0u);
  EXPECT_EQ(user.Count("filedialog"), 0u);
  EXPECT_TRUE(user.MessageTexts().empty());
}

}  // namespace
}  // namespace tarvik
