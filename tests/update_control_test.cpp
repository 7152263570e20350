// The update button, device notifications and the end-of-update operations.
#include <gtest/gtest.h>

#include <thread>

#include "res/text_table.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

class UpdateControlTest : public ::testing::Test, protected test::WindowRig {
 protected:
  // Runs `op` on a thread of its own, as a worker would, while the window keeps pumping.
  void OnWorker(const std::function<void()>& op) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      op();
      done = true;
    });
    host.PumpUntil([&] { return done.load(); });
    worker.join();
    host.PumpPending();  // what the worker posted without waiting (progress)
  }
};

TEST_F(UpdateControlTest, PressWithBootControllerRunsAWorkerThatSetsTheButtonAgain) {
  PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    user.events.clear();
    ASSERT_TRUE(PressUpdate(dlg));
    ASSERT_GE(user.events.size(), 4u);
    EXPECT_EQ(user.events[0].kind, "show");
    EXPECT_FALSE(user.events[0].on);
    EXPECT_EQ(user.events[1].kind, "enable");
    EXPECT_FALSE(user.events[1].on);
    EXPECT_EQ(user.events[2].kind, "progress");
    EXPECT_EQ(user.events[2].value, 0);
    EXPECT_EQ(dlg.LastOutcome()->result, OutcomeResult::kCancelled);  // no image was chosen
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_FALSE(dlg.IsBusy());
  });
}

TEST_F(UpdateControlTest, PressAfterSilentUnplugOnlyHidesTheNotice) {
  const int boot = PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    bus.Unplug(boot, false);
    user.events.clear();
    ASSERT_TRUE(PressUpdate(dlg));
    ASSERT_EQ(user.events.size(), 1u);
    EXPECT_EQ(user.events[0].kind, "show");
    EXPECT_FALSE(dlg.LastOutcome().has_value());
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
  });
}

TEST_F(UpdateControlTest, UnplugWhileIdleDisablesTheButtonAndTracesTheTitle) {
  const int boot = PlugController(3);
  RunWindow([&](CUpdateDlg&) {
    host.SetWindowText("Tarvik Update v2.00 (Fw v1.23 r5)");
    bus.Unplug(boot);
    host.PumpPending();
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
  });
  const auto trace = system.TraceLines();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back(), "Tarvik Update v2.00");
}

TEST_F(UpdateControlTest, PlugWhileIdleEnablesTheButtonAndQueriesTheController) {
  RunWindow([&](CUpdateDlg& dlg) {
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
    PlugController(3, true);
    host.PumpPending();
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(dlg.Session().DeviceVersion().Word(), 120u);
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00 (Fw v1.20 r5)");
  });
  EXPECT_EQ(user.Count("device"), 1u);
}

TEST_F(UpdateControlTest, DevNodesChangedWithControllerEnablesWithoutQuery) {
  PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    dlg.Hid().SetReadTimeout(10);
    host.EnableItem(IDC_USB_UPDATE, false);
    host.PostDeviceChange(DeviceChange::kNodesChanged);
    host.PumpPending();
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));
    EXPECT_EQ(dlg.Hid().ReadTimeout(), 10u);  // no query reopened the device
  });
}

TEST_F(UpdateControlTest, DevNodesChangedWithoutControllerResetsTheTitle) {
  RunWindow([&](CUpdateDlg&) {
    host.SetWindowText("something else");
    host.PostDeviceChange(DeviceChange::kNodesChanged);
    host.PumpPending();
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
  });
}

TEST_F(UpdateControlTest, NotificationsDuringAnUpdateWaitForTheWorkerToEnd) {
  const int boot = PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    host.SetWindowText("version title");
    ASSERT_TRUE(host.Click(IDC_USB_UPDATE));
    ASSERT_TRUE(dlg.IsBusy());
    bus.Unplug(boot, false);
    const size_t traces = system.TraceLines().size();
    dlg.OnDeviceChange(DeviceChange::kRemoval);
    EXPECT_EQ(host.WindowText(), "version title");
    EXPECT_EQ(system.TraceLines().size(), traces);
    host.PumpUntil([&] { return !dlg.IsBusy(); });
    EXPECT_EQ(host.WindowText(), "Tarvik Update v2.00");
    EXPECT_EQ(system.TraceLines().back(), "Tarvik Update v2.00");
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
  });
}

TEST_F(UpdateControlTest, SuccessShowsTheMessageThenTheNoticeAndResetsProgress) {
  PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    host.SetProgressPos(IDC_PROGRESS, 40);
    user.events.clear();
    OnWorker([&] { dlg.ReportUpdateSuccess(); });
    ASSERT_EQ(user.events.size(), 3u);
    EXPECT_EQ(user.events[0].kind, "msgbox");
    EXPECT_EQ(user.events[0].text, "\n Firmware upgraded! \n");
    EXPECT_EQ(user.captions[0], std::optional<std::string>("Tarvik Update v2.00"));
    EXPECT_EQ(user.events[1].kind, "show");
    EXPECT_TRUE(user.events[1].on);
    EXPECT_EQ(user.events[2].kind, "progress");
    EXPECT_EQ(host.ProgressPos(), 0);
    // The next press hides the notice before anything else.
    user.events.clear();
    ASSERT_TRUE(PressUpdate(dlg));
    EXPECT_EQ(user.events[0].kind, "show");
    EXPECT_FALSE(host.IsItemVisible(IDC_STATIC_NOTICE));
  });
}

TEST_F(UpdateControlTest, FailureEnablesTheButtonOnlyWhenTheControllerIsPresent) {
  const int boot = PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    host.EnableItem(IDC_USB_UPDATE, false);
    OnWorker([&] { dlg.ReportUpdateFailure(UpdateOutcome{}); });
    EXPECT_EQ(user.events[user.events.size() - 2].text.rfind("Firmware update failure\n", 0), 0u);
    EXPECT_TRUE(host.IsItemEnabled(IDC_USB_UPDATE));

    bus.Unplug(boot, false);
    dlg.Hid().SearchDevice();
    host.EnableItem(IDC_USB_UPDATE, false);
    user.events.clear();
    OnWorker([&] { dlg.ReportUpdateFailure(UpdateOutcome{}); });
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
    ASSERT_EQ(user.events.size(), 1u);
    EXPECT_EQ(user.events[0].kind, "msgbox");
  });
}

TEST_F(UpdateControlTest, RefreshAfterUnplugDisablesTheButton) {
  const int boot = PlugController(3);
  RunWindow([&](CUpdateDlg& dlg) {
    bus.Unplug(boot, false);
    OnWorker([&] { dlg.RefreshUpdateButton(); });
    EXPECT_FALSE(host.IsItemEnabled(IDC_USB_UPDATE));
  });
}

TEST_F(UpdateControlTest, ModeTwoTimerTickSendsTheSignalAndStopsTheTimer) {
  const int packet2 = PlugController(2);
  RunWindow([&](CUpdateDlg& dlg) {
    const size_t before = bus.ReportsWrittenTo(packet2).size();
    dlg.SetTimer(kUpdateTimerId, kUpdateTimerIntervalMs);
    host.PumpUntil([&] { return !host.IsTimerRunning(kUpdateTimerId); });
    EXPECT_EQ(bus.ReportsWrittenTo(packet2).size(), before + 1);
  });
}

}  // namespace
}  // namespace tarvik
