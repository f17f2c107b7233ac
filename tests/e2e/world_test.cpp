// The end-to-end world itself, checked with the system's own tools before
// any program of ours is judged in it: names, zone, reverse names, the
// public-address page, the whois log, the routers and the silent drops; and
// that nothing of it is left behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/whois_answer.h"
#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;

TEST(E2eWorld, ServesWhatTheTestsExpect) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
  std::string name;
  {
    World world("qe2t");
    ASSERT_TRUE(world.ok()) << world.error();
    name = world.name();
    ASSERT_TRUE(std::filesystem::exists("/etc/netns/" + name + "/hosts"));

    // Host names of the whois servers and of the public-address service.
    RunResult r = world.Exec({"getent", "hosts", "whois.nic.fr"}, seconds(10));
    EXPECT_EQ(r.lines, std::vector<std::string>{"198.18.4.11     whois.nic.fr"});
    r = world.Exec({"getent", "hosts", PublicHost()}, seconds(10));
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].substr(0, 11), world.fact("WEB_ADDR"));

    // The zone, through the configured resolver: CNAME then two MX; no MX;
    // no such name; reverse names.
    r = world.Exec({"dig", "+short", "+time=2", "alias.test", "MX"}, seconds(10));
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], "mailhost.quillon.test.");
    r = world.Exec({"dig", "+short", "+time=2", "nomx.test", "MX"}, seconds(10));
    EXPECT_TRUE(r.lines.empty());
    r = world.Exec({"dig", "+time=2", "missing.test", "MX"}, seconds(10));
    EXPECT_NE(std::string(Show(r.lines)).find("NXDOMAIN"), std::string::npos);
    r = world.Exec({"getent", "hosts", "198.18.2.2"}, seconds(10));
    EXPECT_EQ(r.lines, std::vector<std::string>{"198.18.2.2      r2.quillon.test"});

    // The public-address page answers the caller's address as text/plain.
    r = world.Exec(
        {"curl", "-s", "-i", "--max-time", "3", "http://" + PublicHost() + "/misc/ip.php"},
        seconds(10));
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), world.fact("CLIENT_ADDR"));
    EXPECT_NE(Show(r.lines).find("Content-Type: text/plain"), std::string::npos) << Show(r.lines);

    // A whois server: the known answer, and the exact bytes logged.
    r = world.Exec(
        {"bash", "-c", "exec 3<>/dev/tcp/whois.nic.name/43; printf 'abc.name\\r\\n' >&3; cat <&3"},
        seconds(10));
    std::string raw;
    for (const auto& l : r.lines) raw += l + "\n";
    EXPECT_EQ(raw, WhoisAnswer("whois.nic.name", "abc.name"));
    const auto hits = world.WhoisHits(1);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].localAddress, "198.18.4.14");
    EXPECT_EQ(hits[0].bytes, "abc.name\r\n");

    // Two routers on the way to the destination, each answering at once.
    r = world.Exec({"traceroute", "-n", "-I", "-q", "1", "-w", "2", world.fact("DEST_ADDR")},
                   seconds(20));
    ASSERT_EQ(r.lines.size(), 4u) << Show(r.lines);
    EXPECT_NE(r.lines[1].find("198.18.1.1"), std::string::npos);
    EXPECT_NE(r.lines[2].find("198.18.2.2"), std::string::npos);
    EXPECT_NE(r.lines[3].find("198.18.3.2"), std::string::npos);

    // The dropped address answers nothing, not even an ICMP error.
    r = world.Exec({"ping", "-n", "-c", "2", "-i", "0.2", "-W", "1", world.fact("DROPPED_ADDR")},
                   seconds(10));
    EXPECT_EQ(r.status, 1) << Show(r.lines);
    EXPECT_NE(Show(r.lines).find("2 packets transmitted, 0 received, 100% packet loss"),
              std::string::npos)
        << Show(r.lines);
  }
  // Gone without a trace.
  EXPECT_FALSE(std::filesystem::exists("/etc/netns/" + name));
  EXPECT_FALSE(std::filesystem::exists("/run/netns/" + name));
  EXPECT_FALSE(std::filesystem::exists("/run/netns/" + name + "-svc"));
  EXPECT_FALSE(std::filesystem::exists("/run/quillon-e2e/" + name));
}

}  // namespace
}  // namespace quillon::e2e
