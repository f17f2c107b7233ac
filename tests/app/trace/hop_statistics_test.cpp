// The figures of a hop, and the report built from the outcomes of the
// cycles: which hops it shows, how the path ended, and the verdict, as tables.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/trace/hop_statistics.h"
#include "app/trace/report_model.h"
#include "app/trace/verdict.h"

namespace quillon {
namespace {

TEST(HopStatistics, FiguresOfAnsweredAndLostProbes) {
  const std::nullopt_t lost = std::nullopt;
  const struct {
    std::vector<std::optional<double>> times;
    int sent, lost;
    const char* loss;
    std::optional<TRoundTrips> expected;
  } cases[] = {
      {{}, 0, 0, "0.0%", std::nullopt},
      {{lost, lost, lost}, 3, 3, "100.0%", std::nullopt},
      {{2.5}, 1, 0, "0.0%", TRoundTrips{2.5, 2.5, 2.5, 2.5, 0.0}},
      // Sample deviation: mean 2, squares 1 + 0 + 1, divided by 2.
      {{1.0, 2.0, 3.0}, 3, 0, "0.0%", TRoundTrips{3.0, 2.0, 1.0, 3.0, 1.0}},
      // Last is the latest answer, not the latest probe.
      {{4.0, lost, 2.0, lost}, 4, 2, "50.0%", TRoundTrips{2.0, 3.0, 2.0, 4.0, 1.4142135623730951}},
      {{lost, 7.0, lost}, 3, 2, "66.7%", TRoundTrips{7.0, 7.0, 7.0, 7.0, 0.0}},
      {{10.0, 10.0, 10.0, 10.0, lost}, 5, 1, "20.0%", TRoundTrips{10.0, 10.0, 10.0, 10.0, 0.0}},
      {{lost, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}, 10, 1, "10.0%",
       TRoundTrips{0.1, 0.1, 0.1, 0.1, 0.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.times.size() << " probes, " << c.lost << " lost");
    const THopStatistics s = HopStatisticsOf(c.times);
    EXPECT_EQ(s.sent, c.sent);
    EXPECT_EQ(s.lost, c.lost);
    EXPECT_EQ(FormatLoss(s), c.loss);
    ASSERT_EQ(s.times.has_value(), c.expected.has_value());
    if (!s.times) continue;
    EXPECT_DOUBLE_EQ(s.times->lastMs, c.expected->lastMs);
    EXPECT_DOUBLE_EQ(s.times->avgMs, c.expected->avgMs);
    EXPECT_DOUBLE_EQ(s.times->bestMs, c.expected->bestMs);
    EXPECT_DOUBLE_EQ(s.times->worstMs, c.expected->worstMs);
    EXPECT_NEAR(s.times->stdevMs, c.expected->stdevMs, 1e-9);
  }
}

// Cycles written as text, one string per cycle, one letter per probe by
// time-to-live: 'a', 'b', 'c' ... time exceeded from router 198.18.0.1,
// .2, .3 ...; 'D' an echo reply from the destination 198.18.3.2; 'U' an
// unreachable answer from 198.18.0.9; '-' lost. Every answer took 1 ms.
std::vector<TCycleOutcomes> Cycles(const std::vector<std::string>& text) {
  std::vector<TCycleOutcomes> cycles;
  for (const std::string& cycle : text) {
    TCycleOutcomes outcomes;
    for (char c : cycle) {
      TProbeOutcome o;
      o.roundTripMs = 1.0;
      if (c == '-') {
        o.roundTripMs = 0;
      } else if (c == 'D') {
        o.kind = TProbeOutcome::Kind::EchoReply;
        o.address = "198.18.3.2";
      } else if (c == 'U') {
        o.kind = TProbeOutcome::Kind::Unreachable;
        o.address = "198.18.0.9";
      } else {
        o.kind = TProbeOutcome::Kind::TtlExpired;
        o.address = "198.18.0." + std::to_string(c - 'a' + 1);
      }
      outcomes.push_back(o);
    }
    cycles.push_back(outcomes);
  }
  return cycles;
}

TEST(ReportModel, HopsShownAndHowThePathEnded) {
  const struct {
    const char* what;
    std::vector<std::string> cycles;
    int maxHops;
    TPathEnd end;
    std::vector<std::string> addresses;  // per hop line, joined by ','
    std::vector<int> lost;
  } cases[] = {
      {"clean path, the first cycle ran to the hop limit",
       {"abDDDD", "abD", "abD"}, 6, TPathEnd::Reached, {"198.18.0.1", "198.18.0.2", "198.18.3.2"},
       {0, 0, 0}},
      {"the destination's hop is the lowest time-to-live with an echo reply",
       {"ab-DD", "abD", "abD"}, 5, TPathEnd::Reached, {"198.18.0.1", "198.18.0.2", "198.18.3.2"},
       {0, 0, 1}},
      {"a silent hop", {"a-DDD", "a-D"}, 5, TPathEnd::Reached, {"198.18.0.1", "", "198.18.3.2"},
       {0, 2, 0}},
      {"a hop answered from two addresses, in the order they first came",
       {"acD", "abD", "acD"}, 3, TPathEnd::Reached, {"198.18.0.1", "198.18.0.3,198.18.0.2", "198.18.3.2"},
       {0, 0, 0}},
      {"unreachable ends the path, no ??? after it",
       {"aUUU", "aU", "a-"}, 4, TPathEnd::Unreachable, {"198.18.0.1", "198.18.0.9"}, {0, 1}},
      {"an unreachable above the destination's hop does not count",
       {"aDU", "aD"}, 3, TPathEnd::Reached, {"198.18.0.1", "198.18.3.2"}, {0, 0}},
      {"not reached: the hops that answered, then one ??? line",
       {"ab--", "a---", "ab--"}, 4, TPathEnd::NotReached, {"198.18.0.1", "198.18.0.2", ""},
       {0, 1, 3}},
      {"not reached, the last hop answered: no line past the hop limit",
       {"abc", "ab-"}, 3, TPathEnd::NotReached, {"198.18.0.1", "198.18.0.2", "198.18.0.3"},
       {0, 0, 1}},
      {"no hop answered", {"----", "----"}, 4, TPathEnd::NotReached, {""}, {2}},
      {"no cycle done", {}, 30, TPathEnd::NotReached, {""}, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const TReportModel model = BuildReportModel(Cycles(c.cycles), c.maxHops);
    EXPECT_EQ(model.end, c.end);
    ASSERT_EQ(model.hops.size(), c.addresses.size());
    for (size_t i = 0; i < model.hops.size(); ++i) {
      const THopLine& hop = model.hops[i];
      EXPECT_EQ(hop.hop, static_cast<int>(i) + 1);
      std::string joined;
      for (const std::string& a : hop.addresses) joined += (joined.empty() ? "" : ",") + a;
      EXPECT_EQ(joined, c.addresses[i]) << "hop " << hop.hop;
      EXPECT_EQ(hop.statistics.lost, c.lost[i]) << "hop " << hop.hop;
      EXPECT_EQ(hop.statistics.sent, static_cast<int>(c.cycles.size())) << "hop " << hop.hop;
    }
    if (c.end == TPathEnd::Unreachable) {
      EXPECT_EQ(model.unreachableFrom, "198.18.0.9");
    }
  }
}

TEST(Verdict, OneSentenceForEachShapeOfLoss) {
  const struct {
    std::vector<std::string> cycles;
    int maxHops;
    const char* verdict;
  } cases[] = {
      {{"abD", "abD"}, 3, "no loss to host.test"},
      // The destination lost none: loss at a middle hop is a reply limit.
      {{"a-D", "abD"}, 3,
       "no loss to host.test (hop 2 answers only some probes: a reply limit, not loss on the path)"},
      {{"--D", "a-D", "-bcD"}, 4,
       "no loss to host.test (hops 1, 2 answer only some probes: a reply limit, not loss on the "
       "path)"},
      {{"a-D", "a-D"}, 3,
       "no loss to host.test (hop 2 answers only some probes: a reply limit, not loss on the path)"},
      // Loss at the destination only.
      {{"abD", "ab-", "abD", "abD", "abD"}, 3, "20.0% loss to host.test, from hop 3 (198.18.3.2)"},
      // Every hop from 2 on loses at least half as much as the destination.
      {{"abD", "a--", "abD", "a--"}, 3, "50.0% loss to host.test, from hop 2 (198.18.0.2)"},
      // Hop 2 loses a sixth where the destination loses two thirds: less than half as much.
      {{"a-D", "ab-", "ab-", "ab-", "ab-", "abD"}, 3,
       "66.7% loss to host.test, from hop 3 (198.18.3.2)"},
      // Exactly half as much counts.
      {{"abD", "a--", "ab-", "abD"}, 3, "50.0% loss to host.test, from hop 2 (198.18.0.2)"},
      // A silent hop in the chain: 100% is at least half of anything.
      {{"a-cD", "a-c-", "a---"}, 4, "66.7% loss to host.test, from hop 2 (\?\?\?)"},
      {{"---D", "----", "----"}, 4, "66.7% loss to host.test, from hop 1 (\?\?\?)"},
      {{"aUU", "aU"}, 3,
       "host.test not reached; hop 2 (198.18.0.9) reports destination network unreachable"},
      {{"ab--", "ab--"}, 4, "host.test not reached; last answer from hop 2 (198.18.0.2)"},
      {{"a-b-", "a---"}, 4, "host.test not reached; last answer from hop 3 (198.18.0.2)"},
      {{"----"}, 4, "host.test not reached; no hop answered"},
      {{}, 30, "host.test not reached; no hop answered"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& s : c.cycles) shown += s + " ";
    SCOPED_TRACE(shown);
    EXPECT_EQ(Verdict("host.test", BuildReportModel(Cycles(c.cycles), c.maxHops)), c.verdict);
  }
}

}  // namespace
}  // namespace quillon
