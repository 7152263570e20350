#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/headless/headless_window_host.h"
#include "platform/std/virtual_clock.h"
#include "res/resource.h"
#include "tests/support/window_rig.h"

namespace tarvik {
namespace {

// A window that only counts what reaches it.
class CountingDialog final : public IDialogEvents {
 public:
  bool OnInitDialog() override { return true; }
  void OnDeviceChange(DeviceChange change) override { events.push_back(change); }
  void OnTimer(uintptr_t) override { ++ticks; }
  void OnCommand(int id) override { commands.push_back(id); }
  bool IsBusy() const override { return busy; }
  bool OnCloseRequest() override { return !busy; }

  std::vector<DeviceChange> events;
  std::vector<int> commands;
  int ticks = 0;
  std::atomic<bool> busy{false};
};

class HeadlessHostTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  test::RecordingUser user;
  HeadlessWindowHost host{clock, user, &user};
  CountingDialog dialog;

  void Run(const std::function<void()>& session) {
    host.SetSession([&](HeadlessWindowHost&, IDialogEvents&) {
      session();
      return 0;
    });
    host.RunModal(dialog);
  }
};

TEST_F(HeadlessHostTest, ProgressIsClampedToTheRangeButReportedAsSent) {
  Run([&] {
    host.SetProgressRange(IDC_PROGRESS, 0, 100);
    host.SetProgressPos(IDC_PROGRESS, 128);
    EXPECT_EQ(host.ProgressPos(), 100);
    host.SetProgressPos(IDC_PROGRESS, -5);
    EXPECT_EQ(host.ProgressPos(), 0);
  });
  EXPECT_EQ(user.events.back().value, -5);
}

TEST_F(HeadlessHostTest, WorkerOperationsRunOnTheUserInterfaceThreadAndAreWaitedFor) {
  std::thread::id ranOn;
  std::thread::id uiThread;
  Run([&] {
    uiThread = std::this_thread::get_id();
    std::atomic<bool> done{false};
    std::thread worker([&] {
      EXPECT_FALSE(host.IsUiThread());
      EXPECT_TRUE(host.SendToUi([&] { ranOn = std::this_thread::get_id(); }));
      done = true;
    });
    host.PumpUntil([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(host.IsUiThread());
  });
  EXPECT_EQ(ranOn, uiThread);
}

TEST_F(HeadlessHostTest, SendAfterTheWindowClosedReturnsWithoutRunning) {
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread worker;
  Run([&] {
    worker = std::thread([&] { result = host.SendToUi([&] { ran = true; }) ? 1 : 0; });
    // The window closes without handling the worker's operation.
  });
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
}

TEST_F(HeadlessHostTest, DisabledButtonRefusesThePress) {
  Run([&] {
    host.EnableItem(IDC_USB_UPDATE, false);
    EXPECT_FALSE(host.Click(IDC_USB_UPDATE));
    host.EnableItem(IDC_USB_UPDATE, true);
    EXPECT_TRUE(host.Click(IDC_USB_UPDATE));
  });
  EXPECT_EQ(dialog.commands, std::vector<int>{IDC_USB_UPDATE});
}

TEST_F(HeadlessHostTest, TimerTicksOnVirtualTimeUntilKilled) {
  Run([&] {
    host.SetTimer(1, 100);
    host.PumpUntil([&] { return dialog.ticks == 3; });
    EXPECT_EQ(clock.NowMs(), 300u);
    host.KillTimer(1);
    host.KillTimer(1);  // a second kill is passed over
  });
  EXPECT_EQ(user.Count("timer"), 2u);
}

TEST_F(HeadlessHostTest, DeviceChangesReachTheWindowInOrder) {
  Run([&] {
    std::thread notifier([&] {
      host.PostDeviceChange(DeviceChange::kArrival);
      host.PostDeviceChange(DeviceChange::kRemoval);
    });
    notifier.join();
    host.PumpPending();
  });
  EXPECT_EQ(dialog.events, (std::vector<DeviceChange>{DeviceChange::kArrival, DeviceChange::kRemoval}));
  EXPECT_EQ(user.Count("device"), 2u);
}

}  // namespace
}  // namespace tarvik
