// quillon-cli trace --report inside the end-to-end world, both families, as
// root (raw sockets) and as a normal user (datagram sockets): a clean path,
// a destination that drops every other request, a router that answers only
// every other probe while the destination answers all, a silent hop, an
// unreachable route, a path that ends in silence, AS numbers from the world's
// origin zones, JSON, a list, and Ctrl-C. Losses are made with nftables
// rules in the routers' and the destination's namespaces (numgen counters,
// so that every other packet is dropped, exactly).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "tests/e2e/shared_world.h"
#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;

// One hop line of a report.
struct Row {
  int hop = 0;
  std::string as;    // with --asn
  std::string host;  // "NAME (ADDRESS)", "ADDRESS" or "???"
  std::string loss;  // "20.0"
  int sent = 0;
  bool timed = false;            // the five times are there
  std::vector<std::string> more;  // further addresses, one line each
};

struct Report {
  std::string heading;
  std::string columns;
  std::vector<Row> rows;
  std::string verdict;
  std::string error;  // what did not parse
};

Report Parse(const std::vector<std::string>& lines, bool asn = false) {
  Report r;
  static const std::regex kRow(
      R"(^ {0,2}(\d{1,2})  (?:(AS\S+) +)?(\S.*?) +(\d+\.\d)% +(\d+)((?: +\d+\.\d){5})?$)");
  static const std::regex kMore(R"(^ {5,}(\S.*)$)");
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    std::smatch m;
    if (i == 0) {
      r.heading = l;
    } else if (i == 1) {
      r.columns = l;
    } else if (l.rfind("Verdict: ", 0) == 0 && i + 1 == lines.size()) {
      r.verdict = l.substr(9);
    } else if (std::regex_match(l, m, kRow)) {
      Row row;
      row.hop = std::stoi(m[1]);
      row.as = m[2];
      row.host = m[3];
      row.loss = m[4];
      row.sent = std::stoi(m[5]);
      row.timed = m[6].matched;
      if (asn != !row.as.empty()) r.error += "AS column on line " + std::to_string(i) + "; ";
      r.rows.push_back(row);
    } else if (std::regex_match(l, m, kMore) && !r.rows.empty()) {
      r.rows.back().more.push_back(m[1]);
    } else {
      r.error += "line " + std::to_string(i) + " \"" + l + "\" does not parse; ";
    }
  }
  if (r.verdict.empty()) r.error += "no verdict; ";
  // The column line names the columns, and its Loss% ends where every
  // hop's loss does (the Host column is as wide as the widest host).
  static const std::regex kColumns(
      R"(^Hop  Host {24,}Loss%  Sent   Last    Avg   Best  Worst  StDev$)");
  static const std::regex kAsColumns(
      R"(^Hop  AS        Host {24,}Loss%  Sent   Last    Avg   Best  Worst  StDev$)");
  if (!std::regex_match(r.columns, asn ? kAsColumns : kColumns)) r.error += "column line \"" + r.columns + "\"; ";
  const size_t lossEnd = r.columns.find("Loss%") + 5;
  for (size_t i = 2; i + 1 < lines.size(); ++i) {
    const size_t percent = lines[i].find('%');
    if (percent != std::string::npos && percent + 1 != lossEnd)
      r.error += "line " + std::to_string(i) + " out of its columns; ";
  }
  return r;
}

// The heading: host as typed, the address, the cycles, the local time.
bool HeadingIs(const Report& r, const std::string& host, const std::string& address, int cycles) {
  const std::regex heading("Report for " + std::regex_replace(host, std::regex(R"([.()])"), R"(\$&)") +
                           " \\(" + std::regex_replace(address, std::regex(R"([.])"), R"(\.)") +
                           "\\), " + std::to_string(cycles) +
                           R"( cycles, started \d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4})");
  return std::regex_match(r.heading, heading);
}

// "hop:host:loss:sent" for each row, times present or not marked by + / -.
std::vector<std::string> Summary(const Report& r) {
  std::vector<std::string> out;
  for (const Row& row : r.rows) {
    std::string s = std::to_string(row.hop) + " " + (row.as.empty() ? "" : row.as + " ") +
                    row.host + " " + row.loss + "% " + std::to_string(row.sent) +
                    (row.timed ? " +" : " -");
    for (const std::string& more : row.more) s += " / " + more;
    out.push_back(s);
  }
  return out;
}

// What docs/schema/trace.json says about JSON lines: empty when each is
// valid, else the validator's complaint. Without the schema in the tree
// (it comes with the plain trace's JSON), nothing is checked.
std::string SchemaErrors(const std::vector<std::string>& lines) {
  const std::string schema = std::string(QUILLON_SOURCE_DIR) + "/docs/schema/trace.json";
  if (!std::ifstream(schema)) {
    std::printf("note: %s is not there yet: JSON not validated\n", schema.c_str());
    return {};
  }
  const std::string input = "/tmp/" + test::UniqueName("qtrace-json");
  {
    std::ofstream out(input);
    for (const std::string& l : lines) out << l << "\n";
  }
  std::string output;
  const int rc = test::Run(
      "python3 -c 'import json, sys, jsonschema\n"
      "schema = json.load(open(sys.argv[1]))\n"
      "for line in open(sys.argv[2]):\n"
      "    jsonschema.validate(json.loads(line), schema, "
      "format_checker=jsonschema.FormatChecker())' " +
          schema + " " + input + " 2>&1",
      &output);
  std::remove(input.c_str());
  return rc == 0 ? std::string() : output;
}

// One world for every test here; each test removes the rules it adds.
class TraceReportWorld : public SharedWorld<TraceReportWorld> {
 public:
  static constexpr const char* kWorldPrefix = "qe2t";

 protected:
  void TearDown() override {
    for (const std::string& ns : rulesIn_)
      Shell("ip netns exec " + ns + " nft delete table inet qtrace");
    rulesIn_.clear();
  }

  static int Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
  }
  // nftables rules in one of the world's namespaces ("r1", "r2", "dst"),
  // in a table of this test's own: `chains` is the table's body.
  void Rules(const std::string& where, const std::string& chains) {
    const std::string ns = world_->name() + "-" + where;
    const std::string file = "/tmp/" + test::UniqueName("qtrace-nft");
    std::ofstream(file) << "table inet qtrace {\n" << chains << "\n}\n";
    const int rc = Shell("ip netns exec " + ns + " nft -f " + file);
    std::remove(file.c_str());
    ASSERT_EQ(rc, 0) << "nft in " << ns << ": " << chains;
    rulesIn_.push_back(ns);
  }
  void In(const std::string& where, const std::string& command) {
    ASSERT_EQ(Shell("ip netns exec " + world_->name() + "-" + where + " " + command), 0)
        << command;
  }
  static RunResult Cli(const std::vector<std::string>& args, bool asUser = false) {
    std::vector<std::string> argv;
    if (asUser)
      argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    argv.push_back(CliPath());
    argv.insert(argv.end(), args.begin(), args.end());
    return world_->Exec(argv, seconds(60));
  }
  static RunResult Sh(const std::string& script) {
    return world_->Exec({"bash", "-c", script}, seconds(60));
  }
  std::vector<std::string> rulesIn_;
};

#define EXPECT_REPORT(result, report)                                          \
  do {                                                                         \
    EXPECT_EQ((report).error, "") << Show((result).lines) << (result).errors; \
  } while (0)

TEST_F(TraceReportWorld, CleanPathBothFamiliesAsRootAndAsANormalUser) {
  for (const bool asUser : {false, true}) {
    for (const bool v6 : {false, true}) {
      SCOPED_TRACE(std::string(asUser ? "normal user" : "root") + (v6 ? ", IPv6" : ", IPv4"));
      std::vector<std::string> args = {"trace", "--report", "-c", "5", "-i", "0.05",
                                       "-W",    "0.5",      "dest.quillon.test"};
      if (v6) args.insert(args.begin() + 2, "-6");
      const RunResult r = Cli(args, asUser);
      EXPECT_EQ(r.status, 0) << r.errors;
      const Report report = Parse(r.lines);
      EXPECT_REPORT(r, report);
      EXPECT_TRUE(HeadingIs(report, "dest.quillon.test", v6 ? "2001:db8:3::2" : "198.18.3.2", 5))
          << report.heading;
      const std::vector<std::string> v4rows = {
          "1 r1.quillon.test (198.18.1.1) 0.0% 5 +", "2 r2.quillon.test (198.18.2.2) 0.0% 5 +",
          "3 dest.quillon.test (198.18.3.2) 0.0% 5 +"};
      const std::vector<std::string> v6rows = {
          "1 r1.quillon.test (2001:db8:1::1) 0.0% 5 +",
          "2 r2.quillon.test (2001:db8:2::2) 0.0% 5 +",
          "3 dest.quillon.test (2001:db8:3::2) 0.0% 5 +"};
      EXPECT_EQ(Summary(report), v6 ? v6rows : v4rows) << Show(r.lines);
      EXPECT_EQ(report.verdict, "no loss to dest.quillon.test");
      // Four cycles 50 ms apart, then the last one's answers: well under the wait.
      EXPECT_LT(r.elapsed.count(), 2000);
    }
  }
  // -n: addresses only; an IPv6 literal as typed.
  const RunResult r = Cli({"trace", "--report", "-n", "-c", "3", "-i", "0.05", "2001:DB8:3::2"});
  EXPECT_EQ(r.status, 0) << r.errors;
  const Report report = Parse(r.lines);
  EXPECT_REPORT(r, report);
  EXPECT_TRUE(HeadingIs(report, "2001:db8:3::2", "2001:db8:3::2", 3)) << report.heading;
  EXPECT_EQ(Summary(report),
            (std::vector<std::string>{"1 2001:db8:1::1 0.0% 3 +", "2 2001:db8:2::2 0.0% 3 +",
                                      "3 2001:db8:3::2 0.0% 3 +"}));
}

// With more hops allowed, the first cycle sends the destination many requests
// at once, and a strict alternation could then fall on the same time-to-live
// every cycle: -m 3 gives the destination exactly one request per cycle.
TEST_F(TraceReportWorld, ADestinationThatDropsEveryOtherRequest) {
  Rules("dst",
        "chain qinput { type filter hook input priority 0; "
        "icmp type echo-request numgen inc mod 2 == 0 drop; }");
  const RunResult r = Cli({"trace", "--report", "-n", "-m", "3", "-c", "10", "-i", "0.05", "-W",
                           "0.5", "dest.quillon.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  const Report report = Parse(r.lines);
  EXPECT_REPORT(r, report);
  EXPECT_EQ(Summary(report),
            (std::vector<std::string>{"1 198.18.1.1 0.0% 10 +", "2 198.18.2.2 0.0% 10 +",
                                      "3 198.18.3.2 50.0% 10 +"}))
      << Show(r.lines);
  EXPECT_EQ(report.verdict, "50.0% loss to dest.quillon.test, from hop 3 (198.18.3.2)");
}

TEST_F(TraceReportWorld, ARouterThatAnswersEveryOtherProbeWhileTheDestinationAnswersAll) {
  Rules("r2",
        "chain qoutput { type filter hook output priority 0; "
        "icmp type time-exceeded numgen inc mod 2 == 0 drop; }");
  const RunResult r =
      Cli({"trace", "--report", "-n", "-c", "10", "-i", "0.05", "-W", "0.5", "dest.quillon.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  const Report report = Parse(r.lines);
  EXPECT_REPORT(r, report);
  EXPECT_EQ(Summary(report),
            (std::vector<std::string>{"1 198.18.1.1 0.0% 10 +", "2 198.18.2.2 50.0% 10 +",
                                      "3 198.18.3.2 0.0% 10 +"}))
      << Show(r.lines);
  EXPECT_EQ(report.verdict,
            "no loss to dest.quillon.test (hop 2 answers only some probes: a reply limit, not "
            "loss on the path)");
}

TEST_F(TraceReportWorld, ASilentHopBothFamilies) {
  Rules("r2",
        "chain qoutput { type filter hook output priority 0; icmp type time-exceeded drop; "
        "icmpv6 type time-exceeded drop; }");
  for (const char* family : {"-4", "-6"}) {
    SCOPED_TRACE(family);
    const RunResult r = Cli({"trace", "--report", family, "-c", "4", "-i", "0.05", "-W", "0.3",
                             "dest.quillon.test"});
    EXPECT_EQ(r.status, 0) << r.errors;
    const Report report = Parse(r.lines);
    EXPECT_REPORT(r, report);
    const bool v6 = std::string(family) == "-6";
    EXPECT_EQ(Summary(report),
              (std::vector<std::string>{
                  std::string("1 r1.quillon.test (") + (v6 ? "2001:db8:1::1" : "198.18.1.1") +
                      ") 0.0% 4 +",
                  "2 ??? 100.0% 4 -",
                  std::string("3 dest.quillon.test (") + (v6 ? "2001:db8:3::2" : "198.18.3.2") +
                      ") 0.0% 4 +"}))
        << Show(r.lines);
    EXPECT_EQ(report.verdict,
              "no loss to dest.quillon.test (hop 2 answers only some probes: a reply limit, not "
              "loss on the path)");
  }
}

// r2 rejects what it would forward to 198.18.11.0/24 (after its own
// time-to-live check: hop 2 still answers time exceeded); over IPv6, r1 has
// no route to 2001:db8:5::/64 and says so for every probe, the first too.
TEST_F(TraceReportWorld, AnUnreachableRouteEndsThePath) {
  In("r1", "ip route add 198.18.11.0/24 via 198.18.2.2");
  Rules("r2",
        "chain qforward { type filter hook forward priority 0; "
        "ip daddr 198.18.11.0/24 reject with icmp type net-unreachable; }");
  RunResult r = Cli({"trace", "--report", "-c", "4", "-i", "0.05", "-W", "0.3", "198.18.11.9"});
  In("r1", "ip route del 198.18.11.0/24 via 198.18.2.2");
  EXPECT_EQ(r.status, 0) << r.errors;
  Report report = Parse(r.lines);
  EXPECT_REPORT(r, report);
  EXPECT_EQ(Summary(report),
            (std::vector<std::string>{"1 r1.quillon.test (198.18.1.1) 0.0% 4 +",
                                      "2 r2.quillon.test (198.18.2.2) 0.0% 4 +",
                                      "3 r2.quillon.test (198.18.2.2) 0.0% 4 +"}))
      << Show(r.lines);
  EXPECT_EQ(report.verdict,
            "198.18.11.9 not reached; hop 3 (198.18.2.2) reports destination network unreachable");

  r = Cli({"trace", "--report", "-n", "-c", "3", "-i", "0.05", "-W", "0.3",
           world_->fact("UNREACHABLE6_ADDR")});
  EXPECT_EQ(r.status, 0) << r.errors;
  report = Parse(r.lines);
  EXPECT_REPORT(r, report);
  EXPECT_EQ(Summary(report), (std::vector<std::string>{"1 2001:db8:1::1 0.0% 3 +"}))
      << Show(r.lines);
  EXPECT_EQ(report.verdict,
            "2001:db8:5::9 not reached; hop 1 (2001:db8:1::1) reports destination network "
            "unreachable");
}

// Silence past r2 (dropped in its forward chain: hops 1 and 2 answer, then
// nothing), and silence from the first hop on (r1's blackhole route).
TEST_F(TraceReportWorld, APathThatEndsInSilence) {
  In("r1", "ip route add 198.18.12.0/24 via 198.18.2.2");
  Rules("r2",
        "chain qforward { type filter hook forward priority 0; ip daddr 198.18.12.0/24 drop; }");
  RunResult r = Cli({"trace", "--report", "-n", "-m", "6", "-c", "3", "-i", "0.05", "-W", "0.3",
                     "198.18.12.9"});
  In("r1", "ip route del 198.18.12.0/24 via 198.18.2.2");
  EXPECT_EQ(r.status, 0) << r.errors;
  Report report = Parse(r.lines);
  EXPECT_REPORT(r, report);
  EXPECT_EQ(Summary(report),
            (std::vector<std::string>{"1 198.18.1.1 0.0% 3 +", "2 198.18.2.2 0.0% 3 +",
                                      "3 ??? 100.0% 3 -"}))
      << Show(r.lines);
  EXPECT_EQ(report.verdict, "198.18.12.9 not reached; last answer from hop 2 (198.18.2.2)");

  r = Cli({"trace", "--report", "-c", "2", "-i", "0.05", "-W", "0.3", "dropped.quillon.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  report = Parse(r.lines);
  EXPECT_REPORT(r, report);
  EXPECT_EQ(Summary(report), (std::vector<std::string>{"1 ??? 100.0% 2 -"}));
  EXPECT_EQ(report.verdict, "dropped.quillon.test not reached; no hop answered");
  // The wait ends the run: 50 ms between the cycles, then 300 ms.
  EXPECT_GE(r.elapsed.count(), 340);
}

TEST_F(TraceReportWorld, AsNumbersFromTheOriginZones) {
  for (const char* family : {"-4", "-6"}) {
    SCOPED_TRACE(family);
    const RunResult r = Cli({"trace", "--report", "--asn", "-n", family, "-c", "3", "-i", "0.05",
                             "dest.quillon.test"});
    EXPECT_EQ(r.status, 0) << r.errors;
    const Report report = Parse(r.lines, true);
    EXPECT_REPORT(r, report);
    const bool v6 = std::string(family) == "-6";
    // r2's record names two AS numbers: the first counts. The destination
    // has no record (NXDOMAIN).
    const std::vector<std::string> expected =
        v6 ? std::vector<std::string>{"1 AS64510 2001:db8:1::1 0.0% 3 +",
                                      "2 AS64511 2001:db8:2::2 0.0% 3 +",
                                      "3 AS??? 2001:db8:3::2 0.0% 3 +"}
           : std::vector<std::string>{"1 AS64500 198.18.1.1 0.0% 3 +",
                                      "2 AS64501 198.18.2.2 0.0% 3 +",
                                      "3 AS??? 198.18.3.2 0.0% 3 +"};
    EXPECT_EQ(Summary(report), expected) << Show(r.lines);
  }
}

TEST_F(TraceReportWorld, JsonOfAReportWithLossAndAsNumbers) {
  Rules("r2",
        "chain qoutput { type filter hook output priority 0; "
        "icmp type time-exceeded numgen inc mod 2 == 0 drop; }");
  const RunResult r = Cli({"trace", "--report", "--json", "--asn", "-c", "4", "-i", "0.05",
                           "-W", "0.3", "dest.quillon.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  ASSERT_EQ(r.lines.size(), 1u) << Show(r.lines);
  EXPECT_EQ(SchemaErrors(r.lines), "");
  const nlohmann::json j = nlohmann::json::parse(r.lines[0]);
  EXPECT_EQ(j["host"], "dest.quillon.test");
  EXPECT_EQ(j["address"], "198.18.3.2");
  EXPECT_EQ(j["cycles"], 4);
  EXPECT_TRUE(std::regex_match(j["started"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
      << j["started"];
  EXPECT_EQ(j["verdict"],
            "no loss to dest.quillon.test (hop 2 answers only some probes: a reply limit, not "
            "loss on the path)");
  ASSERT_EQ(j["hops"].size(), 3u);
  const nlohmann::json& hop2 = j["hops"][1];
  EXPECT_EQ(hop2["hop"], 2);
  EXPECT_EQ(hop2["sent"], 4);
  EXPECT_EQ(hop2["lost"], 2);
  EXPECT_EQ(hop2["loss_pct"], 50.0);
  EXPECT_EQ(hop2["addresses"], nlohmann::json::parse(
                                   R"([{"address":"198.18.2.2","name":"r2.quillon.test","asn":64501}])"));
  const nlohmann::json& hop3 = j["hops"][2];
  EXPECT_EQ(hop3["addresses"][0]["asn"], nullptr);
  for (const char* key : {"last_ms", "avg_ms", "best_ms", "worst_ms", "stdev_ms"}) {
    EXPECT_TRUE(hop3[key].is_number()) << key;
    EXPECT_GE(hop3[key].get<double>(), 0.0) << key;
  }
  EXPECT_LE(hop3["best_ms"].get<double>(), hop3["worst_ms"].get<double>());
}

TEST_F(TraceReportWorld, AListGivesOneReportPerNameAndJsonLines) {
  RunResult r = Sh("printf 'dest.quillon.test\\n198.18.2.2\\nmissing.test\\n' | " + CliPath() +
                   " -j 3 trace --report -n -c 2 -i 0.05 -W 0.3 -");
  EXPECT_EQ(r.status, 1) << "a name that does not resolve: " << r.errors;
  // Blocks in input order: heading, report, empty line.
  std::vector<std::vector<std::string>> blocks;
  for (const std::string& l : r.lines) {
    if (l.rfind("== ", 0) == 0)
      blocks.push_back({l});
    else if (!blocks.empty())
      blocks.back().push_back(l);
  }
  ASSERT_EQ(blocks.size(), 3u) << Show(r.lines);
  EXPECT_EQ(blocks[0][0], "== dest.quillon.test");
  EXPECT_EQ(blocks[0].size(), 1u + 2 + 3 + 1 + 1) << Show(blocks[0]);
  EXPECT_EQ(blocks[0][6], "Verdict: no loss to dest.quillon.test");
  EXPECT_EQ(blocks[1][0], "== 198.18.2.2");
  EXPECT_EQ(blocks[1][5], "Verdict: no loss to 198.18.2.2");
  EXPECT_EQ(blocks[2], (std::vector<std::string>{"== missing.test",
                                                 "Error: Host not found for domain missing.test",
                                                 ""}));

  r = Sh("printf 'dest.quillon.test\\n198.18.2.2\\n' | " + CliPath() +
         " -j 2 trace --report --json -c 2 -i 0.05 -");
  EXPECT_EQ(r.status, 0) << r.errors;
  ASSERT_EQ(r.lines.size(), 2u) << Show(r.lines);
  EXPECT_EQ(SchemaErrors(r.lines), "");
  EXPECT_EQ(nlohmann::json::parse(r.lines[0])["host"], "dest.quillon.test");
  EXPECT_EQ(nlohmann::json::parse(r.lines[1])["hops"].size(), 2u);
}

// Ctrl-C a second in: the report of the cycles done so far, status 130.
TEST_F(TraceReportWorld, CtrlCPrintsTheReportOfTheCyclesDone) {
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    const RunResult r =
        Sh(CliPath() + " trace --report" + (json ? " --json" : "") +
           " -n -c 1000 -i 0.05 dest.quillon.test & sleep 1; t0=$EPOCHREALTIME; kill -INT $!; "
           "wait $!; s=$?; t1=$EPOCHREALTIME; echo \"status=$s ms=$(( (${t1/./} - ${t0/./}) / "
           "1000 ))\"");
    ASSERT_GE(r.lines.size(), 2u) << Show(r.lines) << r.errors;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.lines.back(), m, std::regex(R"(status=(\d+) ms=(\d+))")))
        << r.lines.back();
    EXPECT_EQ(m[1], "130");
    EXPECT_LT(std::stol(m[2]), 500) << "the report comes at once";
    const std::vector<std::string> out(r.lines.begin(), r.lines.end() - 1);
    int cycles = 0;
    if (json) {
      ASSERT_EQ(out.size(), 1u) << Show(out);
      EXPECT_EQ(SchemaErrors(out), "");
      const nlohmann::json j = nlohmann::json::parse(out[0]);
      cycles = j["cycles"];
      EXPECT_EQ(j["hops"].size(), 3u);
      EXPECT_EQ(j["hops"][2]["sent"], cycles);
    } else {
      const Report report = Parse(out);
      EXPECT_REPORT(r, report);
      std::smatch c;
      ASSERT_TRUE(std::regex_search(report.heading, c, std::regex(R"(, (\d+) cycles,)")));
      cycles = std::stoi(c[1]);
      EXPECT_EQ(Summary(report),
                (std::vector<std::string>{
                    "1 198.18.1.1 0.0% " + std::to_string(cycles) + " +",
                    "2 198.18.2.2 0.0% " + std::to_string(cycles) + " +",
                    "3 198.18.3.2 0.0% " + std::to_string(cycles) + " +"}));
      EXPECT_EQ(report.verdict, "no loss to dest.quillon.test");
    }
    // About 20 cycles in a second; each done one counted, none in flight.
    EXPECT_GE(cycles, 8);
    EXPECT_LE(cycles, 21);
  }
}

// Ctrl-C in a list: the runs in flight end at once, each block with the
// report of its cycles done; status 130.
TEST_F(TraceReportWorld, CtrlCInAListPrintsTheReportsInFlight) {
  const RunResult r = Sh(
      "printf 'dest.quillon.test\\n198.18.2.2\\n' | " + CliPath() +
      " -j 2 trace --report -n -c 1000 -i 0.05 - & sleep 1; "
      "kill -INT $(pgrep -P $$ -x quillon-cli); wait $!; echo \"status=$?\"");
  ASSERT_FALSE(r.lines.empty()) << r.errors;
  EXPECT_EQ(r.lines.back(), "status=130") << Show(r.lines) << r.errors;
  std::vector<std::vector<std::string>> blocks;
  for (size_t i = 0; i + 1 < r.lines.size(); ++i) {
    if (r.lines[i].rfind("== ", 0) == 0)
      blocks.push_back({});
    else if (!blocks.empty() && !r.lines[i].empty())
      blocks.back().push_back(r.lines[i]);
  }
  ASSERT_EQ(blocks.size(), 2u) << Show(r.lines);
  const std::vector<std::vector<std::string>> rows = {
      {"1 198.18.1.1", "2 198.18.2.2", "3 198.18.3.2"}, {"1 198.18.1.1", "2 198.18.2.2"}};
  for (size_t b = 0; b < 2; ++b) {
    const Report report = Parse(blocks[b]);
    EXPECT_REPORT(r, report);
    ASSERT_EQ(report.rows.size(), rows[b].size()) << Show(blocks[b]);
    for (size_t i = 0; i < rows[b].size(); ++i)
      EXPECT_EQ(std::to_string(report.rows[i].hop) + " " + report.rows[i].host, rows[b][i]);
    EXPECT_GE(report.rows.back().sent, 8);
    EXPECT_EQ(report.rows.back().loss, "0.0");
  }
}

}  // namespace
}  // namespace quillon::e2e
