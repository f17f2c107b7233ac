#include "net/thread/ip_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>

#include "net/socket/platform.h"
#include "net/socket/stack.h"
#include "net/thread/main_thread_call.h"
#include "tests/support/support.h"
#include "tests/thread/wait_until.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::WaitUntil;

// The address the machine "has", as the test sets it; records each query.
class FakeAddress {
 public:
  void Set(const std::string& address) {
    std::lock_guard guard(lock_);
    address_ = address;
  }
  std::string Query() {
    std::lock_guard guard(lock_);
    queries_.push_back(Clock::now());
    return address_;
  }
  std::vector<Clock::time_point> Queries() const {
    std::lock_guard guard(lock_);
    return queries_;
  }
  TIdLocalAddressSource Source() {
    return [this] { return Query(); };
  }

 private:
  mutable std::mutex lock_;
  std::string address_;
  std::vector<Clock::time_point> queries_;
};

// A scratch folder of the test's own.
struct TempDir {
  fs::path path = fs::temp_directory_path() / test::UniqueName("quillon-ipwatch");
  TempDir() { fs::create_directories(path); }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::string text(static_cast<size_t>(fs::file_size(p)), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

struct QueuedDispatcherScope {
  std::shared_ptr<TQueuedMainThreadDispatcher> dispatcher =
      std::make_shared<TQueuedMainThreadDispatcher>();
  QueuedDispatcherScope() { SetMainThreadDispatcher(dispatcher); }
  ~QueuedDispatcherScope() { SetMainThreadDispatcher(nullptr); }
  // Pumps the main thread's calls until `condition` holds or time runs out.
  bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    return WaitUntil(
        [&] {
          dispatcher->Pump(1);
          return condition();
        },
        timeoutMs);
  }
};

struct OnLineCase {
  const char* name;
  std::vector<std::string> addresses;  // one check per address
  bool networkUp;
  std::string previous;
  std::vector<std::string> history;
  int statusChanges;
};

void PrintTo(const OnLineCase& c, std::ostream* os) {
  *os << c.name;
}

class IPWatchOnLine : public ::testing::TestWithParam<OnLineCase> {};

TEST_P(IPWatchOnLine, ChecksFollowTheRules) {
  const OnLineCase& c = GetParam();
  FakeAddress fake;
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  watch.SetAddressSource(fake.Source());
  int changes = 0;
  watch.OnStatusChanged = [&](TIdBaseComponent* sender) {
    EXPECT_EQ(sender, &watch);
    ++changes;
  };
  for (const std::string& a : c.addresses) {
    fake.Set(a);
    watch.CheckNow();
  }
  EXPECT_EQ(watch.NetworkUp(), c.networkUp);
  EXPECT_EQ(watch.CurrentAddress(), c.addresses.back());
  EXPECT_EQ(watch.PreviousAddress(), c.previous);
  EXPECT_EQ(watch.AddressHistory(), c.history);
  EXPECT_EQ(changes, c.statusChanges);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IPWatchOnLine,
    ::testing::Values(OnLineCase{"LoopbackAloneIsOffLine", {"127.0.0.1"}, false, "", {}, 0},
                      OnLineCase{"NoAddressIsOffLine", {""}, false, "", {}, 0},
                      OnLineCase{"AnAddressIsOnLine", {"10.0.0.5"}, true, "", {}, 1},
                      OnLineCase{"GoingOffLineRecordsTheAddress",
                                 {"10.0.0.5", "127.0.0.1"},
                                 false,
                                 "10.0.0.5",
                                 {"10.0.0.5"},
                                 2},
                      OnLineCase{"OnOffOnAgainAddsOnce",
                                 {"10.0.0.5", "127.0.0.1", "10.0.0.5", ""},
                                 false,
                                 "10.0.0.5",
                                 {"10.0.0.5"},
                                 4},
                      OnLineCase{"OnLineAgainWithoutGoingOffAddsNothing",
                                 {"10.0.0.5", "127.0.0.1", "10.0.0.5"},
                                 true,
                                 "10.0.0.5",
                                 {"10.0.0.5"},
                                 3},
                      OnLineCase{"ChangeWhileOnLineIsNoStatusChange",
                                 {"10.0.0.5", "10.0.0.6", ""},
                                 false,
                                 "10.0.0.6",
                                 {"10.0.0.6"},
                                 2},
                      OnLineCase{"TwoAddressesInTurn",
                                 {"10.0.0.5", "", "10.0.0.6", "", "10.0.0.5", "127.0.0.1"},
                                 false,
                                 "10.0.0.5",
                                 {"10.0.0.5", "10.0.0.6", "10.0.0.5"},
                                 6}),
    [](const ::testing::TestParamInfo<OnLineCase>& tpi) { return std::string(tpi.param.name); });

// Goes on line with each address and off line again, so each is recorded.
void Visit(TIdIPWatch& watch, FakeAddress& fake, const std::vector<std::string>& addresses) {
  for (const std::string& a : addresses) {
    fake.Set(a);
    watch.CheckNow();
    fake.Set("");
    watch.CheckNow();
  }
}

TEST(IPWatch, HistoryKeepsAtMostMaxEntriesDroppingTheOldest) {
  FakeAddress fake;
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  watch.SetAddressSource(fake.Source());
  EXPECT_EQ(watch.MaxHistoryEntries(), 25);
  watch.SetMaxHistoryEntries(3);
  Visit(watch, fake, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"});
  EXPECT_EQ(watch.AddressHistory(), (std::vector<std::string>{"10.0.0.2", "10.0.0.3", "10.0.0.4"}));
  watch.SetMaxHistoryEntries(1);  // trims at once
  EXPECT_EQ(watch.AddressHistory(), (std::vector<std::string>{"10.0.0.4"}));
  watch.SetMaxHistoryEntries(-1);  // keeps nothing, and does not fail
  EXPECT_TRUE(watch.AddressHistory().empty());
  watch.SetMaxHistoryEntries(0);
  Visit(watch, fake, {"10.0.0.9"});
  EXPECT_TRUE(watch.AddressHistory().empty());
}

TEST(IPWatch, FailingCheckIsSwallowed) {
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  FakeAddress fake;
  fake.Set("10.0.0.5");
  watch.SetAddressSource(fake.Source());
  watch.CheckNow();
  watch.SetAddressSource([]() -> std::string { throw EIdStackError("pile absente"); });
  EXPECT_NO_THROW(watch.CheckNow());
  EXPECT_TRUE(watch.NetworkUp());
  EXPECT_EQ(watch.CurrentAddress(), "10.0.0.5");
  EXPECT_FALSE(watch.LookupBusy());
}

TEST(IPWatch, QueryLocalAddressAsksTheStackAndPassesItsFailureOn) {
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  EXPECT_EQ(watch.QueryLocalAddress(), SharedStack().LocalAddress());
  platform::FaultInjector::FailNth(platform::Call::LocalAddresses, 1, ENOMEM);
  try {
    watch.QueryLocalAddress();
    ADD_FAILURE() << "no failure raised";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, platform::TranslateErrno(ENOMEM));
    EXPECT_EQ(e.message(), SharedStack().ErrorText(e.SocketErrorCode));
  }
  platform::FaultInjector::Reset();
  EXPECT_FALSE(watch.LookupBusy());
}

TEST(IPWatch, CheckDuringALookupReturnsAtOnce) {
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::atomic<int> queries{0};
  watch.SetAddressSource([&] {
    ++queries;
    std::unique_lock guard(m);
    cv.wait(guard, [&] { return release; });
    return std::string("10.0.0.7");
  });
  auto lookup = std::async(std::launch::async, [&] { return watch.QueryLocalAddress(); });
  // Busy is marked a moment before the source is asked: wait for both.
  ASSERT_TRUE(WaitUntil([&] { return watch.LookupBusy() && queries.load() == 1; }));
  watch.CheckNow();  // must not wait for the lookup nor start one
  EXPECT_EQ(queries.load(), 1);
  EXPECT_FALSE(watch.NetworkUp());
  {
    std::lock_guard guard(m);
    release = true;
  }
  cv.notify_all();
  EXPECT_EQ(lookup.get(), "10.0.0.7");
  EXPECT_FALSE(watch.LookupBusy());
}

TEST(IPWatch, HistoryFileWrittenOnlyAtDestructionWhenEnabled) {
  TempDir dir;
  const fs::path file = dir.path / "iphist.dat";
  FakeAddress fake;
  {
    TIdIPWatch watch;
    EXPECT_TRUE(watch.HistoryEnabled);
    EXPECT_EQ(watch.HistoryFilename, "iphist.dat");
    watch.HistoryFilename = file.string();
    watch.SetAddressSource(fake.Source());
    Visit(watch, fake, {"10.0.0.1", "10.0.0.2"});
    fake.Set("10.0.0.3");
    watch.CheckNow();  // on line at destruction: recorded too
    EXPECT_FALSE(fs::exists(file));
  }
  EXPECT_EQ(ReadFile(file), "10.0.0.1\r\n10.0.0.2\r\n10.0.0.3\r\n");
  {
    TIdIPWatch watch;  // an empty history replaces the earlier file
    watch.HistoryFilename = file.string();
    watch.SetAddressSource(fake.Source());
  }
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(ReadFile(file), "");
}

TEST(IPWatch, NoHistoryFileWhenDisabled) {
  TempDir dir;
  const fs::path file = dir.path / "iphist.dat";
  FakeAddress fake;
  {
    TIdIPWatch watch;
    watch.HistoryEnabled = false;
    watch.HistoryFilename = file.string();
    watch.SetAddressSource(fake.Source());
    Visit(watch, fake, {"10.0.0.1"});
  }
  EXPECT_FALSE(fs::exists(file));
}

TEST(IPWatch, HistoryWriteFailurePassesToTheCaller) {
  TempDir dir;
  const std::string file = (dir.path / "absent" / "iphist.dat").string();
  const std::string expected =
      "Impossible d'écrire le fichier d'historique " + file + " : No such file or directory";
  FakeAddress fake;
  {
    TIdIPWatch watch;
    watch.HistoryFilename = file;
    watch.SetAddressSource(fake.Source());
    Visit(watch, fake, {"10.0.0.1"});
    try {
      watch.Close();
      ADD_FAILURE() << "no failure raised";
    } catch (const EIdIPWatchHistoryError& e) {
      EXPECT_EQ(e.message(), expected);
    }
    // Kept, so that the program may save it elsewhere.
    EXPECT_EQ(watch.AddressHistory(), std::vector<std::string>{"10.0.0.1"});
    watch.HistoryFilename = (dir.path / "elsewhere.dat").string();
    watch.SaveHistory();
  }
  EXPECT_EQ(ReadFile(dir.path / "elsewhere.dat"), "10.0.0.1\r\n");
  // Without Close, the destructor reports the failure to the handler.
  std::string reported;
  {
    TIdIPWatch watch;
    watch.HistoryFilename = file;
    watch.SetAddressSource(fake.Source());
    watch.OnHistoryWriteError = [&](TIdIPWatch*, const std::string& m) { reported = m; };
  }
  EXPECT_EQ(reported, expected);
}

TEST(IPWatch, InactiveWatchNeverChecks) {
  FakeAddress fake;
  fake.Set("10.0.0.5");
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  watch.SetAddressSource(fake.Source());
  watch.SetWatchInterval(10);
  EXPECT_FALSE(watch.Active());
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_FALSE(watch.NetworkUp());
  EXPECT_TRUE(fake.Queries().empty());
}

TEST(IPWatch, StatusChangeSeenAboutHalfASecondLaterWithTheDefaultInterval) {
  QueuedDispatcherScope main;
  FakeAddress fake;
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  watch.SetAddressSource(fake.Source());
  EXPECT_EQ(watch.WatchInterval(), 1000);
  std::atomic<int> changes{0};
  Clock::time_point changedAt;
  std::thread::id raisedOn;
  watch.OnStatusChanged = [&](TIdBaseComponent*) {
    changedAt = Clock::now();
    raisedOn = std::this_thread::get_id();
    ++changes;
  };
  watch.SetActive(true);
  ASSERT_TRUE(watch.Active());
  // Let a first check pass, then the machine goes on line.
  ASSERT_TRUE(main.PumpUntil([&] { return !fake.Queries().empty(); }));
  const auto wentUp = Clock::now();
  fake.Set("10.0.0.5");
  ASSERT_TRUE(main.PumpUntil([&] { return changes.load() == 1; }));
  EXPECT_EQ(raisedOn, std::this_thread::get_id());  // the check ran on the main thread
  EXPECT_TRUE(watch.NetworkUp());
  EXPECT_LE(changedAt - wentUp, std::chrono::milliseconds(1500));
  // Checks come every slice of 500 ms, not once per 1000 ms interval.
  ASSERT_TRUE(main.PumpUntil([&] { return fake.Queries().size() >= 4; }));
  const auto q = fake.Queries();
  for (size_t i = 1; i < q.size(); ++i) {
    EXPECT_GE(q[i] - q[i - 1], std::chrono::milliseconds(450));
    EXPECT_LE(q[i] - q[i - 1], std::chrono::milliseconds(1500));
  }
  // Ending the watch does not wait out the slice, and no check follows.
  const auto stopping = Clock::now();
  watch.SetActive(false);
  EXPECT_LT(Clock::now() - stopping, std::chrono::milliseconds(1000));
  const size_t after = fake.Queries().size();
  main.dispatcher->Pump(50);
  EXPECT_EQ(fake.Queries().size(), after);
}

TEST(IPWatch, ShortIntervalChecksOncePerInterval) {
  QueuedDispatcherScope main;
  FakeAddress fake;
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  watch.SetAddressSource(fake.Source());
  watch.SetWatchInterval(40);
  watch.SetActive(true);
  ASSERT_TRUE(main.PumpUntil([&] { return fake.Queries().size() >= 4; }));
  const auto q = fake.Queries();
  for (size_t i = 1; i < q.size(); ++i) EXPECT_GE(q[i] - q[i - 1], std::chrono::milliseconds(35));
  // A new interval is taken when the next unit of work starts.
  watch.SetWatchInterval(60000);
  ASSERT_TRUE(main.PumpUntil([&] { return fake.Queries().size() >= q.size() + 1; }));
  const size_t settled = fake.Queries().size();
  main.dispatcher->Pump(200);
  EXPECT_LE(fake.Queries().size(), settled + 1);
}

TEST(IPWatch, WithoutDispatcherTheCheckRunsOnTheWatchThread) {
  SetMainThreadDispatcher(nullptr);
  FakeAddress fake;
  fake.Set("10.0.0.5");
  TIdIPWatch watch;
  watch.HistoryEnabled = false;
  watch.SetAddressSource(fake.Source());
  watch.SetWatchInterval(10);
  std::atomic<bool> raised{false};
  std::atomic<bool> onOtherThread{false};
  const auto testThread = std::this_thread::get_id();
  watch.OnStatusChanged = [&](TIdBaseComponent*) {
    onOtherThread = std::this_thread::get_id() != testThread;
    raised = true;
  };
  watch.SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return raised.load(); }));
  EXPECT_TRUE(onOtherThread.load());
  EXPECT_TRUE(watch.NetworkUp());
}

// Switching the watch off from its own status handler: the check runs on
// the watch thread itself (no dispatcher) or on the main thread while the
// watch thread waits for it (with one). Either way the switch-off must not
// wait for the thread nor free it under itself; Active reads false at once
// and the thread is waited for later. Run under AddressSanitizer too.
TEST(IPWatch, SwitchingOffFromTheStatusHandlerWithoutDispatcher) {
  SetMainThreadDispatcher(nullptr);
  FakeAddress fake;
  fake.Set("10.0.0.5");
  std::atomic<int> raised{0};
  std::atomic<bool> activeInHandler{true};
  {
    TIdIPWatch watch;
    watch.HistoryEnabled = false;
    watch.SetAddressSource(fake.Source());
    watch.SetWatchInterval(5);
    watch.OnStatusChanged = [&](TIdBaseComponent*) {
      watch.SetActive(false);
      activeInHandler = watch.Active();
      ++raised;
    };
    watch.SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return raised.load() == 1; }));
    EXPECT_FALSE(activeInHandler.load());
    EXPECT_FALSE(watch.Active());
    // The thread ended after its check: no further check comes.
    const size_t queries = fake.Queries().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(fake.Queries().size(), queries);
    // It can be switched on again; the switch waits for the old thread.
    fake.Set("127.0.0.1");
    watch.SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return raised.load() == 2; }));
    EXPECT_FALSE(watch.Active());
  }
  EXPECT_EQ(raised.load(), 2);
}

TEST(IPWatch, SwitchingOffFromTheStatusHandlerOnTheMainThread) {
  QueuedDispatcherScope main;
  FakeAddress fake;
  fake.Set("10.0.0.5");
  int raised = 0;
  bool onMainThread = false;
  {
    TIdIPWatch watch;
    watch.HistoryEnabled = false;
    watch.SetAddressSource(fake.Source());
    watch.SetWatchInterval(5);
    watch.OnStatusChanged = [&](TIdBaseComponent*) {
      onMainThread = main.dispatcher->IsMainThread();
      watch.SetActive(false);
      ++raised;
    };
    watch.SetActive(true);
    ASSERT_TRUE(main.PumpUntil([&] { return raised == 1; }));
    EXPECT_TRUE(onMainThread);
    EXPECT_FALSE(watch.Active());
    const size_t queries = fake.Queries().size();
    main.dispatcher->Pump(60);
    EXPECT_EQ(fake.Queries().size(), queries);
    // Switching on again from the handler after switching off works too.
    watch.OnStatusChanged = [&](TIdBaseComponent*) {
      watch.SetActive(false);
      watch.SetActive(true);
      ++raised;
    };
    fake.Set("127.0.0.1");
    watch.SetActive(true);
    ASSERT_TRUE(main.PumpUntil([&] { return raised == 2; }));
    EXPECT_TRUE(watch.Active());
  }
  EXPECT_EQ(raised, 2);
}

TEST(IPWatch, MainLoopShutdownDropsChecksAndDestructionDoesNotHang) {
  QueuedDispatcherScope main;
  FakeAddress fake;
  Clock::time_point destroying;
  {
    TIdIPWatch watch;
    watch.HistoryEnabled = false;
    watch.SetAddressSource(fake.Source());
    watch.SetWatchInterval(5);
    watch.SetActive(true);
    ASSERT_TRUE(main.PumpUntil([&] { return fake.Queries().size() >= 2; }));
    // The main loop stops turning: the watch thread must not wait for it,
    // and its checks are dropped.
    BeginMainThreadShutdown();
    const size_t atShutdown = fake.Queries().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(fake.Queries().size(), atShutdown);
    destroying = Clock::now();
  }
  EXPECT_LT(Clock::now() - destroying, std::chrono::seconds(1));
  EndMainThreadShutdown();
}

}  // namespace
}  // namespace quillon
