// The lookup worker and the wait indicator, driven without the window: runs
// are started only while idle, the pending operation is read once per run,
// the indicator blinks 500/500 ms and ends hidden, and ending either thread
// is prompt whether idle or busy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/lookup/lookup_worker.h"
#include "app/lookup/wait_thread.h"
#include "tests/app/support/recording_view.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long Ms(Clock::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// A runner whose runs block until released (or interrupted), recording what
// each run was asked to do.
class GateRunner final : public TOperationRunner {
 public:
  explicit GateRunner(bool honourInterrupt = true) : honourInterrupt_(honourInterrupt) {}

  void RunOperation(int code, const std::string& host) override {
    std::unique_lock<std::mutex> guard(lock_);
    runs_.push_back(std::to_string(code) + ":" + host);
    started_.notify_all();
    opened_.wait(guard, [this] { return open_ || (honourInterrupt_ && interrupted_); });
    if (throwNext_) {
      throwNext_ = false;
      throw std::runtime_error("operation failed");
    }
  }
  void Interrupt() override {
    std::lock_guard<std::mutex> guard(lock_);
    interrupted_ = true;
    opened_.notify_all();
  }
  void Open() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = true;
    opened_.notify_all();
  }
  void Close() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = false;
  }
  void ThrowNext() {
    std::lock_guard<std::mutex> guard(lock_);
    throwNext_ = true;
  }
  bool WaitStarted(size_t count) {
    std::unique_lock<std::mutex> guard(lock_);
    return started_.wait_for(guard, 2s, [&] { return runs_.size() >= count; });
  }
  std::vector<std::string> Runs() {
    std::lock_guard<std::mutex> guard(lock_);
    return runs_;
  }
  bool Interrupted() {
    std::lock_guard<std::mutex> guard(lock_);
    return interrupted_;
  }

 private:
  const bool honourInterrupt_;
  std::mutex lock_;
  std::condition_variable started_;
  std::condition_variable opened_;
  std::vector<std::string> runs_;
  bool open_ = false;
  bool interrupted_ = false;
  bool throwNext_ = false;
};

TEST(WaitThread, BlinksHalfASecondEachWayAndEndsHidden) {
  test::RecordingView view;
  TWaitThread indicator(view);
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(view.WaitChanges().empty()) << "created suspended";

  const auto start = Clock::now();
  indicator.Resume();
  std::this_thread::sleep_for(1700ms);
  indicator.StopBlinking();
  const auto changes = view.WaitChanges();
  ASSERT_EQ(changes.size(), 4u);  // shown, hidden, shown, then StopBlinking's hide
  const char* expected[] = {"wait:1", "wait:0", "wait:1", "wait:0"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(changes[i].what, expected[i]);
    const long at = Ms(changes[i].at - start);
    EXPECT_GE(at, 500L * static_cast<long>(i + 1)) << i;
    EXPECT_LT(at, 500L * static_cast<long>(i + 1) + 150) << i;
  }
  EXPECT_EQ(changes[3].what, "wait:0");

  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(view.WaitChanges().size(), 4u) << "paused: no flip after StopBlinking";
}

TEST(WaitThread, ResumeAfterPauseStartsAFullPeriodFromHidden) {
  test::RecordingView view;
  TWaitThread indicator(view);
  indicator.Resume();
  std::this_thread::sleep_for(650ms);  // shown at 500 ms
  indicator.StopBlinking();            // hidden
  const auto resumed = Clock::now();
  indicator.Resume();
  std::this_thread::sleep_for(300ms);
  indicator.StopBlinking();  // paused again mid-period: nothing shown
  indicator.Resume();
  std::this_thread::sleep_for(600ms);
  const auto changes = view.WaitChanges();
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[0].what, "wait:1");
  EXPECT_EQ(changes[1].what, "wait:0");
  EXPECT_EQ(changes[2].what, "wait:0");
  EXPECT_EQ(changes[3].what, "wait:1") << "first flip after a resume shows the label";
  EXPECT_GE(Ms(changes[3].at - resumed), 800L);
}

TEST(WaitThread, TerminateIsPromptAndSilent) {
  test::RecordingView view;
  auto indicator = std::make_unique<TWaitThread>(view);
  indicator->Resume();
  std::this_thread::sleep_for(200ms);
  const auto start = Clock::now();
  indicator->Terminate();
  EXPECT_LT(Ms(Clock::now() - start), 500L);
  indicator->StopBlinking();  // a late stop from the worker touches nothing
  indicator->Resume();
  std::this_thread::sleep_for(600ms);
  EXPECT_TRUE(view.WaitChanges().empty());
  indicator.reset();
}

TEST(LookupWorker, RunsOnlyWhenIdleAndReadsThePendingOperationOnce) {
  test::RecordingView view;
  TWaitThread indicator(view);
  GateRunner runner;
  TMyWhois worker(runner, indicator);
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(runner.Runs().empty()) << "created suspended";
  EXPECT_FALSE(worker.WorkerBusy());

  EXPECT_TRUE(worker.Request(opWhois, "example.com"));
  ASSERT_TRUE(runner.WaitStarted(1));
  EXPECT_TRUE(worker.WorkerBusy());
  // Requests while busy overwrite the pending operation but start nothing.
  EXPECT_FALSE(worker.Request(opPing, "other.org"));
  EXPECT_FALSE(worker.Request(opDnsMx, "third.net"));
  runner.Open();
  ASSERT_TRUE(worker.WaitUntilIdle(2s));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(runner.Runs(), (std::vector<std::string>{"1:example.com"}));
  EXPECT_EQ(worker.RunsCompleted(), 1u);

  // The next request made while idle runs what it stored.
  EXPECT_TRUE(worker.Request(opTraceRoute, "host.example"));
  ASSERT_TRUE(runner.WaitStarted(2));
  ASSERT_TRUE(worker.WaitUntilIdle(2s));
  EXPECT_EQ(runner.Runs().back(), "4:host.example");
}

TEST(LookupWorker, IndicatorBlinksDuringARunAndEndsHidden) {
  test::RecordingView view;
  TWaitThread indicator(view);
  GateRunner runner;
  TMyWhois worker(runner, indicator);
  worker.Request(opLocalInfo, "");
  ASSERT_TRUE(runner.WaitStarted(1));
  std::this_thread::sleep_for(1200ms);
  runner.Open();
  ASSERT_TRUE(worker.WaitUntilIdle(2s));
  const auto changes = view.WaitChanges();
  ASSERT_GE(changes.size(), 3u);
  EXPECT_EQ(changes[0].what, "wait:1");
  EXPECT_EQ(changes[1].what, "wait:0");
  EXPECT_EQ(changes.back().what, "wait:0");
  EXPECT_FALSE(indicator.Running());
}

TEST(LookupWorker, AFailingOperationLeavesTheWorkerUsable) {
  test::RecordingView view;
  TWaitThread indicator(view);
  GateRunner runner;
  runner.Open();
  runner.ThrowNext();
  TMyWhois worker(runner, indicator);
  worker.Request(opWhois, "a.com");
  ASSERT_TRUE(runner.WaitStarted(1));
  ASSERT_TRUE(worker.WaitUntilIdle(2s));
  EXPECT_FALSE(worker.WorkerBusy());
  worker.Request(opDnsMx, "b.com");
  ASSERT_TRUE(runner.WaitStarted(2));
  ASSERT_TRUE(worker.WaitUntilIdle(2s));
  EXPECT_EQ(worker.RunsCompleted(), 2u);
}

TEST(LookupWorker, TerminateWhileIdleRunsNothing) {
  test::RecordingView view;
  TWaitThread indicator(view);
  GateRunner runner;
  TMyWhois worker(runner, indicator);
  worker.SetPendingOperation(opPing, "x");
  const auto start = Clock::now();
  indicator.Terminate();
  EXPECT_TRUE(worker.Terminate(1s));
  EXPECT_LT(Ms(Clock::now() - start), 500L);
  worker.Resume();  // a late wake-up after the stop starts nothing
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(runner.Runs().empty());
}

TEST(LookupWorker, TerminateWhileBusyInterruptsTheOperation) {
  test::RecordingView view;
  TWaitThread indicator(view);
  GateRunner runner;
  TMyWhois worker(runner, indicator);
  worker.Request(opTraceRoute, "far.example");
  ASSERT_TRUE(runner.WaitStarted(1));
  const auto start = Clock::now();
  indicator.Terminate();
  EXPECT_TRUE(worker.Terminate(1s));
  EXPECT_LT(Ms(Clock::now() - start), 600L);
  EXPECT_TRUE(runner.Interrupted());
  EXPECT_EQ(worker.RunsCompleted(), 1u);
  const size_t changes = view.Changes().size();
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(view.Changes().size(), changes) << "indicator ended: the label stays untouched";
}

TEST(LookupWorker, TerminateGivesUpOnAnOperationThatDoesNotYield) {
  test::RecordingView view;
  TWaitThread indicator(view);
  GateRunner runner(/*honourInterrupt=*/false);
  TMyWhois worker(runner, indicator);
  worker.Request(opWhois, "slow.example");
  ASSERT_TRUE(runner.WaitStarted(1));
  const auto start = Clock::now();
  EXPECT_FALSE(worker.Terminate(300ms));
  const long took = Ms(Clock::now() - start);
  EXPECT_GE(took, 300L);
  EXPECT_LT(took, 500L);
  runner.Open();  // the operation ends on its own; the worker then stops
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(worker.Terminate(1s));
  runner.Open();
  EXPECT_EQ(runner.Runs().size(), 1u);
}

TEST(LookupWorker, ManyRequestsFromAnotherThreadNeverOverlapRuns) {
  test::RecordingView view;
  TWaitThread indicator(view);
  struct CountingRunner final : TOperationRunner {
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> runs{0};
    void RunOperation(int, const std::string&) override {
      if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
      std::this_thread::sleep_for(1ms);
      runs.fetch_add(1);
      inside.fetch_sub(1);
    }
    void Interrupt() override {}
  } runner;
  TMyWhois worker(runner, indicator);
  for (int i = 0; i < 300; ++i) {
    worker.Request(i % 5, "h" + std::to_string(i));
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  ASSERT_TRUE(worker.WaitUntilIdle(2s));
  EXPECT_EQ(runner.overlaps.load(), 0);
  EXPECT_GT(runner.runs.load(), 10);
  EXPECT_EQ(static_cast<unsigned>(runner.runs.load()), worker.RunsCompleted());
}

}  // namespace
}  // namespace quillon
