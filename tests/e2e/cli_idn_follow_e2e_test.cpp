// quillon-cli inside the end-to-end world with names as people type them
// (the A-labels on the whois wire and in the DNS question, refused names
// sending nothing) and with `whois --follow` along the world's referral
// chains: IANA to a registry, thin registry to registrar, a loop, a server
// that is down, a chain longer than three referrals.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/whois_answer.h"
#include "tests/e2e/whois_referrals.h"
#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;
using Lines = std::vector<std::string>;

class CliNames : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
    if (CliPath().empty()) GTEST_SKIP() << "quillon-cli is not built in this configuration";
    world_ = std::make_unique<World>("qe2i");
    ASSERT_TRUE(world_->ok()) << world_->error();
    // The referral servers, from the world's REFWHOIS_ facts.
    for (int i = 0; !world_->fact("REFWHOIS_" + std::to_string(i)).empty(); ++i) {
      const std::string v = world_->fact("REFWHOIS_" + std::to_string(i));
      addresses_[v.substr(0, v.find(' '))] = v.substr(v.find(' ') + 1);
    }
    for (const auto& [name, address] : world_->whoisServers()) addresses_[name] = address;
  }
  RunResult Cli(const std::vector<std::string>& args, seconds limit = seconds(30)) {
    std::vector<std::string> argv = {CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return world_->Exec(argv, limit);
  }
  std::string AddressOf(const std::string& server) const {
    const auto it = addresses_.find(server);
    return it == addresses_.end() ? "?" + server : it->second;
  }
  // The connections since the last call, as "address query" (CR LF cut off
  // when present), sorted: two servers may log in either order.
  Lines NewHits(size_t expected) {
    const auto hits = world_->WhoisHits(seen_ + expected);
    Lines out;
    for (size_t i = seen_; i < hits.size(); ++i) {
      std::string q = hits[i].bytes;
      if (q.size() >= 2 && q.compare(q.size() - 2, 2, "\r\n") == 0) q.resize(q.size() - 2);
      out.push_back(hits[i].localAddress + " " + q);
    }
    seen_ = hits.size();
    std::sort(out.begin(), out.end());
    return out;
  }
  Lines Expected(const std::vector<std::pair<std::string, std::string>>& serverQuery) const {
    Lines out;
    for (const auto& [server, query] : serverQuery) out.push_back(AddressOf(server) + " " + query);
    std::sort(out.begin(), out.end());
    return out;
  }
  // What --follow prints for one server's answer.
  static Lines Answer(const std::string& server, const std::string& text) {
    Lines out = {"% whois server: " + server};
    for (const auto& line : SplitAnyBreak(text)) out.push_back(line);
    return out;
  }

  std::unique_ptr<World> world_;
  std::map<std::string, std::string> addresses_;
  size_t seen_ = 0;
};

struct IdnCase {
  std::string typed;   // what the user gives
  std::string server;  // the server the A-label chooses
  std::string query;   // the A-label query that must reach it
};

TEST_F(CliNames, WhoisSendsTheALabelOfLatinCyrillicAndCjkNames) {
  const std::vector<IdnCase> cases = {
      {"www.Bücher.fr", "whois.nic.fr", "xn--bcher-kva.fr"},
      {"пример.рф", "whois.ripe.net", "xn--e1afmkfd.xn--p1ai"},
      {"例え.jp", "whois.ripe.net", "xn--r8jz45g.jp"},
      {"中文.com", "whois.internic.net", "xn--fiq228c.com"},
      // ASCII names go out exactly as before.
      {"WWW.Example.COM", "whois.internic.net", "example.com"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    const RunResult r = Cli({"whois", c.typed});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.lines, SplitAnyBreak(WhoisAnswer(c.server, c.query))) << Show(r.lines);
    EXPECT_EQ(NewHits(1), Expected({{c.server, c.query}}));
  }
  // Refused names: the failure line, and no server hears of them.
  for (const std::string name : {"a\xE2\x98\x83.fr", "bü cher.fr", "ü-.com"}) {
    SCOPED_TRACE(name);
    const RunResult r = Cli({"whois", name});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines, (Lines{"Error Whois"}));
    const RunResult f = Cli({"whois", "--follow", name});
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(f.lines, (Lines{"Error Whois"}));
  }
  EXPECT_EQ(NewHits(0), Lines{});
}

// The zone has the mail records under the A-labels only: an answer shows
// the question carried them; the lines keep the typed names.
TEST_F(CliNames, MxAndPingOfInternationalNames) {
  RunResult r = Cli({"mx", "Bücher.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.lines, (Lines{"Found DNS entry for bücher.test", "Found #1: mx1.quillon.test"}));
  r = Cli({"mx", "mail.пример.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.lines, (Lines{"Found DNS entry for mail.пример.test", "Found #1: mx2.quillon.test"}));
  r = Cli({"mx", "例え.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.lines, (Lines{"Found DNS entry for 例え.test", "Found #1: mx1.quillon.test"}));
  r = Cli({"mx", "a\xE2\x98\x83.test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.lines, (Lines{"Error: No MX Found for domain a\xE2\x98\x83.test"}));

  const std::string addr = world_->fact("DEST_ADDR");
  r = Cli({"ping", "bücher.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  const std::string reply = "response from host " + addr + " in <ms> ms.\t[dest.quillon.test]";
  EXPECT_EQ(
      MatchLines(r.lines, {"Ping for bücher.test", "", reply, reply, reply, reply, " ",
                           "Packages : sent = 4, receipt = 4, lost = 0", "Average = <ms> ms"}),
      "")
      << Show(r.lines);
}

TEST_F(CliNames, FollowAlongTheReferralChains) {
  // IANA names the registry of a label the table does not know.
  RunResult r = Cli({"whois", "--follow", "www.example.de"});
  EXPECT_EQ(r.status, 0) << r.errors;
  Lines expected = Answer(kIanaServer, *ReferralAnswer(kIanaServer, "de"));
  expected.push_back("");
  for (const auto& l : Answer(kDeRegistry, WhoisAnswer(kDeRegistry, "example.de")))
    expected.push_back(l);
  EXPECT_EQ(r.lines, expected) << Show(r.lines);
  EXPECT_EQ(NewHits(2), Expected({{kIanaServer, "de"}, {kDeRegistry, "example.de"}}));

  // A thin registry points at the registrar.
  r = Cli({"whois", "--follow", "www.thin.com"});
  EXPECT_EQ(r.status, 0) << r.errors;
  expected = Answer("whois.internic.net", *ReferralAnswer("whois.internic.net", kThinQuery));
  expected.push_back("");
  for (const auto& l : Answer(kRegistrar, WhoisAnswer(kRegistrar, kThinQuery)))
    expected.push_back(l);
  EXPECT_EQ(r.lines, expected) << Show(r.lines);
  EXPECT_EQ(NewHits(2), Expected({{"whois.internic.net", kThinQuery}, {kRegistrar, kThinQuery}}));

  // Two servers that refer to each other: each is asked once.
  r = Cli({"whois", "--follow", "x.loop"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(NewHits(3), Expected({{kIanaServer, "loop"}, {kLoopA, "x.loop"}, {kLoopB, "x.loop"}}));
  EXPECT_EQ(r.lines.back(), "ReferralServer: whois://" + std::string(kLoopA));

  // A referral to a server that is down: its heading, "Error Whois", 1.
  r = Cli({"whois", "--follow", "x.down"});
  EXPECT_EQ(r.status, 1);
  ASSERT_GE(r.lines.size(), 3u);
  EXPECT_EQ(Lines(r.lines.end() - 3, r.lines.end()),
            (Lines{"", "% whois server: " + std::string(kDownServer), "Error Whois"}));
  EXPECT_EQ(NewHits(1), Expected({{kIanaServer, "down"}}));

  // A chain longer than three referrals stops after the third; rwhois is
  // passed over, whois://host:43 is the same host on port 43.
  r = Cli({"whois", "--follow", "x.chain"});
  EXPECT_EQ(r.status, 0) << r.errors;
  Lines headings;
  for (const auto& l : r.lines)
    if (l.rfind("% whois server: ", 0) == 0) headings.push_back(l.substr(16));
  EXPECT_EQ(headings, (Lines{kIanaServer, kChain[0], kChain[1], kChain[2]}));
  EXPECT_EQ(NewHits(4), Expected({{kIanaServer, "chain"},
                                  {kChain[0], "x.chain"},
                                  {kChain[1], "x.chain"},
                                  {kChain[2], "x.chain"}}));
  // Nothing more arrives later (the fourth server was never asked).
  EXPECT_EQ(NewHits(1), Lines{});
}

}  // namespace
}  // namespace quillon::e2e
