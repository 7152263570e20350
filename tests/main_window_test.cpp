// Start-up of the main window with and without controllers.
#include <gtest/gtest.h>

#include <fstream>

#include "res/text_table.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

class MainWindowTest : public ::testing::Test, protected test::WindowRig {};

TEST_F(MainWindowTest, StartWithoutControllerShowsTitleHelpAndADisabledButton) {
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
    EXPECT_EQ(host.ItemText(IDC_USB_UPDATE), "USB Update");
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(host.ItemText(IDC_HELP_TEXT), Text(kTextHelp));
    EXPECT_FALSE(host.IsItemVisible(IDC_STATIC_NOTICE));
    EXPECT_EQ(host.ItemText(IDC_STATIC_NOTICE), "Firmware upgraded!");
    EXPECT_EQ(host.ProgressLow(), 0);
    EXPECT_EQ(host.ProgressHigh(), 100);
    EXPECT_EQ(host.ProgressPos(), 0);
    EXPECT_FALSE(dlg.LastOutcome().has_value());
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), FirmwareVersion::kUnknownWord);
  });
  EXPECT_EQ(bus.RegistrationCount(), 1);
  EXPECT_TRUE(system.TraceLines().empty());
}

TEST_F(MainWindowTest, StartUpRunsItsStepsInOrder) {
  RunWindow();
  std::vector<std::string> kinds;
  for (const auto& e : user.events) kinds.push_back(e.kind + ":" + std::to_string(e.id));
  const std::vector<std::string> expected = {
      "show:-1",    "text:-1",     "text:1008", "range:0",  "progress:0",
      "text:1007", "enable:1007", "title:0"};
  EXPECT_EQ(kinds, expected);
}

TEST_F(MainWindowTest, ChineseInterfaceLanguageGivesChineseTexts) {
  system.language = 2052;
  RunWindow([&](CUpdateDlg&) {
    EXPECT_EQ(host.ItemText(IDC_USB_UPDATE), "USB 升级");
    EXPECT_EQ(host.ItemText(IDC_STATIC_NOTICE), "升级成功。");
    EXPECT_EQ(host.ItemText(IDC_HELP_TEXT), Text(kTextHelp));
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
  });
  EXPECT_NE(host.ItemText(IDC_HELP_TEXT).find("按住配对键"), std::string::npos);
}

TEST_F(MainWindowTest, BootModeControllerIsSearchedTwiceAndEnablesTheButton) {
  const int boot = PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00 (Fw v1.20 r5)");
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), 120u);
    EXPECT_TRUE(dlg.Hid().IsBootMode());
    EXPECT_EQ(dlg.Hid().ReadTimeout(), 200u);  // opened by the version query
  });
  const auto trace = system.TraceLines();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0], "m_DevicePath:" + bus.PathOf(boot) + "\n");
  EXPECT_EQ(user.Count("enable"), 2u);
  // The query ran twice and its title stayed through the plain title step.
  EXPECT_EQ(user.Count("title"), 2u);
  EXPECT_EQ(bootModel->FramesReceived(boot::kCmdGetInfo), 4);
  EXPECT_EQ(bus.RegistrationCount(), 1);
}

TEST_F(MainWindowTest, ReportModeTwoControllerGetsTheModeTwoSignalFirst) {
  const int packet2 = PlugController(2);
  RunWindow([&](CUpdateDlg&) { EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE)); });
  const auto written = bus.ReportsWrittenTo(packet2);
  ASSERT_GE(written.size(), 2u);  // the signal, then the version query of the second search
  std::vector<uint8_t> signal(65, 0);
  signal[1] = 0x05;
  signal[3] = 0x50;
  signal[4] = 0x01;
  EXPECT_EQ(written[0], signal);
  // The template leaves the button enabled; only the second search enables it.
  EXPECT_EQ(user.Count("enable"), 1u);
}

TEST_F(MainWindowTest, ControllerGoneByTheSecondSearchKeepsTheFirstState) {
  // The mode-2 signal is the controller's last report before it leaves.
  const int packet2 = PlugController(2);
  bus.UnplugAfterOutputs(packet2, 1);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_FALSE(dlg.Hid().IsDevicePresent());
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
    // Its removal notice, handled after start-up, disables the button.
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
  });
  // Start-up itself left the button as the first search did (enabled by the
  // template) and ran no query: one report written.
  ASSERT_EQ(user.events.size(), 10u);
  EXPECT_EQ(user.events[6].kind, "title");
  EXPECT_EQ(user.events[7].kind, "device");
  EXPECT_EQ(user.events[8].kind, "enable");
  EXPECT_EQ(bus.ReportsWrittenTo(packet2).size(), 1u);
}

TEST_F(MainWindowTest, ReportModeOneControllerEnablesTheButtonAtBothSearches) {
  PlugController(1);
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(dlg.Hid().Mode(), ReportMode::kPacketNumbered);
    EXPECT_FALSE(dlg.Hid().IsBootMode());
  });
  EXPECT_EQ(user.Count("enable"), 2u);
}

TEST_F(MainWindowTest, LogIsSwitchedOnByALogFileAtConstruction) {
  std::ofstream(system.currentDirectory + "/log.txt").flush();
  RunWindow([&](CUpdateDlg& dlg) { EXPECT_TRUE(dlg.Diag().IsLogEnabled()); });
}

}  // namespace
}  // namespace tarvik
