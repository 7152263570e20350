// The task queue every window host hands work to the user-interface thread with.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/std/ui_task_queue.h"

namespace tarvik {
namespace {

class UiTaskQueueTest : public ::testing::Test {
 protected:
  std::atomic<int> wakes{0};
  std::vector<std::string> ran;  // user-interface thread only
  UiTaskQueue queue{[this] { ++wakes; }, [this](DeviceChange e) { ran.push_back("device " + std::to_string(static_cast<int>(e))); }};

  // Runs tasks on this thread until `done`.
  template <class Done>
  void PumpUntil(Done done) {
    while (!done()) {
      if (!queue.RunOne()) std::this_thread::yield();
    }
  }
};

TEST_F(UiTaskQueueTest, TakesTasksOnlyWhileOpenAndWakesOncePerTask) {
  queue.Post([&] { ran.push_back("before"); });
  EXPECT_FALSE(queue.Send([&] { ran.push_back("before"); }));
  EXPECT_FALSE(queue.IsUiThread());
  queue.Open();
  EXPECT_TRUE(queue.IsUiThread());
  queue.Post([&] { ran.push_back("a"); });
  queue.PostDeviceChange(DeviceChange::kArrival);
  EXPECT_TRUE(queue.Send([&] { ran.push_back("sent here, at once"); }));
  EXPECT_TRUE(queue.HasQueued());
  queue.RunQueued();
  EXPECT_FALSE(queue.HasQueued());
  queue.Post([&] { ran.push_back("dropped"); });
  queue.Close();
  queue.Post([&] { ran.push_back("after"); });
  EXPECT_FALSE(queue.RunOne());
  EXPECT_FALSE(queue.IsUiThread());
  EXPECT_EQ(ran, (std::vector<std::string>{"sent here, at once", "a", "device 0"}));
  EXPECT_EQ(wakes, 3);
}

TEST_F(UiTaskQueueTest, AnotherThreadsSendsAndPostsRunOnTheUiThreadInTheirOrder) {
  queue.Open();
  const std::thread::id ui = std::this_thread::get_id();
  std::atomic<bool> done{false};
  bool sent = false;
  std::thread worker([&] {
    EXPECT_FALSE(queue.IsUiThread());
    queue.Post([&] { ran.push_back("post 1"); });
    sent = queue.Send([&] { ran.push_back(std::this_thread::get_id() == ui ? "send on ui" : "send elsewhere"); });
    queue.Post([&] { ran.push_back("post 2"); });
    done = true;
  });
  PumpUntil([&] { return done.load(); });
  worker.join();
  queue.RunQueued();
  EXPECT_TRUE(sent);
  EXPECT_EQ(ran, (std::vector<std::string>{"post 1", "send on ui", "post 2"}));
}

TEST_F(UiTaskQueueTest, ClosingReleasesWaitingSendersWhetherTheirTaskWaitsOrRuns) {
  for (const bool closeInsideTheTask : {false, true}) {
    SCOPED_TRACE(closeInsideTheTask ? "closed by the task" : "closed before the task ran");
    queue.Open();
    std::atomic<int> result{-1};
    bool taskRan = false;
    std::thread worker([&] {
      result = queue.Send([&] {
        taskRan = true;
        if (closeInsideTheTask) queue.Close();
      }) ? 1 : 0;
    });
    while (!queue.HasQueued()) std::this_thread::yield();
    if (closeInsideTheTask) {
      queue.RunOne();
    } else {
      queue.Close();
    }
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(taskRan, closeInsideTheTask);
    EXPECT_FALSE(queue.RunOne());
  }
}

}  // namespace
}  // namespace tarvik
