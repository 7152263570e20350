// The boot-mode controller's information query at start and on arrival.
#include <gtest/gtest.h>

#include "base/bytes.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

class InfoQueryTest : public ::testing::Test, protected test::WindowRig {
 protected:
  InfoQueryTest() { system.localTime = {2025, 1, 1, 0, 0, 0}; }
};

const char kSeparator[] =
    "\r\n\r\n--------------------------------------------------------------------------\r\n"
    "2025-01-01 00:00:00\r\n";

TEST_F(InfoQueryTest, SuccessfulQueryLogsBothBlocksAndShowsTheVersion) {
  EnableLog();
  bootConfig.main.version = (2u << 16) | 123;
  bootConfig.main.revision = 5;
  PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00 (Fw v1.23 beta2 r5)");
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), (2u << 16) | 123);
  });
  const std::string query = std::string(kSeparator) +
                            "Get gamepad info ok!\r\n"
                            "pid=0x7e23\r\n"
                            "version=0x2007b (v1.2 beta2)\r\n"
                            "revision=5\r\n"
                            "uid=32415f11 4e385322 20373133\r\n"
                            "boot_id=0b1d0044 0b1d0055 0b1d0066\r\n"
                            "bootIDAddr=0x800f800\r\n"
                            "appIDAddr=0x800f400\r\n"
                            "VerAddr=0x800fc00\r\n"
                            "Get ATmcu info ok!\r\n"
                            "ATpid=0x0a01\r\n"
                            "ATversion=0x6e (v1.1 beta0)\r\n"
                            "ATmcu VerAddr=0x1fc00\r\n";
  // Start-up queries twice: each query writes its own separator and timestamp.
  EXPECT_EQ(Log(), query + query);
}

TEST_F(InfoQueryTest, TitleAndLogFormsDifferForBetaAboveAByte) {
  EnableLog();
  bootConfig.main.version = (256u << 16) | 100;
  bootConfig.main.revision = 7;
  PlugController(3);
  RunWindow([&](CUpdateDlg&) { EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00 (Fw v1.00 beta256 r7)"); });
  EXPECT_NE(Log().find("version=0x1000064 (v1.0 beta0)\r\n"), std::string::npos);
}

TEST_F(InfoQueryTest, ErasedVersionAndRevisionShowAsZero) {
  EnableLog();
  bootConfig.main.version = 0xFFFFFFFFu;
  bootConfig.main.revision = 0xFFFF;
  PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00 (Fw v0.00 r0)");
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), 0u);
  });
  EXPECT_NE(Log().find("version=0xffffffff (v655.4 beta255)\r\n"), std::string::npos);
  EXPECT_NE(Log().find("revision=65535\r\n"), std::string::npos);
}

TEST_F(InfoQueryTest, SilentMainMcuStopsTheQueryWithAMessageAndNoAtRequest) {
  EnableLog();
  bootConfig.infoMain = SimInfoAnswer::kSilent;
  PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), FirmwareVersion::kUnknownWord);
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
  });
  EXPECT_EQ(user.MessageTexts(), (std::vector<std::string>{"Get device info error", "Get device info error"}));
  EXPECT_FALSE(user.captions[0].has_value());  // the application's name is shown
  // The entry has no line end: the next query's separator runs on from it.
  EXPECT_EQ(Log(), std::string(kSeparator) + "Get device info error" + kSeparator + "Get device info error");
  // Every request went to the main microcontroller.
  for (const auto& frame : bus.ReportsWrittenTo(1)) EXPECT_EQ(GetLe32(&frame[1 + boot::kFrameAddress]), 0u);
}

TEST_F(InfoQueryTest, SilentAtMcuLeavesTheMainLinesAndTheTitleAlone) {
  EnableLog();
  bootConfig.infoAt = SimInfoAnswer::kWrong;
  PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), FirmwareVersion::kUnknownWord);
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
  });
  EXPECT_EQ(user.MessageTexts().at(0), "Get sub device info error");
  const std::string log = Log();
  EXPECT_NE(log.find("VerAddr=0x800fc00\r\nGet sub device info error"), std::string::npos);
  EXPECT_EQ(log.find("ATpid"), std::string::npos);
}

TEST_F(InfoQueryTest, WithoutLogNothingIsWrittenAndTheRestIsTheSame) {
  PlugController(3);
  RunWindow([&](CUpdateDlg&) { EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00 (Fw v1.20 r5)"); });
  EXPECT_FALSE(std::filesystem::exists(Dir() / "log.txt"));
}

TEST_F(InfoQueryTest, ControllerThatCannotBeOpenedIsNotAsked) {
  const int boot = PlugController(3);
  bus.SetOpenable(boot, false);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), FirmwareVersion::kUnknownWord);
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
  });
  // A device that cannot be opened is not found by the search either.
  EXPECT_TRUE(bus.ReportsWrittenTo(boot).empty());
  EXPECT_TRUE(user.MessageTexts().empty());
}

}  // namespace
}  // namespace tarvik
