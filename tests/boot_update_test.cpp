// Whole boot-mode updates against the simulated controller.
#include <gtest/gtest.h>

#include <algorithm>

#include "texts/reason_texts.h"
#include "base/bytes.h"
#include "tests/support/image_builder.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

using namespace boot;
using test::Bytes;
using test::Payload;
using test::Record;
using Region = SimBootController::FlashRegion;
using Stamp = SimBootController::VersionStamp;

class BootUpdateTest : public ::testing::Test, protected test::WindowRig {
 protected:
  int device = 0;

  // Runs start-up and one press of the update button with `image` chosen.
  void Update(const Bytes& image, const std::function<void(CUpdateDlg&)>& after = {}) {
    user.image = test::WriteFile(Dir() / "fw.dat", image);
    if (device == 0) device = PlugController(3);
    RunWindow([&](CUpdateDlg& dlg) {
      user.events.clear();
      ASSERT_TRUE(PressUpdate(dlg));
      if (after) after(dlg);
    });
  }
  std::vector<Bytes> FramesOf(uint16_t command) {
    std::vector<Bytes> frames;
    for (const Bytes& report : bus.ReportsWrittenTo(device)) {
      if (GetLe16(&report[1 + kFrameCommand]) == command) frames.push_back(report);
    }
    return frames;
  }
  bool Succeeded() {
    const auto texts = user.MessageTexts();
    return !texts.empty() && texts.back() == "\n Firmware upgraded! \n" &&
           host.IsItemVisible(IDC_STATIC_NOTICE);
  }
};

TEST_F(BootUpdateTest, OneRecordIsErasedWrittenInChunksStampedAndTheControllerReset) {
  EnableLog();
  const Bytes payload = Payload(100);
  Update(Record(123, 0x08004000, payload), [&](CUpdateDlg& dlg) {
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kUpgraded);
    EXPECT_EQ(host.ProgressPos(), 0);
    // The controller is away across its reset: the refresh finds none.
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(dlg.Hid().ReadTimeout(), 10u);
  });
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(user.captions.back(), std::optional<std::string>("Tarvik Update v2.00"));

  const auto erases = FramesOf(kCmdErase);
  ASSERT_EQ(erases.size(), 1u);
  EXPECT_EQ(GetLe32(&erases[0][1 + kFrameAddress]), 0x08004000u);
  EXPECT_EQ(GetLe32(&erases[0][1 + kFrameTotalLength]), 0x8000u);
  const auto writes = FramesOf(kCmdWriteData);
  ASSERT_EQ(writes.size(), 3u);
  const uint32_t sizes[] = {46, 46, 8};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(GetLe32(&writes[i][1 + kFrameAddress]), 0x08004000u + 46 * i);
    EXPECT_EQ(GetLe32(&writes[i][1 + kFrameDataLength]), sizes[i]);
    EXPECT_EQ(GetLe32(&writes[i][1 + kFrameTotalLength]), 100u);
  }
  const auto stamps = FramesOf(kCmdWriteValue);
  ASSERT_EQ(stamps.size(), 1u);
  EXPECT_EQ(GetLe32(&stamps[0][1 + kFrameAddress]), 0x0800FC00u);
  EXPECT_EQ(GetLe32(&stamps[0][1 + kFrameData]), 123u);
  EXPECT_EQ(FramesOf(kCmdReset).size(), 1u);

  EXPECT_EQ(bootModel->WrittenRegions(), (std::vector<Region>{{"main", 0x08004000, payload}}));
  EXPECT_EQ(bootModel->Stamps(), (std::vector<Stamp>{{"main", 0x0800FC00, 123}}));
  EXPECT_EQ(bootModel->WritesOutsideErased(), 0);
  EXPECT_EQ(user.ProgressPositions(), (std::vector<int>{0, 0, 46, 92, 100, 0}));

  const std::string log = Log();
  const std::string update = log.substr(log.rfind("ATmcu VerAddr=0x1fc00\r\n") + 23);
  EXPECT_EQ(update,
            "\r\n"
            "Will update main mcu\r\n"
            "Version address:0x0800fc00\r\n"
            "[Erase OK]desAddress:0x8004000 desLen:0x64\r\n"
            "Updating...\r\n"
            "file_offset:0x1c\r\n"
            "Updating firmware end\r\n"
            "[Set version]address:0x800fc00\r\n"
            "Set version OK\r\n"
            "Now File Position=0x80\r\n"
            "\r\n"
            "Try to read next fw header\r\n"
            "Reset gamepad\r\n");
}

TEST_F(BootUpdateTest, SecondRecordForTheAtMcuGoesToItsAddressesWithBit31) {
  const Bytes first = Payload(100, 1);
  const Bytes second = Payload(50, 2);
  Update(test::Concat({Record(123, 0x08004000, first), Record((1u << 16) | 110, 0x2000, second, 0)}));
  EXPECT_TRUE(Succeeded());
  const auto erases = FramesOf(kCmdErase);
  ASSERT_EQ(erases.size(), 2u);
  EXPECT_EQ(GetLe32(&erases[1][1 + kFrameAddress]), 0x80002000u);
  for (const Bytes& w : FramesOf(kCmdWriteData)) {
    const uint32_t address = GetLe32(&w[1 + kFrameAddress]);
    EXPECT_TRUE(address < 0x80000000u ? address >= 0x08004000u : address >= 0x80002000u);
  }
  EXPECT_EQ(bootModel->WrittenRegions(),
            (std::vector<Region>{{"main", 0x08004000, first}, {"at", 0x2000, second}}));
  EXPECT_EQ(bootModel->Stamps(), (std::vector<Stamp>{{"main", 0x0800FC00, 123},
                                                      {"at", 0x0001FC00, (1u << 16) | 110}}));
  // Bytes sent carries across records: 46, 92, 100 of 150, then 146, 150.
  EXPECT_EQ(user.ProgressPositions(), (std::vector<int>{0, 0, 30, 61, 66, 97, 100, 0}));
}

TEST_F(BootUpdateTest, FirstRecordForTheAtMcu) {
  EnableLog();
  Update(Record(110, 0x3000, Payload(10), 0));
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(bootModel->Stamps(), (std::vector<Stamp>{{"at", 0x0001FC00, 110}}));
  EXPECT_NE(Log().find("Will update ATmcu\r\nFw Entry:0x80003000\r\nVersion address:0x0001fc00\r\n"),
            std::string::npos);
}

TEST_F(BootUpdateTest, EveryRecordOfALongerChainIsWritten) {
  Update(test::Concat({Record(101, 0x1000, Payload(10)), Record(102, 0x2000, Payload(20)),
                       Record(103, 0x3000, Payload(30))}));
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(bootModel->Stamps().size(), 3u);
  EXPECT_EQ(bootModel->WrittenRegions().size(), 3u);
}

TEST_F(BootUpdateTest, TheBarHearsOfEachPositionOnce) {
  // 200 chunks of 46 bytes, 101 positions: each position reaches the window once.
  Update(Record(123, 0x1000, Payload(200 * 46)));
  EXPECT_TRUE(Succeeded());
  std::vector<int> positions = user.ProgressPositions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), 0);  // the end of the update resets the bar
  positions.pop_back();
  positions.erase(positions.begin(), std::find(positions.begin(), positions.end(), 1));
  EXPECT_EQ(positions.size(), 100u);
  EXPECT_TRUE(std::adjacent_find(positions.begin(), positions.end(), std::greater_equal<int>()) == positions.end());
}

TEST_F(BootUpdateTest, VersionZeroHeaderEndsTheChain) {
  Update(test::Concat({Record(123, 0x1000, Payload(100)), Bytes(28, 0)}));
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(bootModel->WrittenRegions().size(), 1u);
  EXPECT_EQ(FramesOf(kCmdReset).size(), 1u);
}

TEST_F(BootUpdateTest, ChunkThatFailsTwiceIsTriedAgainAndTheUpdateGoesOn) {
  EnableLog();
  bootConfig.writeFail = true;
  bootConfig.writeFailChunk = 1;
  bootConfig.writeFailAttempts = 2;
  const Bytes payload = Payload(100);
  Update(Record(123, 0x1000, payload));
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(FramesOf(kCmdWriteData).size(), 5u);
  EXPECT_EQ(bootModel->WrittenRegions(), (std::vector<Region>{{"main", 0x1000, payload}}));
  const std::string log = Log();
  EXPECT_NE(log.find("[Write error]address=0x102e len=0x2e\r\nWrite error, try again!\r\n"
                     "[Write error]address=0x102e len=0x2e\r\nWrite error, try again!\r\n"
                     "Updating firmware end\r\n"),
            std::string::npos);
}

TEST_F(BootUpdateTest, ChunkThatNeverSucceedsAbortsWithoutStampOrResetAndSaysSo) {
  EnableLog();
  bootConfig.writeFail = true;
  bootConfig.writeFailChunk = 0;
  bootConfig.writeFailAttempts = 3;
  Update(Record(123, 0x1000, Payload(100)), [&](CUpdateDlg& dlg) {
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kFailed);
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_FALSE(host.IsItemVisible(IDC_STATIC_NOTICE));
  });
  EXPECT_EQ(FramesOf(kCmdWriteData).size(), 3u);
  EXPECT_TRUE(FramesOf(kCmdWriteValue).empty());
  EXPECT_TRUE(FramesOf(kCmdReset).empty());
  // The confirmation, then the failure: a write that failed does not look like one that never began.
  EXPECT_EQ(user.MessageTexts().front(), "Fw 1.23 and current is 1.20\n" + test::kUnsignedLine);
  EXPECT_EQ(user.LastBoxLines(), (std::vector<std::string>{
                                     "Firmware update failure",
                                     "The chunk at 0x00001000 was not acknowledged in three attempts.",
                                     test::kStepAfterHalfWrite,
                                 }));
  const std::string log = Log();
  EXPECT_NE(log.find("Write error, try again!\r\n[Write error]address=0x1000 len=0x2e\r\n"
                     "Write flash timeout, abort!\r\n"),
            std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 29), "Write flash timeout, abort!\r\n");
}

TEST_F(BootUpdateTest, EraseFailureOnTheSecondRecordKeepsTheFirstStamped) {
  EnableLog();
  device = PlugController(3);
  // The controller stops answering erases once the first record is written.
  user.image = test::WriteFile(Dir() / "fw.dat", test::Concat({Record(123, 0x1000, Payload(50)),
                                                                Record(124, 0x2000, Payload(50))}));
  RunWindow([&](CUpdateDlg& dlg) {
    user.onProgress = [&](int pos) {
      if (pos == 50) bootModel->Reconfigure([](SimBootConfig& config) { config.eraseAnswers = false; });
    };
    ASSERT_TRUE(PressUpdate(dlg));
  });
  EXPECT_EQ(bootModel->Stamps(), (std::vector<Stamp>{{"main", 0x0800FC00, 123}}));
  EXPECT_TRUE(FramesOf(kCmdReset).empty());
  EXPECT_NE(Log().find("[Erase error]desAddress:0x2000 desLen:0x32\r\n"), std::string::npos);
  EXPECT_EQ(FramesOf(kCmdErase).size(), 12u);
}

TEST_F(BootUpdateTest, CancelledConfirmationSendsNothing) {
  user.confirm = false;
  Update(Record(123, 0x1000, Payload(100)), [&](CUpdateDlg& dlg) {
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kCancelled);
    EXPECT_EQ(dlg.LastOutcome()->imageVersion, "");
  });
  EXPECT_TRUE(FramesOf(kCmdErase).empty());
  EXPECT_TRUE(FramesOf(kCmdWriteData).empty());
  const auto trace = system.TraceLines();
  EXPECT_NE(std::find(trace.begin(), trace.end(), "MessageBox == IDCANCEL\n"), trace.end());
}

TEST_F(BootUpdateTest, ConfirmationShowsTheImageAndControllerVersions) {
  bootConfig.main.version = 100;
  Update(Record((2u << 16) | 123, 0x1000, Payload(10)));
  EXPECT_EQ(user.MessageTexts().at(0), "Fw 1.23 beta2 and current is 1.00\n" + test::kUnsignedLine);
  EXPECT_EQ(user.events.at(3).kind, "filedialog");
  EXPECT_EQ(user.events.at(3).text, "File type(*.dat) *.dat");
}

TEST_F(BootUpdateTest, RejectedImageSendsNothingAndSetsTheButtonAgain) {
  Update(test::Concat({Record(123, 0x1000, Payload(100)), Bytes(10, 0)}), [&](CUpdateDlg&) {
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
  });
  EXPECT_TRUE(FramesOf(kCmdErase).empty());
  EXPECT_FALSE(Succeeded());
}

// Where a version stamp would go must be known before the first erase.
TEST_F(BootUpdateTest, InformationBlocksThatCannotPlaceTheStampEndTheUpdateBeforeAnyErase) {
  const Bytes erased(boot::kInfoBlockSize, 0xFF);
  struct Case {
    bool mainErased;
    bool atErased;
    uint32_t mainVerAddr;
    const char* reason;
  } cases[] = {
      {true, false, 0x0800FC00, "the main mcu's information block reads as erased (all 0xFF)"},
      {false, true, 0x0800FC00, "the ATmcu's information block reads as erased (all 0xFF)"},
      {false, false, 0x8000FC00, "the main mcu's information block gives VerAddr 0x8000FC00, an ATmcu address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    test::WindowRig rig;
    if (c.mainErased) rig.bootConfig.main = boot::InfoBlock::Parse(erased.data());
    if (c.atErased) rig.bootConfig.at = boot::InfoBlock::Parse(erased.data());
    if (!c.mainErased) rig.bootConfig.main.verAddr = c.mainVerAddr;
    const int controller = rig.PlugController(3);
    rig.user.image = test::WriteFile(rig.Dir() / "fw.dat", test::Concat({Record(131, 0x08004000, Payload(100)),
                                                                          Record(131, 0x2000, Payload(50), 0)}));
    rig.RunWindow([&](CUpdateDlg& dlg) {
      ASSERT_TRUE(rig.PressUpdate(dlg));
      ASSERT_TRUE(dlg.LastOutcome());
      EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kFailed);
      const std::string reason = EnglishReasonText(dlg.LastOutcome()->reason);
      EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    });
    for (const Bytes& report : rig.bus.ReportsWrittenTo(controller)) {
      EXPECT_EQ(GetLe16(&report[1 + kFrameCommand]), kCmdGetInfo);
    }
    const std::vector<std::string> box = rig.user.LastBoxLines();
    ASSERT_EQ(box.size(), 3u);
    EXPECT_EQ(box[0], "Firmware update failure");
    EXPECT_EQ(box[2], test::kStepNothingChanged);
  }
}

TEST_F(BootUpdateTest, ImageRewrittenDuringTheUpdateChangesNothingOnTheController) {
  const Bytes original = test::Concat({Record(123, 0x1000, Payload(10000)), Record(123, 0x2000, Payload(50), 0)});
  int zeros = 0;
  user.onProgress = [&](int pos) {
    // Start-up, the press, then the update's own start: rewrite the file in place.
    if (pos == 0 && ++zeros == 3) {
      test::WriteFile(Dir() / "fw.dat", test::Concat({Record(140, 0x1000, Payload(10000, 9)),
                                                      Record(140, 0x2000, Payload(50, 9), 0)}));
    }
  };
  Update(original);
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(bootModel->WrittenRegions(), (std::vector<Region>{{"main", 0x1000, Payload(10000)},
                                                              {"at", 0x2000, Payload(50)}}));
  EXPECT_EQ(bootModel->Stamps(),
            (std::vector<Stamp>{{"main", 0x0800FC00, 123}, {"at", 0x0001FC00, 123}}));
}

TEST_F(BootUpdateTest, NotificationsDuringTheUpdateAreHandledOnceItHasEnded) {
  // It stays on the bus through its reset: the one query comes from the notices posted here.
  bootConfig.resetReplug = false;
  device = PlugController(3);
  user.image = test::WriteFile(Dir() / "fw.dat", Record(123, 0x1000, Payload(100)));
  RunWindow([&](CUpdateDlg& dlg) {
    user.onProgress = [&](int pos) {
      if (pos != 46) return;
      host.PostDeviceChange(DeviceChange::kRemoval);
      host.PostDeviceChange(DeviceChange::kArrival);
      host.PostDeviceChange(DeviceChange::kNodesChanged);
    };
    ASSERT_TRUE(PressUpdate(dlg));
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00 (Fw v1.23 r5)");  // the stamped version
  });
  EXPECT_TRUE(Succeeded());
  // Four requests at start-up, two for the one query after the update; none in between.
  const auto frames = bus.ReportsWrittenTo(device);
  std::vector<uint16_t> commands;
  for (const Bytes& f : frames) commands.push_back(GetLe16(&f[1 + kFrameCommand]));
  const std::vector<uint16_t> expected = {192, 192, 192, 192, 4, 3, 3, 3, 2, 7, 192, 192};
  EXPECT_EQ(commands, expected);
}

// The controller leaves at its reset and comes back running the new firmware;
// the window learns the new version from its arrival. With reset.replug=0 it
// stays, and the window keeps what it queried at start.
TEST(BootUpdateReturnTest, AfterTheUpdateTheTitleAndTheNextConfirmationShowTheControllersVersion) {
  struct Case {
    bool replug;
    const char* titleWhileAway;
    const char* titleAfter;
    std::string nextConfirmation;
  };
  const Case cases[] = {
      {true, "Tarvik Update v2.00", "Tarvik Update v2.00 (Fw v1.31 r5)",
       "Fw 1.31 and current is 1.31\nATmcu 1.31 and current is 1.31\nThe controller already runs 1.31 (ATmcu 1.31).\n" + test::kUnsignedLine},
      {false, "Tarvik Update v2.00 (Fw v1.20 r5)", "Tarvik Update v2.00 (Fw v1.20 r5)",
       "Fw 1.31 and current is 1.20\nATmcu 1.31 and current is 1.10\n" + test::kUnsignedLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replug);
    test::WindowRig rig;
    rig.bootConfig.resetReplug = c.replug;
    rig.PlugController(3);
    rig.user.image = test::WriteFile(
        rig.Dir() / "fw.dat",
        test::Concat({Record(131, 0x08004000, Payload(100)), Record(131, 0x2000, Payload(50, 1), 0)}));
    rig.RunWindow([&](CUpdateDlg& dlg) {
      ASSERT_TRUE(rig.PressUpdate(dlg));
      EXPECT_TRUE(rig.host.IsItemVisible(IDC_STATIC_NOTICE));
      EXPECT_EQ(rig.host.WindowText(), c.titleWhileAway);
      EXPECT_EQ(rig.host.IsItemEnabled(IDC_USB_UPDATE), !c.replug);

      rig.WaitAtWindow(SimBootController::kResetAwayMs);
      EXPECT_EQ(rig.host.WindowText(), c.titleAfter);
      EXPECT_TRUE(rig.host.IsItemEnabled(IDC_USB_UPDATE));

      rig.user.confirm = false;
      rig.user.events.clear();
      ASSERT_TRUE(rig.PressUpdate(dlg));
      EXPECT_EQ(rig.user.MessageTexts(), std::vector<std::string>{c.nextConfirmation});
    });
    EXPECT_EQ(rig.bootModel->ResetCount(), 1);
  }
}

TEST_F(BootUpdateTest, ClosingDuringTheUpdateAsksAndOkStopsTheWorkerFirst) {
  EnableLog();
  user.answer = [&](const std::string& text) -> std::optional<MsgBoxAnswer> {
    // While the confirmation is open the user closes the window, and says yes
    // to both questions.
    if (text.rfind("Fw ", 0) == 0) {
      EXPECT_FALSE(host.RequestClose());
    }
    return std::nullopt;
  };
  Update(Record(123, 0x1000, Payload(100)), [&](CUpdateDlg& dlg) {
    EXPECT_TRUE(host.IsClosing());
    EXPECT_FALSE(dlg.IsBusy());
  });
  const auto texts = user.MessageTexts();
  // The question, asked while the confirmation was open, is answered first.
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("The update is still writing the firmware.\n\nIf it stops now, the controller may not start", 0),
            0u);
  EXPECT_EQ(user.captions[0], std::optional<std::string>("Tarvik Update v2.00"));
  EXPECT_EQ(texts[1].rfind("Fw ", 0), 0u);
  // Stopped before its first command: nothing was erased or written.
  EXPECT_TRUE(FramesOf(kCmdErase).empty());
  EXPECT_TRUE(bootModel->WrittenRegions().empty());
  EXPECT_FALSE(Succeeded());
  EXPECT_NE(Log().find("Update ended as the window closes: interrupted (the update was stopped), 0 of 100 bytes sent"),
            std::string::npos);
}

}  // namespace
}  // namespace tarvik
