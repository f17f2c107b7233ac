#include "net/thread/platform_thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "tests/thread/wait_until.h"

namespace quillon {
namespace {

using test::WaitUntil;

// A thread whose body is given by the test.
class LambdaThread : public TThread {
 public:
  LambdaThread(bool createSuspended, std::function<void(LambdaThread&)> body)
      : TThread(createSuspended), body_(std::move(body)) {}
  ~LambdaThread() override { EndThreadForDestruction(); }

  using TThread::CheckSuspend;
  using TThread::SleepFor;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(LambdaThread&)> body_;
};

TEST(PlatformThread, CreatedSuspendedRunsOnlyAfterResume) {
  std::atomic<bool> ran{false};
  LambdaThread t(true, [&](LambdaThread&) { ran = true; });
  EXPECT_TRUE(t.Suspended());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(ran.load());
  t.Resume();
  t.WaitFor();
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(t.Finished());
}

TEST(PlatformThread, NotSuspendedStartsWithMakeThread) {
  std::atomic<bool> ran{false};
  auto t = MakeThread<LambdaThread>(false, [&](LambdaThread&) { ran = true; });
  EXPECT_FALSE(t->Suspended());
  t->WaitFor();
  EXPECT_TRUE(ran.load());
}

TEST(PlatformThread, DestroyedBeforeStartingNeverRuns) {
  std::atomic<bool> ran{false};
  {
    LambdaThread t(true, [&](LambdaThread&) { ran = true; });
  }
  EXPECT_FALSE(ran.load());
}

TEST(PlatformThread, SelfSuspendWaitsForResume) {
  std::atomic<int> step{0};
  LambdaThread t(true, [&](LambdaThread& self) {
    step = 1;
    self.Suspend();
    step = 2;
  });
  t.Resume();
  ASSERT_TRUE(t.WaitUntilSuspended(5000));
  EXPECT_EQ(step.load(), 1);
  EXPECT_TRUE(t.Suspended());
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(step.load(), 2);
}

TEST(PlatformThread, ResumeJustBeforeTheThreadSuspendsIsNotLost) {
  std::atomic<bool> resumed{false};
  LambdaThread t(true, [&](LambdaThread& self) {
    // The Resume below lands before this Suspend.
    ASSERT_TRUE(WaitUntil([&] { return resumed.load(); }));
    self.Suspend();
  });
  t.Resume();
  t.Resume();
  resumed = true;
  t.WaitFor();  // would hang if the early Resume had been forgotten
  EXPECT_TRUE(t.Finished());
}

TEST(PlatformThread, SuspendFromAnotherThreadParksAtTheNextSafePoint) {
  std::atomic<int> rounds{0};
  LambdaThread t(true, [&](LambdaThread& self) {
    while (!self.Terminated()) {
      ++rounds;
      self.CheckSuspend();
    }
  });
  t.Resume();
  ASSERT_TRUE(WaitUntil([&] { return rounds.load() > 0; }));
  t.Suspend();
  ASSERT_TRUE(t.WaitUntilSuspended(5000));
  const int parkedAt = rounds.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(rounds.load(), parkedAt);
  t.Resume();
  ASSERT_TRUE(WaitUntil([&] { return rounds.load() > parkedAt; }));
  t.Terminate();
  t.WaitFor();
}

TEST(PlatformThread, TerminateCutsASleepShort) {
  std::atomic<bool> sleptFully{true};
  LambdaThread t(true, [&](LambdaThread& self) { sleptFully = self.SleepFor(60000); });
  t.Resume();
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto start = std::chrono::steady_clock::now();
  t.Terminate();
  t.WaitFor();
  EXPECT_FALSE(sleptFully.load());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(PlatformThread, FailureLeavingExecuteIsKeptAndWaitForOwnThreadFails) {
  std::string ownWait;
  LambdaThread t(true, [&](LambdaThread& self) {
    try {
      self.WaitFor();
    } catch (const EIdThreadException& e) {
      ownWait = e.what();
    }
    throw std::runtime_error("fin");
  });
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(ownWait, "Un thread ne peut pas attendre sa propre fin");
  ASSERT_TRUE(t.FatalException());
  EXPECT_THROW(std::rethrow_exception(t.FatalException()), std::runtime_error);
}

TEST(PlatformThread, OnTerminateRunsOnTheThreadAfterExecute) {
  std::atomic<bool> executed{false};
  std::thread::id terminateOn;
  bool executedBeforeTerminate = false;
  LambdaThread t(true, [&](LambdaThread&) { executed = true; });
  t.OnTerminate = [&](TThread*) {
    terminateOn = std::this_thread::get_id();
    executedBeforeTerminate = executed.load();
  };
  t.Resume();
  t.WaitFor();
  EXPECT_TRUE(executedBeforeTerminate);
  EXPECT_NE(terminateOn, std::this_thread::get_id());
}

// Tells the test when it has been destroyed.
class SelfFreeingThread : public LambdaThread {
 public:
  SelfFreeingThread(std::atomic<bool>& destroyed, std::function<void(LambdaThread&)> body)
      : LambdaThread(true, std::move(body)), destroyed_(destroyed) {}
  ~SelfFreeingThread() override { destroyed_ = true; }

 private:
  std::atomic<bool>& destroyed_;
};

TEST(PlatformThread, ReleasedThreadFreesItselfWhenItEnds) {
  std::atomic<bool> destroyed{false};
  std::atomic<bool> go{false};
  auto owned = std::make_unique<SelfFreeingThread>(
      destroyed, [&](LambdaThread&) { ASSERT_TRUE(WaitUntil([&] { return go.load(); })); });
  SelfFreeingThread* t = TThread::ReleaseToThread(std::move(owned));
  EXPECT_TRUE(t->FreeOnTerminate());
  t->Resume();
  EXPECT_FALSE(destroyed.load());
  go = true;
  EXPECT_TRUE(WaitUntil([&] { return destroyed.load(); }));
}

TEST(PlatformThread, ReleasingAFinishedThreadFreesItAtOnce) {
  std::atomic<bool> destroyed{false};
  auto owned = std::make_unique<SelfFreeingThread>(destroyed, [](LambdaThread&) {});
  owned->Resume();
  owned->WaitFor();
  TThread::ReleaseToThread(std::move(owned));
  EXPECT_TRUE(destroyed.load());
}

TEST(PlatformThread, LoweringThePriorityChangesTheThreadsNiceValue) {
  std::atomic<int> ask{0};
  std::atomic<int> seen[3] = {-100, -100, -100};
  LambdaThread t(true, [&](LambdaThread& self) {
    for (int i = 1; i <= 2; ++i) {
      ASSERT_TRUE(WaitUntil([&] { return ask.load() >= i || self.Terminated(); }));
      errno = 0;
      seen[i] = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    }
  });
  t.SetPriority(tpLower);  // before it starts: applied as it starts
  t.Resume();
  ask = 1;
  ASSERT_TRUE(WaitUntil([&] { return seen[1].load() != -100; }));
  EXPECT_GE(seen[1].load(), 5);
  t.SetPriority(tpLowest);  // while it runs
  EXPECT_EQ(t.Priority(), tpLowest);
  ask = 2;
  t.WaitFor();
  EXPECT_GE(seen[2].load(), 10);
}

}  // namespace
}  // namespace quillon
