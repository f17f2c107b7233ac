// quillon-cli over IPv6 inside the end-to-end world: ping and trace by IPv6
// literal, by an IPv6-only name and with -6 on a dual-stack name, as root and
// as a normal user; an unreachable IPv6 route; a silent IPv6 hop; MX through
// a resolver configuration naming only an IPv6 server; whois to a server
// reachable only over IPv6; -6 on a name without an IPv6 address. Every line
// is compared with what the operation must write.
#include <gtest/gtest.h>

#include "tests/e2e/whois_answer.h"
#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;

class CliIpv6World : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
    if (CliPath().empty()) GTEST_SKIP() << "quillon-cli is not built in this configuration";
    world_ = std::make_unique<World>("qe6c");
    ASSERT_TRUE(world_->ok()) << world_->error();
  }
  RunResult Cli(const std::vector<std::string>& args, seconds limit = seconds(30)) {
    std::vector<std::string> argv = {CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return world_->Exec(argv, limit);
  }
  // As a normal user (no raw sockets: the ICMP datagram socket serves).
  RunResult CliAsUser(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                     CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return world_->Exec(argv, seconds(30));
  }
  // With the IPv6 variants of the hosts file and resolver configuration laid
  // over /etc inside the run's own mount namespace (ip netns exec makes one).
  RunResult CliIpv6Only(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {
        "sh",
        "-c",
        "mount --bind \"$1\" /etc/hosts && mount --bind \"$2\" /etc/resolv.conf && shift 2 && "
        "exec \"$@\"",
        "sh",
        world_->fact("HOSTS6"),
        world_->fact("RESOLV6"),
        CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return world_->Exec(argv, seconds(30));
  }
  std::unique_ptr<World> world_;
};

#define EXPECT_LINES(result, ...)                                                  \
  do {                                                                             \
    const std::string diff_ = MatchLines((result).lines, __VA_ARGS__);             \
    EXPECT_EQ(diff_, "") << Show((result).lines) << "stderr: " << (result).errors; \
  } while (0)

std::vector<std::string> PingLines(const std::string& typed, const std::string& address,
                                   const std::string& name) {
  const std::string reply = "response from host " + address + " in <ms> ms.\t[" + name + "]";
  return {"Ping for " + typed,
          "",
          reply,
          reply,
          reply,
          reply,
          " ",
          "Packages : sent = 4, receipt = 4, lost = 0",
          "Average = <ms> ms"};
}

std::vector<std::string> TraceLines(const std::string& typed, const std::string& address,
                                    const std::string& name) {
  return {"Trace Route for " + typed,
          "",
          "1 :\t2001:db8:1::1\tin <ms> ms\t[r1.quillon.test]",
          "2 :\t2001:db8:2::2\tin <ms> ms\t[r2.quillon.test]",
          "",
          "response from host " + address + " in <ms> ms.\t[" + name + "]"};
}

// By literal (written back in its RFC 5952 form), by an IPv6-only name, and
// with -6 on a name that has both families; root and a normal user alike.
TEST_F(CliIpv6World, PingAndTraceOverIPv6AsRootAndAsANormalUser) {
  const std::string addr = world_->fact("DEST6_ADDR");
  const std::string only6 = world_->fact("DEST6_ONLY_HOST");
  const std::string dual = world_->fact("DEST_HOST");
  ASSERT_EQ(addr, "2001:db8:3::2");
  for (bool asUser : {false, true}) {
    SCOPED_TRACE(asUser ? "normal user" : "root");
    const auto run = [&](const std::vector<std::string>& args) {
      return asUser ? CliAsUser(args) : Cli(args);
    };
    RunResult r = run({"ping", "2001:DB8:3:0:0:0:0:2"});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_LINES(r, PingLines("2001:db8:3:0:0:0:0:2", addr, dual));
    r = run({"ping", only6});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_LINES(r, PingLines(only6, addr, dual));
    r = run({"ping", "-6", dual});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_LINES(r, PingLines(dual, addr, dual));

    r = run({"trace", addr});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_LINES(r, TraceLines(addr, addr, dual));
    r = run({"trace", only6});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_LINES(r, TraceLines(only6, addr, dual));
    r = run({"trace", "-6", dual});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_LINES(r, TraceLines(dual, addr, dual));
  }
  // The dual-stack name without -6 (and with -4) stays on IPv4, as ever.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"ping", dual}, std::vector<std::string>{"ping", "-4", dual}}) {
    const RunResult r = Cli(args);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_LINES(r, PingLines(dual, world_->fact("DEST_ADDR"), dual));
  }
}

// A router without a route: its report, four times, nothing counted; a name
// without an IPv6 address under -6: the failure line; a silent IPv6 hop:
// one "Timed out." and the second time-out ends the trace.
TEST_F(CliIpv6World, UnreachableRouteMissingAddressAndSilentHop) {
  const std::string unreachable = world_->fact("UNREACHABLE6_ADDR");
  RunResult r = Cli({"ping", unreachable});
  EXPECT_EQ(r.status, 0) << r.errors;
  const std::string report = "Host 2001:db8:1::1 reports destination network unreachable.";
  EXPECT_LINES(r, {"Ping for " + unreachable, "", report, report, report, report, " ",
                   "Packages : sent = 4, receipt = 0, lost = 4", "Average = n/a"});

  for (const char* command : {"ping", "trace"}) {
    r = Cli({command, "-6", "nomx.test"});
    EXPECT_EQ(r.status, 1);
    EXPECT_LINES(
        r, {std::string(command) == "ping" ? "Ping for nomx.test" : "Trace Route for nomx.test", "",
            "Error: Host not found for domain nomx.test"});
  }

  const std::string dropped = world_->fact("DROPPED6_ADDR");
  r = Cli({"trace", dropped});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_LINES(r, {"Trace Route for " + dropped, "", "Timed out."});
  EXPECT_GE(r.elapsed.count(), 9500);
  EXPECT_LT(r.elapsed.count(), 14000);
}

// Only an IPv6 DNS server configured: the MX lines are those of IPv4; and
// the whois server of .de reachable only over IPv6 gets the query there.
TEST_F(CliIpv6World, MxThroughAnIPv6ServerAndWhoisToAnIPv6OnlyServer) {
  RunResult r = CliIpv6Only({"mx", "mail.alias.test"});
  EXPECT_EQ(r.status, 0) << r.errors;
  ASSERT_EQ(r.lines.size(), 3u) << Show(r.lines) << r.errors;
  EXPECT_EQ(r.lines[0], "Found DNS entry for mail.alias.test");
  EXPECT_EQ(r.lines[1].rfind("Found #2: mx", 0), 0u) << r.lines[1];
  EXPECT_EQ(r.lines[2].rfind("Found #3: mx", 0), 0u) << r.lines[2];
  r = CliIpv6Only({"mx", "www.missing.test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_LINES(r, {"Error: No MX Found for domain www.missing.test"});

  r = CliIpv6Only({"whois", "www.example.de"});
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.lines, SplitAnyBreak(WhoisAnswer("whois.ripe.net", "example.de"))) << Show(r.lines);
  const auto hits = world_->WhoisHits(1);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].localAddress, "2001:db8:4::16");
  EXPECT_EQ(hits[0].bytes, "example.de\r\n");
}

}  // namespace
}  // namespace quillon::e2e
