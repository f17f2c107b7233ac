// The whois that follows referrals: which servers are asked with which
// query, where the chain ends, the exact output and the exit status. The
// exchanges are scripted in memory; one chain runs over loopback sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/whois/whois_follow.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

// One exchange as the fake network saw it.
struct Asked {
  std::string server;  // host:port
  std::string query;
  bool operator==(const Asked&) const = default;
};

// Runs RunWhoisFollow on scripted servers: `answers` maps host:port to the
// answer; a server without an entry fails as a refused connection would.
// A referral's host is reached at the address `addresses` gives it, else at
// its own name (nothing is looked up).
struct FollowRun {
  std::map<std::string, std::string> answers;
  std::map<std::string, std::string> addresses;
  std::vector<Asked> asked;
  std::string out;
  int status = -1;

  void Run(const std::string& name) {
    TWhoisFollowSettings settings;
    settings.ResolveReferral = [this](const std::string& host) {
      const auto it = addresses.find(host);
      return it == addresses.end() ? host : it->second;
    };
    settings.Query = [this](const std::string& host, int port, const std::string& query) {
      const std::string key = host + ":" + std::to_string(port);
      asked.push_back({key, query});
      const auto it = answers.find(key);
      if (it == answers.end()) throw std::runtime_error("refused");
      return it->second;
    };
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* mem = open_memstream(&buffer, &size);
    ASSERT_NE(mem, nullptr);
    status = RunWhoisFollow(name, mem, settings);
    std::fclose(mem);
    out.assign(buffer, size);
    std::free(buffer);
  }
};

TEST(WhoisFollow, IanaFirstForLabelsOnlyTheLastRowCovers) {
  FollowRun run;
  run.answers = {{"whois.iana.org:43", "refer: whois.denic.test\n\nwhois: whois.denic.test\n"},
                 {"whois.denic.test:43", "Domain: example.de\r\nStatus: connect\r\n"}};
  run.Run("WWW.Example.DE");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.asked, (std::vector<Asked>{{"whois.iana.org:43", "de"},
                                           {"whois.denic.test:43", "example.de"}}));
  EXPECT_EQ(run.out,
            "% whois server: whois.iana.org\n"
            "refer: whois.denic.test\n\nwhois: whois.denic.test\n"
            "\n"
            "% whois server: whois.denic.test\n"
            "Domain: example.de\nStatus: connect\n");
}

TEST(WhoisFollow, TableServerFirstForKnownLabels) {
  // com, fr, biz ...: the table's server, asked for the registered domain.
  const std::pair<const char*, const char*> rows[] = {{"www.example.com", "whois.internic.net"},
                                                      {"a.example.com.fr", "whois.nic.fr"},
                                                      {"example.biz", "whois.nic.biz"},
                                                      {"example.org", "whois.internic.net"}};
  for (const auto& [name, server] : rows) {
    FollowRun run;
    run.answers = {{std::string(server) + ":43", "no referral\r"}};
    run.Run(name);
    EXPECT_EQ(run.status, 0) << name;
    ASSERT_EQ(run.asked.size(), 1u) << name;
    EXPECT_EQ(run.asked[0].server, std::string(server) + ":43");
    EXPECT_EQ(run.out, "% whois server: " + std::string(server) + "\nno referral\n") << name;
  }
}

TEST(WhoisFollow, ThinRegistryToRegistrarWithPortInTheHeading) {
  FollowRun run;
  run.answers = {{"whois.internic.net:43", "   Registrar WHOIS Server: whois.reg.test\r\n"},
                 {"whois.reg.test:43", "ReferralServer: whois://rw.test:4343\n"},
                 {"rw.test:4343", "last"}};  // no final line break
  run.Run("thin.com");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.asked, (std::vector<Asked>{{"whois.internic.net:43", "thin.com"},
                                           {"whois.reg.test:43", "thin.com"},
                                           {"rw.test:4343", "thin.com"}}));
  EXPECT_EQ(run.out,
            "% whois server: whois.internic.net\n   Registrar WHOIS Server: whois.reg.test\n\n"
            "% whois server: whois.reg.test\nReferralServer: whois://rw.test:4343\n\n"
            "% whois server: rw.test:4343\nlast\n");
}

TEST(WhoisFollow, AtMostThreeReferrals) {
  FollowRun run;
  run.answers = {{"whois.internic.net:43", "whois: s1.test\n"},
                 {"s1.test:43", "whois: s2.test\n"},
                 {"s2.test:43", "whois: s3.test\n"},
                 {"s3.test:43", "whois: s4.test\n"},
                 {"s4.test:43", "never asked\n"}};
  run.Run("example.net");
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.asked.size(), 4u);
  EXPECT_EQ(run.asked.back().server, "s3.test:43");
  EXPECT_EQ(run.out.find("s4.test:43\n"), std::string::npos);
}

TEST(WhoisFollow, NoServerIsAskedTwice) {
  // Back to the server just asked, and a loop of two (case and a final dot
  // make no other server).
  FollowRun self;
  self.answers = {{"whois.internic.net:43", "whois: WHOIS.INTERNIC.NET.\n"}};
  self.Run("example.com");
  EXPECT_EQ(self.status, 0);
  EXPECT_EQ(self.asked.size(), 1u);

  FollowRun loop;
  loop.answers = {{"whois.iana.org:43", "whois: a.test\n"},
                  {"a.test:43", "whois: b.test\n"},
                  {"b.test:43", "ReferralServer: whois://a.test:43\n"}};
  loop.Run("x.loop");
  EXPECT_EQ(loop.status, 0);
  EXPECT_EQ(loop.asked,
            (std::vector<Asked>{
                {"whois.iana.org:43", "loop"}, {"a.test:43", "x.loop"}, {"b.test:43", "x.loop"}}));
  // The same host on another port is another server.
  FollowRun port;
  port.answers = {{"whois.internic.net:43", "ReferralServer: whois://whois.internic.net:4343\n"},
                  {"whois.internic.net:4343", "ok\n"}};
  port.Run("example.com");
  EXPECT_EQ(port.asked.size(), 2u);
}

TEST(WhoisFollow, AFailingServerEndsTheChainWithItsHeadingAndErrorWhois) {
  FollowRun run;
  run.answers = {{"whois.iana.org:43", "whois: down.test\n"}};
  run.Run("example.uk");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "% whois server: whois.iana.org\nwhois: down.test\n\n"
            "% whois server: down.test\nError Whois\n");

  FollowRun first;
  first.Run("example.fr");
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(first.out, "% whois server: whois.nic.fr\nError Whois\n");
}

TEST(WhoisFollow, InternationalNamesGoOutAsALabels) {
  FollowRun run;
  run.answers = {{"whois.nic.fr:43", "ok\n"}};
  run.Run("Bücher.fr");
  EXPECT_EQ(run.asked, (std::vector<Asked>{{"whois.nic.fr:43", "xn--bcher-kva.fr"}}));

  FollowRun cyrillic;
  cyrillic.answers = {{"whois.iana.org:43", "whois: whois.tcinet.test\n"},
                      {"whois.tcinet.test:43", "ok\n"}};
  cyrillic.Run("www.пример.рф");
  EXPECT_EQ(cyrillic.asked,
            (std::vector<Asked>{{"whois.iana.org:43", "xn--p1ai"},
                                {"whois.tcinet.test:43", "xn--e1afmkfd.xn--p1ai"}}));

  FollowRun refused;
  refused.Run("a\xE2\x98\x83.com");
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.asked.empty());
  EXPECT_EQ(refused.out, "Error Whois\n");
}

// A referral to the client's own machine or network, written as an address
// (in whatever form the stack reads) or a name that resolves to one, is
// passed over for the next usable one; the exchange goes to the very address
// that was checked, under the heading of the name.
TEST(WhoisFollow, ReferralsToLocalAddressesArePassedOver) {
  FollowRun run;
  run.answers = {{"whois.internic.net:43",
                  "Registrar WHOIS Server: 127.0.0.1\n"
                  "ReferralServer: whois://[fe80::1]:4343\n"
                  "whois: 10.0.0.7\nwhois: [::ffff:192.168.1.1]\nwhois: sneaky.test\n"
                  "refer: 0127.0.0.1\nrefer: public.test\n"},
                 {"198.51.100.9:43", "public answer\n"}};
  run.addresses = {{"sneaky.test", "192.168.0.5"}, {"public.test", "198.51.100.9"}};
  run.Run("example.com");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.asked, (std::vector<Asked>{{"whois.internic.net:43", "example.com"},
                                           {"198.51.100.9:43", "example.com"}}));
  EXPECT_NE(run.out.find("\n\n% whois server: public.test\npublic answer\n"), std::string::npos)
      << run.out;

  // Nothing but local servers, found by the socket stack itself: the chain
  // ends with the answer it has, and the server named is never reached.
  test::TcpServer target([](int fd) { test::SendAll(fd, "must not be asked\r\n"); });
  const std::string port = std::to_string(target.port());
  test::TcpServer first([&](int fd) {
    test::RecvLine(fd);
    test::SendAll(
        fd, "whois: localhost\r\nrefer: 169.254.0.1\r\nReferralServer: whois://0127.0.0.1:" + port +
                "\r\nReferralServer: whois://[::1]:" + port + "\r\n");
  });
  TWhoisFollowSettings settings;
  settings.WhoisServerOf = [](std::string_view) { return std::string("127.0.0.1"); };
  settings.Port = first.port();
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&buffer, &size);
  ASSERT_NE(mem, nullptr);
  EXPECT_EQ(RunWhoisFollow("example.com", mem, settings), 0);
  std::fclose(mem);
  const std::string out(buffer, size);
  std::free(buffer);
  EXPECT_EQ(out.find("\n\n% whois server:"), std::string::npos) << out;
  EXPECT_EQ(target.accepted(), 0);

  // An IPv6 server with a port: its heading brackets the address.
  FollowRun v6;
  v6.answers = {{"whois.internic.net:43", "ReferralServer: whois://[2001:DB8::1]:4343\n"},
                {"2001:db8::1:4343", "v6 answer\n"}};
  v6.Run("example.com");
  EXPECT_EQ(v6.status, 0);
  EXPECT_NE(v6.out.find("% whois server: [2001:db8::1]:4343\nv6 answer\n"), std::string::npos)
      << v6.out;
}

// Addresses are asked as they are (zone removed), of whois.iana.org first
// and then of the servers it names; a name with one final dot is the name
// without it.
TEST(WhoisFollow, AddressesAndFinalDotsOnTheWire) {
  const struct {
    const char* name;
    std::vector<Asked> asked;
  } rows[] = {
      {"192.0.2.1", {{"whois.iana.org:43", "192.0.2.1"}, {"whois.rir.test:43", "192.0.2.1"}}},
      {"2001:DB8:0::1%eth0",
       {{"whois.iana.org:43", "2001:db8::1"}, {"whois.rir.test:43", "2001:db8::1"}}},
      {"example.com.", {{"whois.internic.net:43", "example.com"}}},
      {"www.Example.DE.", {{"whois.iana.org:43", "de"}, {"whois.rir.test:43", "example.de"}}},
  };
  for (const auto& row : rows) {
    FollowRun run;
    run.answers = {{"whois.iana.org:43", "refer: whois.rir.test\n"},
                   {"whois.rir.test:43", "ok\n"},
                   {"whois.internic.net:43", "ok\n"}};
    run.Run(row.name);
    EXPECT_EQ(run.status, 0) << row.name;
    EXPECT_EQ(run.asked, row.asked) << row.name;
  }
}

// Each exchange is bounded in time: a server trickling its answer gets
// "Error Whois" under its heading once the limit is reached, as a server
// that stops in the middle of its answer does.
TEST(WhoisFollow, AnExchangeEndsAtItsTimeLimit) {
  std::atomic<bool> done{false};
  test::TcpServer trickling([&](int fd) {
    test::RecvLine(fd);
    for (int i = 0; i < 100 && !done.load(); ++i) {  // a byte every 100 ms, 10 s at most
      if (!test::SendAll(fd, "x")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  test::TcpServer stopping([](int fd) {
    test::RecvLine(fd);
    test::SendAll(fd, "Domain Name: EXAMPLE.COM\r\nRegis");
    test::RecvUntilClose(fd, 3000);
  });
  for (const int port : {trickling.port(), stopping.port()}) {
    TWhoisFollowSettings settings;
    settings.WhoisServerOf = [](std::string_view) { return std::string("127.0.0.1"); };
    settings.Port = port;
    settings.TimeLimit = std::chrono::milliseconds(500);
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* mem = open_memstream(&buffer, &size);
    ASSERT_NE(mem, nullptr);
    const auto start = std::chrono::steady_clock::now();
    const int status = RunWhoisFollow("example.com", mem, settings);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::fclose(mem);
    const std::string out(buffer, size);
    std::free(buffer);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "% whois server: 127.0.0.1:" + std::to_string(port) + "\nError Whois\n");
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
  }
  done = true;
}

// The real client over loopback: two servers, the first referring to the
// second by address and port; each gets the domain and CR LF.
TEST(WhoisFollow, OverSockets) {
  std::string secondQuery;
  test::TcpServer second([&](int fd) {
    secondQuery = test::RecvLine(fd);
    test::SendAll(fd, "registrar answer\r\n");
  });
  std::string firstQuery;
  test::TcpServer first([&](int fd) {
    firstQuery = test::RecvLine(fd);
    test::SendAll(fd,
                  "ReferralServer: whois://127.0.0.1:" + std::to_string(second.port()) + "\r\n");
  });
  TWhoisFollowSettings settings;
  settings.WhoisServerOf = [](std::string_view) { return std::string("127.0.0.1"); };
  settings.Port = first.port();
  settings.RefusedAddress = nullptr;  // the test's servers are on loopback
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&buffer, &size);
  ASSERT_NE(mem, nullptr);
  const int status = RunWhoisFollow("www.example.com", mem, settings);
  std::fclose(mem);
  const std::string out(buffer, size);
  std::free(buffer);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(firstQuery, "example.com\r\n");
  EXPECT_EQ(secondQuery, "example.com\r\n");
  const std::string p1 = std::to_string(first.port());
  const std::string p2 = std::to_string(second.port());
  EXPECT_EQ(out, "% whois server: 127.0.0.1:" + p1 + "\nReferralServer: whois://127.0.0.1:" + p2 +
                     "\n\n% whois server: 127.0.0.1:" + p2 + "\nregistrar answer\n");
}

// Ctrl-C during a list: a server that never answers is left within a wait
// slice, and nothing follows the heading already written.
TEST(WhoisFollow, InterruptedExchangeEndsSoonAndWritesNothingMore) {
  test::TcpServer silent([](int fd) {
    test::RecvLine(fd);
    test::RecvUntilClose(fd, 5000);
  });
  std::atomic<bool> interrupted{false};
  TWhoisFollowSettings settings;
  settings.WhoisServerOf = [](std::string_view) { return std::string("127.0.0.1"); };
  settings.Port = silent.port();
  settings.ReadTimeoutMs = 10000;
  settings.Interrupted = &interrupted;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    interrupted.store(true);
  });
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&buffer, &size);
  ASSERT_NE(mem, nullptr);
  const auto start = std::chrono::steady_clock::now();
  const int status = RunWhoisFollow("example.com", mem, settings);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  stopper.join();
  std::fclose(mem);
  const std::string out(buffer, size);
  std::free(buffer);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "% whois server: 127.0.0.1:" + std::to_string(silent.port()) + "\n");
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace quillon
