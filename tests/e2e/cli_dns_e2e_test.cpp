// quillon-cli dns inside the end-to-end world, against its nsd: answers of
// several types (a TXT set that needs TCP, a CNAME chain) line for line as
// dig prints them there; -x for both families; nsd's IPv6 address as the
// server; a server given by name and one that cannot be found; NXDOMAIN and
// no data; a server that never answers; a list with NAME TYPE lines, as text
// and as JSON Lines.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/e2e/shared_world.h"
#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;

class CliDnsWorld : public SharedWorld<CliDnsWorld> {
 public:
  static constexpr const char* kWorldPrefix = "qe2d";

 protected:
  RunResult Cli(std::vector<std::string> args, seconds limit = seconds(30)) {
    args.insert(args.begin(), CliPath());
    return world_->Exec(args, limit);
  }
  RunResult Dig(std::vector<std::string> args) {
    args.insert(args.begin(), {"dig", "+noall", "+answer", "+time=3", "+tries=1"});
    return world_->Exec(args, seconds(30));
  }
  // quillon-cli dns and dig with the same arguments print the same lines.
  void ExpectAsDig(const std::vector<std::string>& args, size_t lines) {
    std::vector<std::string> ours = {"dns"};
    ours.insert(ours.end(), args.begin(), args.end());
    const RunResult q = Cli(ours);
    const RunResult d = Dig(args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_EQ(q.status, 0) << shown << q.errors;
    EXPECT_EQ(q.lines, d.lines) << shown;
    EXPECT_EQ(q.lines.size(), lines) << shown;
  }
};

TEST_F(CliDnsWorld, AnswersAsDigPrintsThem) {
  ExpectAsDig({"txt.rr.test", "TXT"}, 1);
  ExpectAsDig({"caa.rr.test", "CAA"}, 1);
  ExpectAsDig({"srv.rr.test", "SRV"}, 1);
  ExpectAsDig({"https.rr.test", "HTTPS"}, 1);
  ExpectAsDig({"aaaa.rr.test", "AAAA"}, 2);
  ExpectAsDig({"chain.rr.test", "A"}, 3);
  ExpectAsDig({"alias.test", "MX"}, 3);
  ExpectAsDig({"big.rr.test", "TXT"}, 24);  // truncated over UDP, whole over TCP
  ExpectAsDig({"test", "SOA"}, 1);
  ExpectAsDig({"-x", "198.18.2.2"}, 1);
  ExpectAsDig({"-x", "2001:db8:3::2"}, 1);
  // nsd's IPv6 address as the server.
  ExpectAsDig({"@" + world_->fact("DNS6_ADDR"), "dest6.quillon.test", "AAAA"}, 1);
  ExpectAsDig({"@ns.quillon.test", "nomx.test"}, 1);
}

TEST_F(CliDnsWorld, MissingRecordsAndFailures) {
  RunResult r = Cli({"dns", "missing.test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"No A record for missing.test (NXDOMAIN)"}));
  r = Cli({"dns", "--short", "nomx.test", "mx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"No MX record for nomx.test (NOERROR)"}));
  r = Cli({"dns", "--short", "dangling.rr.test"});
  EXPECT_EQ(r.lines, (std::vector<std::string>{"nowhere.rr.test.",
                                               "No A record for dangling.rr.test (NXDOMAIN)"}));
  r = Cli({"dns", "@nowhere.test", "nomx.test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Error DNS: cannot find the server nowhere.test"}));
  // The world drops every question for silent.test before it reaches nsd:
  // two tries of 2.5 s, then the failure line.
  r = Cli({"dns", "--json", "silent.test", "TXT"});
  EXPECT_EQ(r.status, 1);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(r.lines[0]),
            nlohmann::json({{"name", "silent.test"},
                            {"type", "TXT"},
                            {"error", "no answer from " + world_->fact("DNS_ADDR")}}));
  EXPECT_GE(r.elapsed, std::chrono::milliseconds(4900));
  EXPECT_LT(r.elapsed, std::chrono::milliseconds(8000));
}

TEST_F(CliDnsWorld, ListsOfNamesAndTypes) {
  const std::string input = "txt.rr.test  TXT\\nMissing.Test\\n# a comment\\nnomx.test mx\\n";
  RunResult r = world_->Exec(
      {"sh", "-c", "printf '" + input + "' | \"$0\" -j 2 dns -t AAAA -", CliPath()}, seconds(30));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.lines, (std::vector<std::string>{
                         "== txt.rr.test TXT",
                         "txt.rr.test.\t\t60\tIN\tTXT\t\"v=spf1 -all\" \"hello \\\"world\\\"\"",
                         "",
                         "== missing.test",
                         "No AAAA record for missing.test (NXDOMAIN)",
                         "",
                         "== nomx.test mx",
                         "No MX record for nomx.test (NOERROR)",
                         "",
                     }));
  r = world_->Exec({"sh", "-c", "printf '" + input + "' | \"$0\" dns --json -", CliPath()},
                   seconds(30));
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(nlohmann::json::parse(r.lines[0])["answer"][0]["data"],
            "\"v=spf1 -all\" \"hello \\\"world\\\"\"");
  EXPECT_EQ(nlohmann::json::parse(r.lines[1])["status"], "NXDOMAIN");
  EXPECT_EQ(nlohmann::json::parse(r.lines[2])["type"], "MX");
}

}  // namespace
}  // namespace quillon::e2e
