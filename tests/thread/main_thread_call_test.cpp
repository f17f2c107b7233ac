#include "net/thread/main_thread_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "net/thread/platform_thread.h"
#include "tests/thread/wait_until.h"

namespace quillon {
namespace {

using test::WaitUntil;

// Installs a queued dispatcher owned by the test's thread for one test.
struct QueuedDispatcherScope {
  std::shared_ptr<TQueuedMainThreadDispatcher> dispatcher =
      std::make_shared<TQueuedMainThreadDispatcher>();
  QueuedDispatcherScope() { SetMainThreadDispatcher(dispatcher); }
  ~QueuedDispatcherScope() {
    SetMainThreadDispatcher(nullptr);
    EndMainThreadShutdown();
  }
};

TEST(MainThreadCall, WithoutDispatcherRunsOnTheCallingThread) {
  SetMainThreadDispatcher(nullptr);
  std::thread::id ranOn;
  std::thread worker([&] {
    EXPECT_TRUE(RunOnMainThread([&] { ranOn = std::this_thread::get_id(); }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
  });
  worker.join();
}

TEST(MainThreadCall, QueuedCallRunsOnThePumpingThreadAndWaits) {
  QueuedDispatcherScope scope;
  std::atomic<bool> returned{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    EXPECT_TRUE(RunOnMainThread([&] { ranOn = std::this_thread::get_id(); }));
    returned = true;
  });
  // The caller waits until the main thread has run its call.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned.load());
  ASSERT_TRUE(WaitUntil([&] { return scope.dispatcher->Pump(10) > 0; }));
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainThreadCall, CallOnTheMainThreadRunsDirectly) {
  QueuedDispatcherScope scope;
  bool ran = false;
  EXPECT_TRUE(RunOnMainThread([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(MainThreadCall, FailureOfTheCallReachesTheCaller) {
  QueuedDispatcherScope scope;
  auto result = std::async(std::launch::async,
                           [] { RunOnMainThread([] { throw std::runtime_error("boom"); }); });
  while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
    scope.dispatcher->Pump(10);
  EXPECT_THROW(
      {
        try {
          result.get();
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "boom");
          throw;
        }
      },
      std::runtime_error);
}

TEST(MainThreadCall, ShutdownReleasesWaitingAndNewCallsWithoutRunningThem) {
  QueuedDispatcherScope scope;
  std::atomic<bool> ran{false};
  auto waiting =
      std::async(std::launch::async, [&] { return RunOnMainThread([&] { ran = true; }); });
  // Nobody pumps: the call waits until the main loop shuts down.
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
  BeginMainThreadShutdown();
  EXPECT_TRUE(MainThreadShuttingDown());
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  auto late = std::async(std::launch::async, [&] { return RunOnMainThread([&] { ran = true; }); });
  ASSERT_EQ(late.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(late.get());
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(scope.dispatcher->Pump(0), 0);
}

TEST(MainThreadCall, ShutdownWithoutDispatcherDropsCalls) {
  SetMainThreadDispatcher(nullptr);
  BeginMainThreadShutdown();
  bool ran = false;
  EXPECT_FALSE(RunOnMainThread([&] { ran = true; }));
  EndMainThreadShutdown();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(RunOnMainThread([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

// A thread that hands calls to the main thread until it is asked to end.
class SyncingThread : public TThread {
 public:
  SyncingThread() : TThread(true) {}
  ~SyncingThread() override { EndThreadForDestruction(); }
  std::atomic<int> calls{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      Synchronize([this] { ++calls; });
      SleepFor(1);
    }
    // One more after the end was asked: the waiting main thread must serve it.
    Synchronize([this] { ++calls; });
  }
};

TEST(MainThreadCall, MainThreadWaitingForAThreadServesItsCalls) {
  QueuedDispatcherScope scope;
  SyncingThread thread;
  thread.Resume();
  ASSERT_TRUE(WaitUntil([&] {
    scope.dispatcher->Pump(1);
    return thread.calls.load() >= 3;
  }));
  thread.Terminate();
  thread.WaitFor();  // would never return if the main thread did not serve
  EXPECT_TRUE(thread.Finished());
}

}  // namespace
}  // namespace quillon
