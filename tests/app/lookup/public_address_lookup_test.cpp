// Several public-address sources asked at once: the run ends as soon as two
// agree (or, waiting for all, once every source is in), never later than its
// limit, at once when interrupted; answers after the end are dropped and
// nothing but an address counts. The HTTP source read against hostile
// services on loopback. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "app/lookup/public_address_lookup.h"
#include "tests/app/support/fake_servers.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
}

// A fake source's script, carried in its entry: "ADDRESS@MS" answers after
// MS, "fail@MS" fails after MS, "hang" waits until stopped, "hostile@MS"
// returns text that is no address as if it were one.
TSourceReading Scripted(const TPublicAddressSource& source, TSourceControl& control) {
  const std::string& script = source.entry;
  if (script == "hang") {
    while (!control.Stopped()) std::this_thread::sleep_for(1ms);
    return {{}, kNoAnswerInTime};
  }
  const size_t at = script.find('@');
  const auto delay = milliseconds(std::stoi(script.substr(at + 1)));
  const auto until = Clock::now() + delay;
  while (Clock::now() < until && !control.Stopped()) std::this_thread::sleep_for(1ms);
  const std::string what = script.substr(0, at);
  if (what == "fail") return {{}, "connection refused"};
  if (what == "hostile") return {"<b>1.2.3.4</b>", {}};
  return {what, {}};
}

std::vector<TPublicAddressSource> Sources(const std::vector<std::string>& scripts) {
  std::vector<TPublicAddressSource> sources;
  for (const auto& s : scripts) sources.push_back({TSourceKind::Http, s, {}, {}, 53, {}});
  return sources;
}

struct TimedRun {
  TPublicAddressResult result;
  long ms = 0;
};

TimedRun RunScripted(const std::vector<std::string>& scripts, milliseconds limit, bool waitAll) {
  TPublicAddressLookup lookup;
  lookup.Ask = Scripted;
  const auto start = Clock::now();
  TimedRun run;
  run.result = lookup.Run(Sources(scripts), limit, waitAll);
  run.ms = MsSince(start);
  return run;
}

TEST(PublicAddressLookup, EndsAsSoonAsTwoAgreeWithoutWaitingForTheRest) {
  const TimedRun run = RunScripted({"198.51.100.7@10", "hang", "198.51.100.7@30", "hang"}, 3000ms,
                              false);
  EXPECT_EQ(run.result.address, "198.51.100.7");
  EXPECT_LT(run.ms, 1000);
  ASSERT_EQ(run.result.sources.size(), 4u);
  EXPECT_EQ(run.result.sources[0].address, "198.51.100.7");
  EXPECT_GE(run.result.sources[2].ms.count(), 30);
  EXPECT_EQ(run.result.sources[1].error, kNoAnswerInTime);
  EXPECT_EQ(run.result.sources[3].error, kNoAnswerInTime);
}

TEST(PublicAddressLookup, WaitingForAllFillsEveryEntryAndKeepsTheFirstAgreement) {
  const TimedRun run = RunScripted(
      {"198.51.100.7@5", "198.51.100.7@10", "203.0.113.9@150", "203.0.113.9@160", "fail@20"},
      3000ms, true);
  EXPECT_EQ(run.result.address, "198.51.100.7");
  EXPECT_GE(run.ms, 160);
  EXPECT_LT(run.ms, 1500);
  const std::vector<std::string> addresses{"198.51.100.7", "198.51.100.7", "203.0.113.9",
                                           "203.0.113.9", ""};
  for (size_t i = 0; i < addresses.size(); ++i)
    EXPECT_EQ(run.result.sources[i].address, addresses[i]) << i;
  EXPECT_EQ(run.result.sources[4].error, "connection refused");
  EXPECT_GE(run.result.sources[4].ms.count(), 20);
}

TEST(PublicAddressLookup, TheLimitBoundsARunOfSilentSources) {
  const TimedRun silent = RunScripted({"hang", "hang", "hang", "hang"}, 400ms, true);
  EXPECT_EQ(silent.result.address, "");
  EXPECT_GE(silent.ms, 400);
  EXPECT_LT(silent.ms, 400 + 300);
  for (const auto& s : silent.result.sources) {
    EXPECT_EQ(s.error, kNoAnswerInTime);
    EXPECT_GE(s.ms.count(), 400);
  }
  // One answer, the rest silent: that answer, at the limit.
  const TimedRun one = RunScripted({"hang", "198.51.100.7@5", "hang"}, 300ms, false);
  EXPECT_EQ(one.result.address, "198.51.100.7");
  EXPECT_GE(one.ms, 300);
  EXPECT_LT(one.ms, 300 + 300);
  // An answer after the limit is dropped.
  const TimedRun late = RunScripted({"198.51.100.7@10", "203.0.113.9@500"}, 200ms, false);
  EXPECT_EQ(late.result.address, "198.51.100.7");
  EXPECT_EQ(late.result.sources[1].error, kNoAnswerInTime);
}

TEST(PublicAddressLookup, NothingButAnAddressCountsAndNoSourceMeansNoRun) {
  const TimedRun run = RunScripted({"hostile@1", "hostile@2"}, 1000ms, false);
  EXPECT_EQ(run.result.address, "");
  EXPECT_EQ(run.result.sources[0].error, "not an IPv4 address");
  const TimedRun none = RunScripted({}, 1000ms, false);
  EXPECT_EQ(none.result.address, "");
  EXPECT_TRUE(none.result.sources.empty());
  EXPECT_LT(none.ms, 50);
}

TEST(PublicAddressLookup, InterruptEndsARunAtOnceAndLaterRunsAskNothing) {
  TPublicAddressLookup lookup;
  std::atomic<int> asked{0};
  lookup.Ask = [&](const TPublicAddressSource& source, TSourceControl& control) {
    ++asked;
    return Scripted(source, control);
  };
  auto run = std::async(std::launch::async,
                        [&] { return lookup.Run(Sources({"hang", "hang"}), 5000ms, false); });
  ASSERT_EQ(run.wait_for(200ms), std::future_status::timeout);
  const auto start = Clock::now();
  lookup.Interrupt();
  ASSERT_EQ(run.wait_for(1s), std::future_status::ready);
  EXPECT_LT(MsSince(start), 300);
  EXPECT_EQ(run.get().address, "");
  EXPECT_EQ(asked.load(), 2);
  lookup.Run(Sources({"198.51.100.7@1"}), 1000ms, false);
  EXPECT_EQ(asked.load(), 2);
}

TEST(PublicAddressLookup, ASourceDeafToItsStopHoldsUpNeitherTheRunNorTheEnd) {
  // As a source inside the system's name lookup: it ignores the stop.
  // Shared, so that it outlives this test for the thread left behind.
  const auto release = std::make_shared<std::atomic<bool>>(false);
  auto lookup = std::make_unique<TPublicAddressLookup>();
  lookup->Ask = [release](const TPublicAddressSource& source, TSourceControl& control) {
    if (source.entry != "deaf") return Scripted(source, control);
    const auto until = Clock::now() + 2s;
    while (!release->load() && Clock::now() < until) std::this_thread::sleep_for(1ms);
    return TSourceReading{"192.0.2.99", {}};
  };
  auto start = Clock::now();
  const auto result =
      lookup->Run(Sources({"198.51.100.7@1", "deaf", "198.51.100.7@5"}), 3000ms, false);
  EXPECT_EQ(result.address, "198.51.100.7");
  EXPECT_LT(MsSince(start), 500);
  start = Clock::now();
  lookup.reset();  // waits its grace, then leaves the deaf source to itself
  EXPECT_GE(MsSince(start), kSourceStopGrace.count() - 5);
  EXPECT_LT(MsSince(start), kSourceStopGrace.count() + 300);
  release->store(true);  // the source ends on its own thread, its answer dropped
}

// The HTTP source against services on loopback: the body must be an address.
TEST(PublicAddressHttpSource, ReadsTheBodyStrictly) {
  struct Case {
    const char* name;
    std::string response;
    TSourceReading reading;
  };
  const auto ok = [](const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
  };
  const Case cases[] = {
      {"plain", ok("198.51.100.7"), {"198.51.100.7", ""}},
      {"with its line end", ok("198.51.100.7\n"), {"198.51.100.7", ""}},
      {"with CR LF", ok("198.51.100.7\r\n"), {"198.51.100.7", ""}},
      {"captive portal", ok("<html><body>Log in to the hotel network</body></html>"),
       {"", "not an IPv4 address"}},
      {"IPv6 text", ok("2001:db8::7"), {"", "not an IPv4 address"}},
      {"two addresses", ok("198.51.100.7\n198.51.100.8\n"), {"", "not an IPv4 address"}},
      {"empty body", ok(""), {"", "not an IPv4 address"}},
      {"error page", "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 2\r\n\r\nno",
       {"", "HTTP status 503"}},
      {"redirect to a login page",
       "HTTP/1.1 302 Found\r\nLocation: http://portal.example/\r\nContent-Length: 0\r\n\r\n",
       {"", "HTTP status 302"}},
      {"closed before the status line", "", {"", "connection closed before the answer"}},
  };
  for (const Case& c : cases) {
    test::TcpServer server([&](int fd) {
      test::RecvHttpHead(fd);
      test::SendAll(fd, c.response);
    });
    TSourceControl control(Clock::now() + 2s);
    TPublicAddressSource source;
    source.url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    const TSourceReading reading = AskHttpSource(source, control);
    EXPECT_EQ(reading.address, c.reading.address) << c.name;
    EXPECT_EQ(reading.error, c.reading.error) << c.name;
  }
}

TEST(PublicAddressHttpSource, RefusedStalledAndStopped) {
  TPublicAddressSource source;
  source.url = "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/";
  {
    TSourceControl control(Clock::now() + 2s);
    EXPECT_EQ(AskHttpSource(source, control).error, "could not connect");
  }
  test::TcpServer server([](int fd) {
    test::RecvHttpHead(fd);
    test::RecvUntilClose(fd, 5000);
  });
  source.url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
  {
    // Silent: ends at the deadline.
    TSourceControl control(Clock::now() + 300ms);
    const auto start = Clock::now();
    EXPECT_EQ(AskHttpSource(source, control).error, kNoAnswerInTime);
    EXPECT_LT(MsSince(start), 600);
  }
  {
    // Stopped from another thread: ends at once.
    TSourceControl control(Clock::now() + 5s);
    auto asked = std::async(std::launch::async, [&] { return AskHttpSource(source, control); });
    ASSERT_EQ(asked.wait_for(200ms), std::future_status::timeout);
    const auto start = Clock::now();
    control.Stop();
    ASSERT_EQ(asked.wait_for(1s), std::future_status::ready);
    EXPECT_LT(MsSince(start), 150);
    EXPECT_EQ(asked.get().error, kNoAnswerInTime);
  }
}

}  // namespace
}  // namespace quillon
