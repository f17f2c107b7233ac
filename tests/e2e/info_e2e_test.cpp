// quillon-cli info inside the end-to-end world, with the default sources
// reaching stand-ins for the public what-is-my-address services (nothing
// leaves the machine): all answering, HTTP refused, DNS silent, one source
// lying, a captive portal with DNS blocked, all silent; and the hosted
// /misc/ip.php page of app/README.md as a source of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "tests/e2e/shared_world.h"
#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;

constexpr const char* kServices[] = {"WHOAMI_OPENDNS", "WHOAMI_GOOGLE", "WHOAMI_CLOUDFLARE",
                                     "WHOAMI_IPIFY"};
constexpr const char* kDefaultEntries[] = {
    "dns:myip.opendns.com@resolver1.opendns.com", "dns-txt:o-o.myaddr.l.google.com@ns1.google.com",
    "dns-chaos:whoami.cloudflare@1.1.1.1", "http://api.ipify.org/"};
constexpr long kBoundMs = 3000;

// One world for every case: each sets the services' behaviour first.
class InfoWorld : public SharedWorld<InfoWorld> {
 public:
  static constexpr const char* kWorldPrefix = "qe2i";

 protected:
  void SetUp() override {
    SharedWorld::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    client_ = world_->fact("CLIENT_ADDR");
  }
  // Each service's behaviour, in the order of the default list.
  void Services(const std::vector<std::string>& modes) {
    for (size_t i = 0; i < 4; ++i)
      ASSERT_TRUE(world_->SetWhoami(world_->fact(kServices[i]), modes[i])) << kServices[i];
  }
  RunResult Info(const std::vector<std::string>& args = {},
                 const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> argv = {CliPath(), "info"};
    argv.insert(argv.end(), args.begin(), args.end());
    return world_->Exec(argv, seconds(20), env);
  }
  // info --json, read; the entries checked against the default list.
  nlohmann::json Json(RunResult* run = nullptr) {
    const RunResult r = Info({"--json"});
    if (run) *run = r;
    EXPECT_EQ(r.lines.size(), 1u) << Show(r.lines) << r.errors;
    if (r.lines.size() != 1) return {};
    nlohmann::json doc = nlohmann::json::parse(r.lines[0]);
    EXPECT_EQ(doc["local"], client_);
    EXPECT_EQ(doc["sources"].size(), 4u);
    for (size_t i = 0; i < doc["sources"].size() && i < 4; ++i)
      EXPECT_EQ(doc["sources"][i]["source"], kDefaultEntries[i]);
    return doc;
  }
  std::string client_;
};

TEST_F(InfoWorld, AllAnswering) {
  Services({"answer", "answer", "answer", "answer"});
  const RunResult r = Info();
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Online\t" + client_, "Local\t" + client_}));
  EXPECT_EQ(r.errors, "");
  EXPECT_LT(r.elapsed.count(), 1000);
  const nlohmann::json doc = Json();
  EXPECT_EQ(doc["online"], true);
  EXPECT_EQ(doc["public"], client_);
  for (const auto& s : doc["sources"]) {
    EXPECT_EQ(s["address"], client_) << s;
    EXPECT_LT(s["ms"].get<long>(), 1000) << s;
  }
}

TEST_F(InfoWorld, HttpRefusedTheDnsSourcesAgree) {
  Services({"answer", "answer", "answer", "refuse"});
  const RunResult r = Info();
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Online\t" + client_, "Local\t" + client_}));
  const nlohmann::json doc = Json();
  EXPECT_EQ(doc["public"], client_);
  EXPECT_EQ(doc["sources"][3]["error"], "could not connect");
}

TEST_F(InfoWorld, DnsSilentHttpAloneIsEnough) {
  Services({"silent", "silent", "silent", "answer"});
  RunResult json;
  const nlohmann::json doc = Json(&json);
  EXPECT_EQ(json.status, 0) << json.errors;
  EXPECT_EQ(doc["online"], true);
  EXPECT_EQ(doc["public"], client_);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(doc["sources"][i]["error"], "no answer in time");
  EXPECT_EQ(doc["sources"][3]["address"], client_);
  // No second source to agree: the one answer stands once the time is up.
  EXPECT_GE(json.elapsed.count(), kBoundMs);
  EXPECT_LT(json.elapsed.count(), kBoundMs + 700);
}

TEST_F(InfoWorld, OneSourceLyingIsOutvoted) {
  Services({"lie 203.0.113.66", "answer", "answer", "answer"});
  const RunResult r = Info();
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Online\t" + client_, "Local\t" + client_}));
  const nlohmann::json doc = Json();
  EXPECT_EQ(doc["public"], client_);
  EXPECT_EQ(doc["sources"][0]["address"], "203.0.113.66");
  // Two lying alike win against one truthful source: agreement is the rule.
  Services({"answer", "lie 203.0.113.66", "lie 203.0.113.66", "refuse"});
  EXPECT_EQ(Info().lines[0], "Online\t203.0.113.66");
}

TEST_F(InfoWorld, CaptivePortalWithDnsBlockedIsOffline) {
  Services({"silent", "silent", "silent", "portal"});
  const RunResult r = Info();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Offline\t", "Local\t" + client_}));
  EXPECT_LT(r.elapsed.count(), kBoundMs + 700);
  const nlohmann::json doc = Json();
  EXPECT_EQ(doc["online"], false);
  EXPECT_TRUE(doc["public"].is_null());
  EXPECT_EQ(doc["sources"][3]["error"], "not an IPv4 address");
}

TEST_F(InfoWorld, AllSilentIsOfflineWithinTheBound) {
  Services({"silent", "silent", "silent", "silent"});
  const RunResult r = Info();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Offline\t", "Local\t" + client_}));
  EXPECT_GE(r.elapsed.count(), kBoundMs - 100);
  EXPECT_LT(r.elapsed.count(), kBoundMs + 700);
  const nlohmann::json doc = Json();
  for (const auto& s : doc["sources"]) EXPECT_EQ(s["error"], "no answer in time") << s;
}

TEST_F(InfoWorld, TheHostedPageAndTheSettingsFile) {
  Services({"silent", "silent", "silent", "silent"});
  // The hosting recipe's page, named by the variable.
  const RunResult hosted =
      Info({}, {{"QUILLON_PUBLIC_ADDRESS_SOURCES", "http://" + PublicHost() + "/misc/ip.php"}});
  EXPECT_EQ(hosted.status, 0) << hosted.errors;
  EXPECT_EQ(hosted.lines[0], "Online\t" + client_);
  EXPECT_LT(hosted.elapsed.count(), 1000);
  // The same from quillon.conf, with an entry that cannot be read.
  const std::string config = world_->fact("STATE") + "/info-config";
  std::filesystem::create_directories(config + "/quillon");
  std::ofstream(config + "/quillon/quillon.conf")
      << "[public-address]\nsources = nonsense, http://" << PublicHost() << "/misc/ip.php\n";
  const RunResult conf = Info({}, {{"XDG_CONFIG_HOME", config}});
  EXPECT_EQ(conf.lines[0], "Online\t" + client_);
  EXPECT_EQ(conf.errors,
            "quillon-cli: skipping public-address source \"nonsense\": not a dns:, dns-txt:, "
            "dns-chaos: or http:// source\n");
}

}  // namespace
}  // namespace quillon::e2e
