// The real window inside the end-to-end world, on the offscreen platform:
// the first activation fills Local Info, and each button, clicked after a
// name was typed, writes exactly the lines the operation prescribes.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/e2e/whois_answer.h"
#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;

std::string WindowDriverPath() {
  return QUILLON_E2E_WINDOW_DRIVER;
}

// What the window showed after one step.
struct Shown {
  std::map<std::string, std::string> captions, colours, inks;
  std::string linkColour;
  std::string edHost, waitLabel;
  std::vector<std::string> lines;
};

std::vector<std::pair<std::string, Shown>> Parse(const RunResult& r) {
  std::vector<std::pair<std::string, Shown>> steps;
  for (const std::string& l : r.lines) {
    auto keyed = [&](std::map<std::string, std::string>& into, size_t skip) {
      const std::string kv = l.substr(skip);
      into[kv.substr(0, kv.find('='))] = kv.substr(kv.find('=') + 1);
    };
    if (l.rfind("@step ", 0) == 0)
      steps.push_back({l.substr(6), {}});
    else if (steps.empty())
      continue;
    else if (l.rfind("@caption ", 0) == 0)
      keyed(steps.back().second.captions, 9);
    else if (l.rfind("@colour ", 0) == 0)
      keyed(steps.back().second.colours, 8);
    else if (l.rfind("@ink ", 0) == 0)
      keyed(steps.back().second.inks, 5);
    else if (l.rfind("@linkcolour ", 0) == 0)
      steps.back().second.linkColour = l.substr(12);
    else if (l.rfind("@edhost ", 0) == 0)
      steps.back().second.edHost = l.substr(8);
    else if (l.rfind("@waitlabel ", 0) == 0)
      steps.back().second.waitLabel = l.substr(11);
    else if (l.rfind("| ", 0) == 0)
      steps.back().second.lines.push_back(l.substr(2));
  }
  return steps;
}

std::string Value(const std::map<std::string, std::string>& m, const std::string& key) {
  const auto it = m.find(key);
  return it == m.end() ? "(none)" : it->second;
}

class WindowWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
    world_ = std::make_unique<World>("qe2w");
    ASSERT_TRUE(world_->ok()) << world_->error();
  }
  std::vector<std::pair<std::string, Shown>> Drive(const std::vector<std::string>& steps,
                                                   seconds limit) {
    std::vector<std::string> argv = {WindowDriverPath()};
    argv.insert(argv.end(), steps.begin(), steps.end());
    last_ = world_->Exec(argv, limit, {{"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(last_.status, 0) << Show(last_.lines) << last_.errors;
    auto shown = Parse(last_);
    EXPECT_EQ(shown.size(), steps.size() + 1) << Show(last_.lines) << last_.errors;
    return shown;
  }
  std::unique_ptr<World> world_;
  RunResult last_;
};

TEST_F(WindowWorld, FirstActivationAndTheFourButtons) {
  const std::string client = world_->fact("CLIENT_ADDR");
  const std::string destAddr = world_->fact("DEST_ADDR");
  const auto steps = Drive({"whois:WWW.Example.FR", "mx:Mail.ALIAS.test", "mx:nomx.test",
                            "ping:dest.quillon.test", "trace:Dest.Quillon.Test",
                            "trace:r1.quillon.test", "trace:r1.quillon.test", "ping:nowhere.test"},
                           seconds(100));
  ASSERT_EQ(steps.size(), 9u);

  // First activation: Local Info filled, "Online" in green.
  const Shown& info = steps[0].second;
  EXPECT_EQ(info.captions.at("Online"), "Online");
  EXPECT_EQ(info.colours.at("Online"), "0,128,0");
  EXPECT_EQ(info.captions.at("IP1"), client);
  EXPECT_EQ(info.captions.at("Local"), "Local");
  EXPECT_EQ(info.captions.at("IP2"), client);
  EXPECT_EQ(info.waitLabel, "hidden");
  EXPECT_TRUE(info.lines.empty()) << Show(info.lines);

  // Whois: the edit box was lower-cased when the click took the focus, and
  // the answer replaced the text area, line breaks of all kinds kept.
  const Shown& whois = steps[1].second;
  EXPECT_EQ(whois.edHost, "www.example.fr");
  // The answer's final line break ends its last line; it starts no empty one.
  const auto expected = SplitAnyBreak(WhoisAnswer("whois.nic.fr", "example.fr"));
  EXPECT_EQ(whois.lines, expected) << Show(whois.lines);
  const auto hits = world_->WhoisHits(1);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].localAddress, world_->whoisServers().at("whois.nic.fr"));
  EXPECT_EQ(hits[0].bytes, "example.fr\r\n");

  const Shown& mx = steps[2].second;
  EXPECT_EQ(mx.edHost, "mail.alias.test");
  EXPECT_EQ(
      MatchLines(mx.lines, {"Found DNS entry for mail.alias.test", "Found #2: mx<ms>.quillon.test",
                            "Found #3: mx<ms>.quillon.test"}),
      "")
      << Show(mx.lines);
  EXPECT_EQ(
      MatchLines(steps[3].second.lines, {"Found DNS entry for nomx.test", "but no MX entry !"}), "")
      << Show(steps[3].second.lines);

  const std::string reply = "response from host " + destAddr + " in <ms> ms.\t[dest.quillon.test]";
  EXPECT_EQ(MatchLines(steps[4].second.lines,
                       {"Ping for dest.quillon.test", "", reply, reply, reply, reply, " ",
                        "Packages : sent = 4, receipt = 4, lost = 0", "Average = <ms> ms"}),
            "")
      << Show(steps[4].second.lines);

  EXPECT_EQ(steps[5].second.edHost, "dest.quillon.test");
  EXPECT_EQ(MatchLines(steps[5].second.lines,
                       {"Trace Route for dest.quillon.test", "",
                        "1 :\t198.18.1.1\tin <ms> ms\t[r1.quillon.test]",
                        "2 :\t198.18.2.2\tin <ms> ms\t[r2.quillon.test]", "", reply}),
            "")
      << Show(steps[5].second.lines);

  // Twice a trace to the first router: the second starts afresh and is not
  // cut short by the first one's last reply.
  const std::vector<std::string> toRouter = {
      "Trace Route for r1.quillon.test", "", "",
      "response from host 198.18.1.1 in <ms> ms.\t[r1.quillon.test]"};
  EXPECT_EQ(MatchLines(steps[6].second.lines, toRouter), "") << Show(steps[6].second.lines);
  EXPECT_EQ(MatchLines(steps[7].second.lines, toRouter), "") << Show(steps[7].second.lines);

  EXPECT_EQ(MatchLines(steps[8].second.lines, {"Ping for nowhere.test", "",
                                               "Error: Host not found for domain nowhere.test"}),
            "")
      << Show(steps[8].second.lines);
  for (const auto& [name, shown] : steps) EXPECT_EQ(shown.waitLabel, "hidden") << name;
}

// Closing the window while an operation waits on the network ends the
// worker within the second: a ping whose requests are dropped, a whois
// server that never answers.
TEST_F(WindowWorld, ClosingWhileAnOperationWaits) {
  for (const std::string step : {"close:ping:198.18.9.9", "close:whois:stall.fr"}) {
    SCOPED_TRACE(step);
    const RunResult r =
        world_->Exec({WindowDriverPath(), step}, seconds(30), {{"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(r.status, 0) << r.errors;
    ASSERT_FALSE(r.lines.empty());
    const std::string& closed = r.lines.back();
    std::vector<long> n;
    EXPECT_EQ(MatchLines({closed}, {"@closed busy=1 ms=<ms> ended=1"}, &n), "");
    if (n.size() == 1) {
      EXPECT_LT(n[0], 1000);
    }
    EXPECT_LT(r.elapsed.count(), 8000) << "the program ended long after the close";
  }
}

// The colours as drawn, not only as set: "Online" shows in green and the
// maker's credit in the desktop's link colour. (Disabled until the labels
// draw with their WindowText colour: the window's background role is
// Button, which its children inherit, so they draw with ButtonText.)
TEST_F(WindowWorld, InfoColoursAsDrawn) {
  const auto steps = Drive({}, seconds(30));
  ASSERT_EQ(steps.size(), 1u);
  const Shown& info = steps[0].second;
  EXPECT_EQ(info.colours.at("Online"), "0,128,0");
  EXPECT_EQ(Value(info.inks, "Online"), "0,128,0");
  EXPECT_EQ(Value(info.inks, "Label1"), info.linkColour);
}

// With every what-is-my-address service silent, the first activation shows
// "Offline" in red, no public address, and the local address all the same,
// once the sources' time is up.
TEST_F(WindowWorld, FirstActivationOffline) {
  for (const char* service : {"WHOAMI_OPENDNS", "WHOAMI_GOOGLE", "WHOAMI_CLOUDFLARE", "WHOAMI_IPIFY"})
    ASSERT_TRUE(world_->SetWhoami(world_->fact(service), "silent")) << service;
  const auto steps = Drive({}, seconds(30));
  ASSERT_EQ(steps.size(), 1u);
  const Shown& info = steps[0].second;
  EXPECT_EQ(info.captions.at("Online"), "Offline");
  EXPECT_EQ(info.colours.at("Online"), "255,0,0");
  EXPECT_EQ(info.captions.at("IP1"), "");
  EXPECT_EQ(info.captions.at("Local"), "Local");
  EXPECT_EQ(info.captions.at("IP2"), world_->fact("CLIENT_ADDR"));
  EXPECT_EQ(info.waitLabel, "hidden");
}

// Silent drops seen from the window: four time-outs, nothing counted.
TEST_F(WindowWorld, PingOfADroppedAddress) {
  const std::string addr = world_->fact("DROPPED_ADDR");
  const auto steps = Drive({"ping:" + addr, "mx:missing.test"}, seconds(60));
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(
      MatchLines(steps[1].second.lines,
                 {"Ping for " + addr, "", "Timed out.", "Timed out.", "Timed out.", "Timed out.",
                  " ", "Packages : sent = 4, receipt = 0, lost = 4", "Average = n/a"}),
      "")
      << Show(steps[1].second.lines);
  EXPECT_EQ(MatchLines(steps[2].second.lines, {"Error: No MX Found for domain missing.test"}), "")
      << Show(steps[2].second.lines);
}

}  // namespace
}  // namespace quillon::e2e
