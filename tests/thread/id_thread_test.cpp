#include "net/thread/id_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "tests/thread/wait_until.h"

namespace quillon {
namespace {

using test::WaitUntil;

enum Hook { kThreadStarting, kWorkStarting, kRunOneUnit, kWorkEnded, kThreadEnding, kNone };

struct Marker : TIdThreadWorkData {
  explicit Marker(std::atomic<int>& released) : released_(released) {}
  ~Marker() override { ++released_; }
  std::atomic<int>& released_;
};

// Counts every hook; can be told to fail in one of them.
class CountingThread : public TIdThread {
 public:
  explicit CountingThread(std::atomic<bool>* destroyed = nullptr)
      : TIdThread(true), destroyed_(destroyed) {}
  ~CountingThread() override {
    EndThreadForDestruction();
    if (destroyed_) *destroyed_ = true;
  }

  std::atomic<int> threadStarting{0}, workStarting{0}, units{0}, workEnded{0}, threadEnding{0},
      dataReleased{0};
  std::atomic<Hook> failIn{kNone};
  std::atomic<bool> failWithNonStandard{false};

 protected:
  void ThreadStarting() override {
    ++threadStarting;
    MaybeFail(kThreadStarting);
  }
  void WorkStarting() override {
    ++workStarting;
    WorkData = std::make_unique<Marker>(dataReleased);
    MaybeFail(kWorkStarting);
  }
  void RunOneUnit() override {
    ++units;
    MaybeFail(kRunOneUnit);
    SleepFor(1);
  }
  void WorkEnded() override {
    ++workEnded;
    MaybeFail(kWorkEnded);
  }
  void ThreadEnding() override {
    ++threadEnding;
    MaybeFail(kThreadEnding);
  }

 private:
  void MaybeFail(Hook hook) {
    if (failIn.load() != hook) return;
    if (failWithNonStandard.load()) throw 7;
    throw EIdStackError("Échec dans le crochet " + std::to_string(hook));
  }
  std::atomic<bool>* destroyed_;
};

TEST(IdThread, CreatedStoppedAndStartedByStartWork) {
  CountingThread t;
  EXPECT_TRUE(t.IsStopped());
  t.StartWork();
  ASSERT_TRUE(WaitUntil([&] { return t.units.load() > 2; }));
  EXPECT_FALSE(t.IsStopped());
  EXPECT_EQ(t.threadStarting.load(), 1);
  t.TerminateAndWaitFor();
  EXPECT_EQ(t.threadEnding.load(), 1);
  EXPECT_EQ(t.workEnded.load(), 1);
  EXPECT_EQ(t.dataReleased.load(), 1);
  EXPECT_TRUE(t.EndingExceptionText().empty());
}

TEST(IdThread, StopInDefaultModeEndsTheThreadForGood) {
  CountingThread t;
  EXPECT_EQ(t.StopMode(), StopEnds);
  t.StartWork();
  ASSERT_TRUE(WaitUntil([&] { return t.units.load() > 0; }));
  t.StopWork();
  ASSERT_TRUE(WaitUntil([&] { return t.Finished(); }));
  EXPECT_TRUE(t.Terminated());
  const int units = t.units.load();
  t.StartWork();  // cannot bring it back
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(t.Finished());
  EXPECT_EQ(t.units.load(), units);
  EXPECT_EQ(t.threadEnding.load(), 1);
}

TEST(IdThread, StopInPauseModePausesAndStartWorkResumes) {
  CountingThread t;
  t.SetStopMode(StopPauses);
  std::atomic<int> stoppedNotices{0};
  t.OnThreadStopped = [&](TIdThread*) { ++stoppedNotices; };
  t.StartWork();
  ASSERT_TRUE(WaitUntil([&] { return t.units.load() > 0; }));
  t.StopWork();
  ASSERT_TRUE(t.WaitUntilSuspended(5000));
  EXPECT_TRUE(t.IsStopped());
  EXPECT_FALSE(t.Terminated());
  EXPECT_EQ(stoppedNotices.load(), 1);
  EXPECT_EQ(t.workEnded.load(), 1);
  EXPECT_EQ(t.dataReleased.load(), 1);  // data released after the cycle
  const int paused = t.units.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(t.units.load(), paused);

  t.StartWork();
  ASSERT_TRUE(WaitUntil([&] { return t.units.load() > paused; }));
  EXPECT_EQ(t.workStarting.load(), 2);
  EXPECT_EQ(t.threadStarting.load(), 1);
  t.TerminateAndWaitFor();
  EXPECT_EQ(t.threadEnding.load(), 1);
}

TEST(IdThread, StartWorkOnARunningThreadDoesNothing) {
  CountingThread t;
  t.SetStopMode(StopPauses);
  std::atomic<int> stoppedNotices{0};
  t.OnThreadStopped = [&](TIdThread*) { ++stoppedNotices; };
  t.StartWork();
  ASSERT_TRUE(WaitUntil([&] { return t.units.load() > 0; }));
  t.StartWork();  // not stopped: no resume may be left behind
  t.StopWork();
  ASSERT_TRUE(t.WaitUntilSuspended(5000));
  // A left-over resume would have woken it once more before it slept.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(stoppedNotices.load(), 1);
  EXPECT_EQ(t.workStarting.load(), 1);
  t.TerminateAndWaitFor();
}

TEST(IdThread, TerminateAndWaitForOnAThreadThatFreesItselfFailsAndLeavesItRunning) {
  std::atomic<bool> destroyed{false};
  CountingThread* t = TThread::ReleaseToThread(std::make_unique<CountingThread>(&destroyed));
  t->StartWork();
  ASSERT_TRUE(WaitUntil([&] { return t->units.load() > 0; }));
  try {
    t->TerminateAndWaitFor();
    ADD_FAILURE() << "no failure raised";
  } catch (const EIdThreadTerminateAndWaitFor& e) {
    EXPECT_STREQ(e.what(),
                 "Impossible d'appeler TerminateAndWaitFor sur les threads FreeAndTerminate");
  }
  EXPECT_FALSE(t->Terminated());
  const int units = t->units.load();
  EXPECT_TRUE(WaitUntil([&] { return t->units.load() > units; }));
  t->RequestEnd();
  EXPECT_TRUE(WaitUntil([&] { return destroyed.load(); }));
}

struct FailureCase {
  Hook hook;
  bool stopAfterAUnit;  // the hook runs only once the work is stopped
  int workEnded;        // WorkEnded runs even when the unit fails
  int threadEnding;     // ThreadEnding runs when the loop fails, not when starting does
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << "failure in hook " << c.hook;
}

class IdThreadFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(IdThreadFailure, FailureEndsTheThreadAndIsRecorded) {
  const FailureCase c = GetParam();
  CountingThread t;
  t.failIn = c.hook;
  std::string notified;
  std::thread::id notifiedOn;
  t.OnThreadException = [&](TIdThread*, const std::exception& e) {
    notified = e.what();
    notifiedOn = std::this_thread::get_id();
  };
  t.StartWork();
  if (c.stopAfterAUnit) {
    ASSERT_TRUE(WaitUntil([&] { return t.units.load() > 0; }));
    t.StopWork();
  }
  ASSERT_TRUE(WaitUntil([&] { return t.Finished(); }));
  t.WaitFor();
  const std::string expected = "Échec dans le crochet " + std::to_string(c.hook);
  EXPECT_EQ(t.EndingExceptionText(), expected);
  ASSERT_NE(t.EndingExceptionClass(), nullptr);
  EXPECT_EQ(*t.EndingExceptionClass(), typeid(EIdStackError));
  EXPECT_EQ(notified, expected);
  EXPECT_NE(notifiedOn, std::this_thread::get_id());
  EXPECT_TRUE(t.Terminated());
  EXPECT_TRUE(t.IsStopped());
  EXPECT_FALSE(t.FatalException());
  EXPECT_EQ(t.workEnded.load(), c.workEnded);
  EXPECT_EQ(t.threadEnding.load(), c.threadEnding);
  EXPECT_EQ(t.dataReleased.load(), c.workEnded);  // released whenever a cycle began
}

INSTANTIATE_TEST_SUITE_P(Hooks, IdThreadFailure,
                         ::testing::Values(FailureCase{kThreadStarting, false, 0, 0},
                                           FailureCase{kWorkStarting, false, 1, 1},
                                           FailureCase{kRunOneUnit, false, 1, 1},
                                           FailureCase{kWorkEnded, true, 1, 1},
                                           FailureCase{kThreadEnding, true, 1, 1}));

TEST(IdThread, FailureOfAnotherKindGoesOnToThePlatformThread) {
  CountingThread t;
  t.failIn = kRunOneUnit;
  t.failWithNonStandard = true;
  bool notified = false;
  t.OnThreadException = [&](TIdThread*, const std::exception&) { notified = true; };
  t.StartWork();
  t.WaitFor();
  EXPECT_TRUE(t.EndingExceptionText().empty());
  EXPECT_EQ(t.EndingExceptionClass(), nullptr);
  EXPECT_FALSE(notified);
  ASSERT_TRUE(t.FatalException());
  EXPECT_THROW(std::rethrow_exception(t.FatalException()), int);
  EXPECT_EQ(t.workEnded.load(), 1);
  EXPECT_EQ(t.threadEnding.load(), 1);
}

TEST(IdThread, TerminateAndWaitForANeverStartedThreadRunsOnlyItsStartAndEnd) {
  CountingThread t;
  t.TerminateAndWaitFor();
  EXPECT_TRUE(t.Finished());
  EXPECT_EQ(t.threadStarting.load(), 1);
  EXPECT_EQ(t.units.load(), 0);
  EXPECT_EQ(t.threadEnding.load(), 1);
}

TEST(IdThread, DestroyingARunningThreadEndsItFirst) {
  std::atomic<bool> destroyed{false};
  auto t = std::make_unique<CountingThread>(&destroyed);
  CountingThread* raw = t.get();
  t->SetStopMode(StopPauses);
  t->StartWork();
  ASSERT_TRUE(WaitUntil([&] { return raw->units.load() > 0; }));
  t.reset();
  EXPECT_TRUE(destroyed.load());
}

}  // namespace
}  // namespace quillon
