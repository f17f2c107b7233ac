// The probe cycles against a scripted path (no network): how many probes each
// cycle sends, when cycles start, what counts as lost, that every probe has a
// sequence number of its own, and that Ctrl-C ends the run with the cycles
// done. Then the lookups beside them: each address once, and an interrupted
// run that does not wait for a lookup that hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <queue>
#include <set>
#include <thread>

#include "app/trace/hop_lookups.h"
#include "app/trace/probe_cycles.h"
#include "app/trace/verdict.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Reply {
  ReplyOutcome outcome;
  std::string from;
  milliseconds after{1};
};
// What answers the probe with time-to-live `ttl` that is the `nth` sent with
// it (its cycle, as long as every cycle reaches that far), if anything.
using Script = std::function<std::optional<Reply>(int ttl, int nth)>;

class ScriptedPath final : public TProbeTransport {
 public:
  explicit ScriptedPath(Script script) : script_(std::move(script)) {}

  bool Send(int ttl, uint16_t sequence) override {
    sent.push_back({ttl, sequence, Clock::now()});
    const int nth = countAt_[ttl]++;
    if (refuse && refuse(ttl, nth)) return false;
    if (const std::optional<Reply> reply = script_(ttl, nth)) {
      TEchoAnswer a;
      a.Outcome = reply->outcome;
      a.Sequence = sequence;
      a.SourceAddress = reply->from;
      due_.push({Clock::now() + reply->after, order_++, a});
      for (int i = 0; i < extraCopies; ++i) due_.push({Clock::now() + reply->after, order_++, a});
    }
    return true;
  }

  std::optional<TEchoAnswer> Receive(int timeoutMs) override {
    const auto end = Clock::now() + milliseconds(timeoutMs);
    if (!due_.empty() && due_.top().at <= end) {
      std::this_thread::sleep_until(due_.top().at);
      TEchoAnswer a = due_.top().answer;
      due_.pop();
      return a;
    }
    std::this_thread::sleep_until(end);
    return std::nullopt;
  }

  struct Sent {
    int ttl;
    uint16_t sequence;
    Clock::time_point at;
  };
  std::vector<Sent> sent;
  std::function<bool(int ttl, int nth)> refuse;
  int extraCopies = 0;  // each answer comes this many more times

 private:
  struct Due {
    Clock::time_point at;
    uint64_t order;
    TEchoAnswer answer;
    bool operator>(const Due& o) const { return at != o.at ? at > o.at : order > o.order; }
  };
  Script script_;
  std::map<int, int> countAt_;
  std::priority_queue<Due, std::vector<Due>, std::greater<>> due_;
  uint64_t order_ = 0;
};

// Two routers, then the destination answers every time-to-live from 3 on.
std::optional<Reply> TwoRouters(int ttl, int) {
  if (ttl == 1) return Reply{roTtlExpired, "198.18.1.1"};
  if (ttl == 2) return Reply{roTtlExpired, "198.18.2.2"};
  return Reply{roEchoReply, "198.18.3.2"};
}

TProbeCycleSettings Settings(int cycles, int intervalMs, int maxHops, int waitMs) {
  TProbeCycleSettings s;
  s.cycles = cycles;
  s.interval = milliseconds(intervalMs);
  s.maxHops = maxHops;
  s.wait = milliseconds(waitMs);
  s.firstSequence = 65530;  // the run's numbers wrap past 65535
  return s;
}

std::vector<int> TtlsOf(const std::vector<ScriptedPath::Sent>& sent) {
  std::vector<int> ttls;
  for (const auto& s : sent) ttls.push_back(s.ttl);
  return ttls;
}

TEST(ProbeCycles, TheHopLimitUntilTheDestinationAnswersThenItsHopOnly) {
  ScriptedPath path(TwoRouters);
  std::vector<std::string> seen;
  TProbeCycleSettings settings = Settings(4, 30, 6, 500);
  settings.onNewAddress = [&](const std::string& a) { seen.push_back(a); };
  const auto start = Clock::now();
  const TProbeCycleRun run = RunProbeCycles(path, settings);
  const auto took = Clock::now() - start;

  EXPECT_FALSE(run.interrupted);
  EXPECT_FALSE(run.failed);
  EXPECT_EQ(TtlsOf(path.sent), (std::vector<int>{1, 2, 3, 4, 5, 6, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
  std::set<uint16_t> sequences;
  for (size_t i = 0; i < path.sent.size(); ++i) {
    EXPECT_EQ(path.sent[i].sequence, static_cast<uint16_t>(65530 + i));
    sequences.insert(path.sent[i].sequence);
  }
  EXPECT_EQ(sequences.size(), path.sent.size());
  // Cycles start on a schedule an interval apart (never early; late only by
  // what the machine's load adds); the report is ready as soon as the last
  // cycle's answers are in, long before the wait is over.
  const size_t cycleStarts[] = {0, 6, 9, 12};
  for (size_t k = 1; k < 4; ++k) {
    const auto offset = path.sent[cycleStarts[k]].at - path.sent[0].at;
    EXPECT_GE(offset, milliseconds(30 * static_cast<int>(k)) - milliseconds(1)) << k;
    EXPECT_LT(offset, milliseconds(30 * static_cast<int>(k) + 150)) << k;
  }
  EXPECT_LT(took, milliseconds(90 + 300));
  EXPECT_EQ(seen, (std::vector<std::string>{"198.18.1.1", "198.18.2.2", "198.18.3.2"}));

  ASSERT_EQ(run.done.size(), 4u);
  EXPECT_EQ(run.done[0].size(), 6u);
  EXPECT_EQ(run.done[1].size(), 3u);
  const TReportModel model = BuildReportModel(run.done, 6);
  ASSERT_EQ(model.hops.size(), 3u);
  for (const THopLine& hop : model.hops) {
    EXPECT_EQ(hop.statistics.sent, 4);
    EXPECT_EQ(hop.statistics.lost, 0);
    ASSERT_TRUE(hop.statistics.times);
    EXPECT_GE(hop.statistics.times->bestMs, 0.9);
    EXPECT_LT(hop.statistics.times->worstMs, 300.0);
  }
  EXPECT_EQ(Verdict("dest", model), "no loss to dest");
}

TEST(ProbeCycles, AnswersAfterTheWaitAreLostAndTheRunWaitsForTheLastProbe) {
  // Hop 2 answers within the wait in even cycles, too late in odd ones; the
  // destination answers every other cycle.
  ScriptedPath path([](int ttl, int nth) -> std::optional<Reply> {
    if (ttl == 2) return Reply{roTtlExpired, "198.18.2.2", milliseconds(nth % 2 ? 120 : 2)};
    if (ttl >= 3 && nth % 2 == 1) return std::nullopt;
    return TwoRouters(ttl, nth);
  });
  const auto start = Clock::now();
  const TProbeCycleRun run = RunProbeCycles(path, Settings(4, 10, 3, 60));
  const auto took = Clock::now() - start;
  // The last cycle starts at 30 ms and its lost probe is given up at 90 ms.
  EXPECT_GE(took, milliseconds(89));
  EXPECT_LT(took, milliseconds(89 + 300));
  ASSERT_EQ(run.done.size(), 4u);
  const TReportModel model = BuildReportModel(run.done, 3);
  ASSERT_EQ(model.hops.size(), 3u);
  EXPECT_EQ(model.hops[1].statistics.lost, 2);
  EXPECT_EQ(model.hops[2].statistics.lost, 2);
  EXPECT_EQ(Verdict("dest", model), "50.0% loss to dest, from hop 2 (198.18.2.2)");
}

TEST(ProbeCycles, AnUnreachableAnswerEndsThePathForTheNextCycles) {
  ScriptedPath path([](int ttl, int) -> std::optional<Reply> {
    if (ttl == 1) return Reply{roTtlExpired, "198.18.1.1"};
    return Reply{roUnreachable, "198.18.1.1"};
  });
  const TProbeCycleRun run = RunProbeCycles(path, Settings(3, 10, 5, 200));
  EXPECT_EQ(TtlsOf(path.sent), (std::vector<int>{1, 2, 3, 4, 5, 1, 2, 1, 2}));
  const TReportModel model = BuildReportModel(run.done, 5);
  EXPECT_EQ(model.end, TPathEnd::Unreachable);
  EXPECT_EQ(Verdict("host", model),
            "host not reached; hop 2 (198.18.1.1) reports destination network unreachable");
}

TEST(ProbeCycles, RefusedSendsDuplicatesAndStrangersCountForWhatTheyAre) {
  ScriptedPath path(TwoRouters);
  path.refuse = [](int ttl, int nth) { return ttl == 2 && nth == 1; };
  path.extraCopies = 1;  // every answer arrives twice
  const TProbeCycleRun run = RunProbeCycles(path, Settings(3, 10, 3, 200));
  ASSERT_EQ(run.done.size(), 3u);
  const TReportModel model = BuildReportModel(run.done, 3);
  EXPECT_EQ(model.hops[0].statistics.lost, 0);
  EXPECT_EQ(model.hops[0].statistics.sent, 3);
  EXPECT_EQ(model.hops[1].statistics.lost, 1) << "the probe the system refused";
  EXPECT_EQ(model.hops[2].statistics.lost, 0);
}

TEST(ProbeCycles, InterruptedTheRunEndsWithTheCyclesDone) {
  // The destination takes 40 ms; cycles start every 10 ms.
  ScriptedPath path([](int ttl, int nth) -> std::optional<Reply> {
    if (ttl >= 3) return Reply{roEchoReply, "198.18.3.2", milliseconds(40)};
    return TwoRouters(ttl, nth);
  });
  std::atomic<bool> interrupted{false};
  TProbeCycleSettings settings = Settings(1000, 10, 3, 2000);
  settings.interrupted = &interrupted;
  std::thread stopper([&] {
    std::this_thread::sleep_for(milliseconds(200));
    interrupted.store(true);
  });
  const auto start = Clock::now();
  const TProbeCycleRun run = RunProbeCycles(path, settings);
  const auto took = Clock::now() - start;
  stopper.join();
  EXPECT_TRUE(run.interrupted);
  EXPECT_LT(took, milliseconds(200 + 300)) << "seen within a wait slice";
  // About 20 cycles were sent; the last four or so still waited for the
  // destination and are left out.
  EXPECT_GE(run.done.size(), 5u);
  const size_t cyclesSent = path.sent.size() / 3;
  EXPECT_GT(cyclesSent, run.done.size());
  const TReportModel model = BuildReportModel(run.done, 3);
  for (const THopLine& hop : model.hops) {
    EXPECT_EQ(hop.statistics.lost, 0) << "no probe of a cycle left out counts";
    EXPECT_EQ(hop.statistics.sent, static_cast<int>(run.done.size()));
  }
}

TEST(ProbeCycles, AFailingSocketEndsTheRunWithTheCyclesDone) {
  class Failing final : public TProbeTransport {
   public:
    bool Send(int, uint16_t sequence) override {
      last_ = sequence;
      return true;
    }
    std::optional<TEchoAnswer> Receive(int) override {
      if (++calls_ > 6) throw std::runtime_error("socket gone");
      if (answered_ == last_) return std::nullopt;
      TEchoAnswer a;
      a.Sequence = last_;
      a.SourceAddress = "198.18.3.2";
      answered_ = last_;
      return a;
    }

   private:
    uint16_t last_ = 0;
    std::optional<uint16_t> answered_;
    int calls_ = 0;
  } failing;
  const TProbeCycleRun run = RunProbeCycles(failing, Settings(100, 1, 1, 100));
  EXPECT_TRUE(run.failed);
  EXPECT_FALSE(run.done.empty());
  EXPECT_LT(run.done.size(), 100u);
}

TEST(HopLookups, EachAddressOnceAndTheResultsOfBoth) {
  std::mutex mutex;
  std::map<std::string, int> asked;
  THopLookupSettings settings;
  settings.nameOf = [&](const std::string& a) -> std::optional<std::string> {
    const std::lock_guard lock(mutex);
    ++asked["name " + a];
    if (a == "198.18.1.1") return "r1.test";
    return std::nullopt;
  };
  settings.originAsOf = [&](const std::string& a) -> std::optional<uint32_t> {
    const std::lock_guard lock(mutex);
    ++asked["as " + a];
    if (a == "198.18.3.2") throw std::runtime_error("no answer");
    return 64500;
  };
  THopLookups lookups(settings);
  for (int round = 0; round < 3; ++round)
    for (const char* a : {"198.18.1.1", "198.18.2.2", "198.18.3.2"}) lookups.Add(a);
  EXPECT_TRUE(lookups.WaitAll());
  const TAddressInfos infos = lookups.Results();
  EXPECT_EQ(asked.size(), 6u);
  for (const auto& [what, count] : asked) EXPECT_EQ(count, 1) << what;
  EXPECT_EQ(infos.at("198.18.1.1").name, "r1.test");
  EXPECT_EQ(infos.at("198.18.1.1").asn, 64500u);
  EXPECT_EQ(infos.at("198.18.2.2").name, std::nullopt);
  EXPECT_EQ(infos.at("198.18.3.2").asn, std::nullopt) << "a failed lookup is no AS";
}

TEST(HopLookups, AnInterruptedRunDoesNotWaitForALookupThatHangs) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> interrupted{false};
  const auto start = Clock::now();
  {
    THopLookupSettings settings;
    settings.nameOf = [release, finished](const std::string&) -> std::optional<std::string> {
      // Like a system resolver that cannot be cut short (bounded here).
      const auto until = Clock::now() + std::chrono::seconds(5);
      while (!release->load() && Clock::now() < until) std::this_thread::sleep_for(milliseconds(5));
      finished->store(true);
      return "late.test";
    };
    THopLookups lookups(settings);
    lookups.Add("198.18.1.1");
    std::thread stopper([&] {
      std::this_thread::sleep_for(milliseconds(100));
      interrupted.store(true);
    });
    EXPECT_FALSE(lookups.WaitAll(&interrupted));
    stopper.join();
    lookups.Abandon();
    EXPECT_FALSE(lookups.Results().count("198.18.1.1"));
  }
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
  EXPECT_FALSE(finished->load());
  // The lookup left behind ends on its own.
  release->store(true);
  for (int i = 0; i < 200 && !finished->load(); ++i) std::this_thread::sleep_for(milliseconds(5));
  EXPECT_TRUE(finished->load());
}

}  // namespace
}  // namespace quillon
