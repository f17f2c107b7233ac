// The five operations of quillon-cli inside the end-to-end world: every line
// compared with what the operation must write, the whois bytes on the wire,
// the exit status, and that lines come out as they are written.
#include <gtest/gtest.h>

#include <numeric>

#include "tests/e2e/whois_answer.h"
#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;

class CliWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
    if (CliPath().empty()) GTEST_SKIP() << "quillon-cli is not built in this configuration";
    world_ = std::make_unique<World>("qe2c");
    ASSERT_TRUE(world_->ok()) << world_->error();
  }
  RunResult Cli(const std::vector<std::string>& args, seconds limit = seconds(30)) {
    std::vector<std::string> argv = {CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return world_->Exec(argv, limit);
  }
  std::unique_ptr<World> world_;
};

#define EXPECT_LINES(result, ...)                                                  \
  do {                                                                             \
    const std::string diff_ = MatchLines((result).lines, __VA_ARGS__);             \
    EXPECT_EQ(diff_, "") << Show((result).lines) << "stderr: " << (result).errors; \
  } while (0)

struct WhoisCase {
  std::string typed;   // what the user gives
  std::string server;  // the server that must answer
  std::string query;   // what must reach it, before CR LF
};

// Each top-level label reaches its own server (in the world, each server
// name is a different address), with exactly the registered domain and CR LF.
TEST_F(CliWorld, WhoisAsksTheServerOfTheTopLevelLabel) {
  const std::vector<WhoisCase> cases = {
      {"example.fr", "whois.nic.fr", "example.fr"},
      {"mail.host.example.com.fr", "whois.nic.fr", "example.com.fr"},
      {"shop.example.biz", "whois.nic.biz", "example.biz"},
      {"example.info", "whois.nic.info", "example.info"},
      {"www.example.name", "whois.nic.name", "example.name"},
      {"WWW.Example.COM", "whois.internic.net", "example.com"},
      {"example.org", "whois.internic.net", "example.org"},
      {"example.museum", "whois.internic.net", "example.museum"},
      {"host.example.co.uk", "whois.ripe.net", "co.uk"},
      {"example.de", "whois.ripe.net", "example.de"},
      {"localhost", "whois.ripe.net", "localhost."},
  };
  size_t seen = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    const RunResult r = Cli({"whois", c.typed});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.lines, SplitAnyBreak(WhoisAnswer(c.server, c.query))) << Show(r.lines);
    const auto hits = world_->WhoisHits(seen + 1);
    ASSERT_EQ(hits.size(), seen + 1) << "one connection per whois";
    EXPECT_EQ(hits.back().localAddress, world_->whoisServers().at(c.server));
    EXPECT_EQ(hits.back().bytes, c.query + "\r\n");
    seen = hits.size();
  }
}

// A server that accepts the query and never answers: after the client's
// 5 s read limit, the one failure line, and status 1.
TEST_F(CliWorld, WhoisThatGetsNoAnswerWritesTheFailureLine) {
  const RunResult r = Cli({"whois", "stall.fr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_LINES(r, {"Error Whois"});
  EXPECT_GE(r.elapsed, std::chrono::milliseconds(4500));
  EXPECT_LT(r.elapsed, std::chrono::milliseconds(9000));
  const auto hits = world_->WhoisHits(1);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].bytes, "stall.fr\r\n");
}

// A large answer arrives whole, every line of it.
TEST_F(CliWorld, WhoisLongAnswerArrivesWhole) {
  const RunResult r = Cli({"whois", "big.info"});
  EXPECT_EQ(r.status, 0) << r.errors;
  const auto expected = SplitAnyBreak(WhoisAnswer("whois.nic.info", "big.info"));
  ASSERT_GT(expected.size(), static_cast<size_t>(kBigAnswerLines));
  EXPECT_EQ(r.lines, expected);
}

// The MX answers of the zone: an alias (CNAME first, then two MX numbered 2
// and 3), a domain without mail, and one that does not exist.
TEST_F(CliWorld, MxListsTheExchangersByTheirPositionInTheAnswer) {
  // The order of the two MX is the server's; dig shows it.
  std::string dig;
  ASSERT_EQ(test::Run("ip netns exec " + world_->name() + " dig +short alias.test MX", &dig), 0);
  const auto digLines = SplitAnyBreak(dig);
  ASSERT_EQ(digLines.size(), 3u) << dig;
  std::vector<std::string> exchangers;
  for (size_t i = 1; i < 3; ++i) {
    std::string x = digLines[i].substr(digLines[i].find(' ') + 1);
    exchangers.push_back(x.substr(0, x.size() - 1));  // without the root dot
  }
  ASSERT_TRUE((exchangers == std::vector<std::string>{"mx1.quillon.test", "mx2.quillon.test"}) ||
              (exchangers == std::vector<std::string>{"mx2.quillon.test", "mx1.quillon.test"}))
      << dig;

  RunResult r = Cli({"mx", "mail.alias.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_LINES(r, {"Found DNS entry for mail.alias.test", "Found #2: " + exchangers[0],
                   "Found #3: " + exchangers[1]});

  r = Cli({"mx", "NoMx.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_LINES(r, {"Found DNS entry for nomx.test", "but no MX entry !"});

  r = Cli({"mx", "www.missing.test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_LINES(r, {"Error: No MX Found for domain www.missing.test"});
}

// Four echo replies from the destination behind two routers, with its name
// from the reverse zone; the average is the sum of the times shown / 4.
TEST_F(CliWorld, PingOfAHostThatAnswers) {
  const std::string dest = world_->fact("DEST_HOST");
  const std::string addr = world_->fact("DEST_ADDR");
  const RunResult r = Cli({"ping", dest});
  EXPECT_EQ(r.status, 0) << r.errors;
  const std::string reply = "response from host " + addr + " in <ms> ms.\t[" + dest + "]";
  std::vector<long> ms;
  EXPECT_EQ(MatchLines(r.lines,
                       {"Ping for " + dest, "", reply, reply, reply, reply, " ",
                        "Packages : sent = 4, receipt = 4, lost = 0", "Average = <ms> ms"},
                       &ms),
            "")
      << Show(r.lines);
  if (ms.size() == 5) {
    EXPECT_EQ(ms[4], (ms[0] + ms[1] + ms[2] + ms[3]) / 4);
  }
}

TEST_F(CliWorld, PingOfANameThatDoesNotResolve) {
  const RunResult r = Cli({"ping", "nowhere.missing.test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_LINES(r, {"Ping for nowhere.missing.test", "",
                   "Error: Host not found for domain nowhere.missing.test"});
}

// Every request silently dropped: four time-outs of 5 s, nothing counted,
// and each line printed when it is written, not at the end.
TEST_F(CliWorld, PingOfADroppedAddressTimesOutFourTimes) {
  const std::string addr = world_->fact("DROPPED_ADDR");
  const RunResult r = Cli({"ping", addr}, seconds(40));
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_LINES(r, {"Ping for " + addr, "", "Timed out.", "Timed out.", "Timed out.", "Timed out.",
                   " ", "Packages : sent = 4, receipt = 0, lost = 4", "Average = n/a"});
  ASSERT_EQ(r.arrivals.size(), 9u);
  EXPECT_LT(r.arrivals[0].count(), 3000) << "the heading comes before the first wait";
  for (size_t i = 2; i < 6; ++i) {
    const long expected = 5000 * static_cast<long>(i - 1);
    EXPECT_NEAR((r.arrivals[i] - r.arrivals[0]).count(), expected, 1500) << "time-out line " << i;
  }
}

// One numbered line per router, with its reverse name, then the
// destination's reply after an empty line; the second reply of the
// destination ends the trace without a line.
TEST_F(CliWorld, TraceThroughTwoRouters) {
  const std::string dest = world_->fact("DEST_HOST");
  const RunResult r = Cli({"trace", dest});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_LINES(
      r, {"Trace Route for " + dest, "", "1 :\t198.18.1.1\tin <ms> ms\t[r1.quillon.test]",
          "2 :\t198.18.2.2\tin <ms> ms\t[r2.quillon.test]", "",
          "response from host " + world_->fact("DEST_ADDR") + " in <ms> ms.\t[" + dest + "]"});
}

// Probes into a network that drops them: one "Timed out.", and the second
// time-out in a row ends the trace.
TEST_F(CliWorld, TraceIntoADroppingNetworkStopsAfterTwoTimeOuts) {
  const std::string addr = world_->fact("DROPPED_ADDR");
  const RunResult r = Cli({"trace", addr}, seconds(30));
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_LINES(r, {"Trace Route for " + addr, "", "Timed out."});
  EXPECT_GE(r.elapsed.count(), 9500);
  EXPECT_LT(r.elapsed.count(), 14000);
}

// The public address as the what-is-my-address services see it, and the
// local address; with every service refusing, "Offline" and status 1, the
// local address still. (tests/e2e/info_e2e_test.cpp has the other cases.)
TEST_F(CliWorld, InfoShowsPublicAndLocalAddress) {
  const std::string client = world_->fact("CLIENT_ADDR");
  RunResult r = Cli({"info"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_LINES(r, {"Online\t" + client, "Local\t" + client});

  for (const char* service : {"WHOAMI_OPENDNS", "WHOAMI_GOOGLE", "WHOAMI_CLOUDFLARE", "WHOAMI_IPIFY"})
    ASSERT_TRUE(world_->SetWhoami(world_->fact(service), "refuse")) << service;
  r = Cli({"info"});
  EXPECT_EQ(r.status, 1);
  EXPECT_LINES(r, {"Offline\t", "Local\t" + client});
}

}  // namespace
}  // namespace quillon::e2e
