// The five lookup operations and the reply report, driven through the view
// interface against servers of the test's own on loopback (or inside a
// network namespace the test creates): the lines written, the failure lines,
// the local information captions, and interruption.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/lookup/lookup_operations.h"
#include "net/socket/platform.h"
#include "tests/app/support/fake_servers.h"
#include "tests/app/support/recording_view.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class Operations : public ::testing::Test {
 protected:
  void SetUp() override {
    ops.WhoisServerOf = [this](std::string_view label) {
      chosenServer = WhoisServerFor(label);
      return std::string("127.0.0.1");
    };
    ops.HostNameOf = [](const std::string& address) { return "name-of-" + address; };
  }
  void TearDown() override {
    platform::FaultInjector::Reset();
    if (!resolvConf.empty()) std::filesystem::remove(resolvConf);
  }
  void UseDnsServer(int port) {
    resolvConf =
        (std::filesystem::temp_directory_path() / test::UniqueName("quillon-resolv")).string();
    std::ofstream(resolvConf) << "# test\nnameserver 127.0.0.1\n";
    ops.ResolvConfPath = resolvConf;
    ops.DnsPort = port;
  }

  test::RecordingView view;
  TLookupOperations ops{view};
  std::string chosenServer;
  std::string resolvConf;
};

TEST_F(Operations, WhoisReplacesTheTextWithTheAnswerLineByLine) {
  std::string query;
  test::TcpServer server([&](int fd) {
    query = test::RecvLine(fd);
    test::SendAll(fd, "Domain: example.com\r\nRegistrar: One\rStatus: ok\n\r\n%% end");
  });
  ops.WhoisPort = server.port();
  ops.RunOperation(opWhois, "www.example.com");
  EXPECT_EQ(query, "example.com\r\n");
  EXPECT_EQ(chosenServer, "whois.internic.net");
  EXPECT_EQ(view.Lines(),
            (Lines{"Domain: example.com", "Registrar: One", "Status: ok", "", "%% end"}));
  EXPECT_EQ(view.Changes().front().what, "clear");
  EXPECT_FALSE(ops.LastOperationFailed());
  EXPECT_FALSE(ops.IdWhois1.IsConnected());
}

TEST_F(Operations, WhoisQueryIsTheTrimmedRegisteredDomain) {
  std::string query;
  test::TcpServer server([&](int fd) {
    query = test::RecvLine(fd);
    test::SendAll(fd, "ok\n");
  });
  ops.WhoisPort = server.port();
  ops.RunOperation(opWhois, "mail.shop.example.com.fr");
  EXPECT_EQ(query, "example.com.fr\r\n");
  EXPECT_EQ(chosenServer, "whois.nic.fr");
  // Blanks are cut after the reduction, and from the top-level label.
  ops.RunOperation(opWhois, " example.org\t");
  EXPECT_EQ(query, "example.org\r\n");
  EXPECT_EQ(chosenServer, "whois.internic.net");
  ops.RunOperation(opWhois, "localhost");
  EXPECT_EQ(query, "localhost.\r\n");
  EXPECT_EQ(chosenServer, "whois.ripe.net");
}

TEST_F(Operations, WhoisFailureWritesOnlyTheErrorLine) {
  const int closedPort = test::FreePort();
  ops.WhoisPort = closedPort;
  view.AppendLine("old text");
  ops.RunOperation(opWhois, "example.org");
  EXPECT_EQ(view.Lines(), (Lines{"Error Whois"}));
  EXPECT_TRUE(ops.LastOperationFailed());
  EXPECT_FALSE(ops.IdWhois1.IsConnected());

  // The next whois works again on the same component.
  test::TcpServer server([](int fd) {
    test::RecvLine(fd);
    test::SendAll(fd, "fine\r\n");
  });
  ops.WhoisPort = server.port();
  ops.RunOperation(opWhois, "example.org");
  EXPECT_EQ(view.Lines(), (Lines{"fine"}));
}

TEST_F(Operations, WhoisServerSilentForFiveSecondsIsAnError) {
  test::TcpServer server([](int fd) {
    test::RecvLine(fd);
    test::SendAll(fd, "partial answer\r\n");
    test::RecvUntilClose(fd, 8000);
  });
  ops.WhoisPort = server.port();
  const auto start = Clock::now();
  ops.RunOperation(opWhois, "example.net");
  EXPECT_GE(MsSince(start), 4900L);
  EXPECT_LT(MsSince(start), 7000L);
  EXPECT_EQ(view.Lines(), (Lines{"Error Whois"}));
}

TEST_F(Operations, MxListsExchangersByPositionInTheWholeAnswer) {
  test::FakeDnsServer dns([](const std::string& q) {
    return test::DnsReply(q, 0,
                          {test::DnsRecord(5, test::DnsName("alias.example.com")),
                           test::DnsRecord(15, test::Be16(10) + test::DnsName("mx1.example.com")),
                           test::DnsRecord(15, test::Be16(20) + test::DnsName("mx2.example.com"))});
  });
  UseDnsServer(dns.port());
  ops.RunOperation(opDnsMx, "www.example.com");
  EXPECT_EQ(view.Lines(), (Lines{"Found DNS entry for www.example.com", "Found #2: mx1.example.com",
                                 "Found #3: mx2.example.com"}));
  EXPECT_FALSE(ops.LastOperationFailed());
}

TEST_F(Operations, MxWithoutMxRecordsAndMxFailure) {
  std::atomic<int> rcode{0};  // read by the server thread
  test::FakeDnsServer dns([&](const std::string& q) {
    return test::DnsReply(q, rcode.load(),
                          {test::DnsRecord(1, std::string("\xC0\x00\x02\x01", 4))});
  });
  UseDnsServer(dns.port());
  ops.RunOperation(opDnsMx, "example.com");
  EXPECT_EQ(view.Lines(), (Lines{"Found DNS entry for example.com", "but no MX entry !"}));
  EXPECT_FALSE(ops.LastOperationFailed());

  rcode = 3;  // name error
  ops.RunOperation(opDnsMx, "nowhere.example");
  EXPECT_EQ(view.Lines(), (Lines{"Error: No MX Found for domain nowhere.example"}));
  EXPECT_TRUE(ops.LastOperationFailed());
}

TEST_F(Operations, MxWithoutAConfiguredServerFails) {
  ops.ResolvConfPath = "/nonexistent/quillon/resolv.conf";
  ops.RunOperation(opDnsMx, "example.com");
  EXPECT_EQ(view.Lines(), (Lines{"Error: No MX Found for domain example.com"}));
}

// Internationalised names: the server choice, the registered domain and the
// bytes on the wire use the A-labels; what is shown keeps the typed text.
TEST_F(Operations, WhoisOfInternationalNamesSendsALabels) {
  struct Row {
    std::string typed, server, query;
  };
  const Row rows[] = {
      {"bücher.fr", "whois.nic.fr", "xn--bcher-kva.fr"},
      {"mail.Bücher.COM.fr", "whois.nic.fr", "xn--bcher-kva.com.fr"},
      {"www.пример.рф", "whois.ripe.net", "xn--e1afmkfd.xn--p1ai"},
      {"例え.jp", "whois.ripe.net", "xn--r8jz45g.jp"},
      {"中文.com", "whois.internic.net", "xn--fiq228c.com"},
  };
  std::string query;
  test::TcpServer server([&](int fd) {
    query = test::RecvLine(fd);
    test::SendAll(fd, "answer\r\n");
  });
  ops.WhoisPort = server.port();
  for (const Row& row : rows) {
    ops.RunOperation(opWhois, row.typed);
    EXPECT_EQ(query, row.query + "\r\n") << row.typed;
    EXPECT_EQ(chosenServer, row.server) << row.typed;
    EXPECT_EQ(view.Lines(), (Lines{"answer"})) << row.typed;
  }
}

// A name with one final dot is the name without it, for whois and MX (the
// lines keep what was typed); an address literal goes out as the address,
// zone removed, to the server of names without one of their own.
TEST_F(Operations, FinalDotsAndAddressLiteralsOnTheWire) {
  const struct {
    const char* typed;
    const char* query;
    const char* server;
  } rows[] = {
      {"example.com.", "example.com", "whois.internic.net"},
      {"www.example.fr. ", "example.fr", "whois.nic.fr"},
      {"mail.example.com.fr.", "example.com.fr", "whois.nic.fr"},
      {"bücher.de.", "xn--bcher-kva.de", "whois.ripe.net"},
      {"localhost.", "localhost.", "whois.ripe.net"},
      {"192.0.2.1", "192.0.2.1", "whois.ripe.net"},
      {" 198.51.100.7 ", "198.51.100.7", "whois.ripe.net"},
      {"2001:db8::1", "2001:db8::1", "whois.ripe.net"},
      {"2001:db8:0:0::1", "2001:db8::1", "whois.ripe.net"},
      {"fe80::1%eth0", "fe80::1", "whois.ripe.net"},
  };
  std::string query;
  test::TcpServer server([&](int fd) {
    query = test::RecvLine(fd);
    test::SendAll(fd, "answer\r\n");
  });
  ops.WhoisPort = server.port();
  for (const auto& row : rows) {
    ops.RunOperation(opWhois, row.typed);
    EXPECT_EQ(query, std::string(row.query) + "\r\n") << row.typed;
    EXPECT_EQ(chosenServer, row.server) << row.typed;
    EXPECT_EQ(view.Lines(), (Lines{"answer"})) << row.typed;
  }

  std::mutex mutex;  // the server thread writes the question
  std::string seen;
  test::FakeDnsServer dns([&](const std::string& q) {
    const std::lock_guard lock(mutex);
    seen = q;
    return test::DnsReply(q, 0, {test::DnsRecord(15, test::Be16(10) + test::DnsName("mx.test"))});
  });
  UseDnsServer(dns.port());
  ops.RunOperation(opDnsMx, "example.org.");
  EXPECT_EQ(view.Lines(), (Lines{"Found DNS entry for example.org.", "Found #1: mx.test"}));
  const std::lock_guard lock(mutex);
  ASSERT_GT(seen.size(), 12u);
  EXPECT_EQ(seen.substr(12, seen.size() - 12 - 4), test::DnsName("example.org"));
}

// The whole whois exchange is bounded in time: a server that trickles its
// answer, or stops in the middle of it, gives "Error Whois" once the limit
// is reached, never a part of the answer.
TEST_F(Operations, WhoisExchangeEndsAtItsTimeLimit) {
  ops.WhoisTimeLimit = 500ms;
  std::atomic<bool> done{false};
  test::TcpServer trickling([&](int fd) {
    test::RecvLine(fd);
    for (int i = 0; i < 100 && !done.load(); ++i) {  // a byte every 100 ms, 10 s at most
      if (!test::SendAll(fd, "x")) break;
      std::this_thread::sleep_for(100ms);
    }
  });
  ops.WhoisPort = trickling.port();
  auto start = Clock::now();
  ops.RunOperation(opWhois, "example.com");
  EXPECT_GE(MsSince(start), 450L);
  EXPECT_LT(MsSince(start), 1500L);
  EXPECT_EQ(view.Lines(), (Lines{"Error Whois"}));
  EXPECT_TRUE(ops.LastOperationFailed());
  done = true;

  test::TcpServer stopping([](int fd) {
    test::RecvLine(fd);
    test::SendAll(fd, "Domain Name: EXAMPLE.COM\r\nRegis");
    test::RecvUntilClose(fd, 3000);
  });
  ops.WhoisPort = stopping.port();
  start = Clock::now();
  ops.RunOperation(opWhois, "example.com");
  EXPECT_LT(MsSince(start), 1500L);
  EXPECT_EQ(view.Lines(), (Lines{"Error Whois"}));
}

TEST_F(Operations, RefusedNamesGetTheFailureLineAndNothingIsSent) {
  const std::string refused = "a\xE2\x98\x83.fr";  // a snowman is no letter of a name
  test::TcpServer whois([](int fd) { test::SendAll(fd, "answer\r\n"); });
  ops.WhoisPort = whois.port();
  ops.RunOperation(opWhois, refused);
  EXPECT_EQ(view.Lines(), (Lines{"Error Whois"}));
  EXPECT_TRUE(ops.LastOperationFailed());
  EXPECT_EQ(whois.accepted(), 0);

  test::FakeDnsServer dns([](const std::string& q) { return test::DnsReply(q, 0, {}); });
  UseDnsServer(dns.port());
  ops.RunOperation(opDnsMx, "bü cher.test");
  EXPECT_EQ(view.Lines(), (Lines{"Error: No MX Found for domain bü cher.test"}));
  EXPECT_TRUE(ops.LastOperationFailed());
  EXPECT_EQ(dns.queries(), 0);
}

TEST_F(Operations, MxQuestionCarriesTheALabelAndTheLinesTheTypedName) {
  std::mutex mutex;  // the server thread writes the question
  std::string seen;
  test::FakeDnsServer dns([&](const std::string& q) {
    const std::lock_guard lock(mutex);
    seen = q;
    return test::DnsReply(q, 0, {test::DnsRecord(15, test::Be16(10) + test::DnsName("mx.test"))});
  });
  UseDnsServer(dns.port());
  ops.RunOperation(opDnsMx, "www.Bücher.test");
  EXPECT_EQ(view.Lines(), (Lines{"Found DNS entry for www.Bücher.test", "Found #1: mx.test"}));
  std::string question;
  {
    const std::lock_guard lock(mutex);
    question = seen;
  }
  ASSERT_GT(question.size(), 12u);
  EXPECT_EQ(question.substr(12, question.size() - 12 - 4), test::DnsName("xn--bcher-kva.test"));
}

TEST_F(Operations, PingOfARefusedName) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for an ICMP socket";
  ops.RunOperation(opPing, "bü/cher.test");
  EXPECT_EQ(view.Lines(),
            (Lines{"Ping for bü/cher.test", "", "Error: Host not found for domain bü/cher.test"}));
  EXPECT_TRUE(ops.LastOperationFailed());
  ops.RunOperation(opTraceRoute, "a\xE2\x98\x83.test");
  EXPECT_EQ(view.Lines(), (Lines{"Trace Route for a\xE2\x98\x83.test", "",
                                 "Error: Host not found for domain a\xE2\x98\x83.test"}));
}

TEST_F(Operations, PingOfLoopbackReportsFourRepliesAndTheSummary) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for an ICMP socket";
  ops.RunOperation(opPing, "127.0.0.1");
  const Lines lines = view.Lines();
  ASSERT_EQ(lines.size(), 9u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "Ping for 127.0.0.1");
  EXPECT_EQ(lines[1], "");
  for (int i = 2; i < 6; ++i) {
    EXPECT_EQ(lines[i].rfind("response from host 127.0.0.1 in ", 0), 0u) << lines[i];
    EXPECT_NE(lines[i].find(" ms.\t[name-of-127.0.0.1]"), std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines[6], " ");
  EXPECT_EQ(lines[7], "Packages : sent = 4, receipt = 4, lost = 0");
  EXPECT_EQ(lines[8], "Average = " + std::to_string(ops.ReplyTimeTotal / 4) + " ms");
  EXPECT_EQ(ops.ReplyCount, 4u);
  EXPECT_EQ(ops.LastReplyAddress, "");
}

TEST_F(Operations, PingOfANameThatDoesNotResolve) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for an ICMP socket";
  platform::FaultInjector::FailNth(platform::Call::ResolveName, 1, 0);
  ops.RunOperation(opPing, "no-such-host");
  EXPECT_EQ(view.Lines(),
            (Lines{"Ping for no-such-host", "", "Error: Host not found for domain no-such-host"}));
  EXPECT_TRUE(ops.LastOperationFailed());
}

TEST_F(Operations, IcmpWithoutPermissionWritesThePermissionLine) {
  std::ifstream range("/proc/sys/net/ipv4/ping_group_range");
  long low = 0, high = 0;
  range >> low >> high;
  if (low <= high) GTEST_SKIP() << "datagram ICMP sockets are allowed here";
  platform::FaultInjector::FailNth(platform::Call::Socket, 1, EPERM);  // the raw socket
  ops.RunOperation(opPing, "127.0.0.1");
  EXPECT_EQ(view.Lines(), (Lines{"Error: not allowed to send ICMP echo requests"}));
  EXPECT_TRUE(ops.LastOperationFailed());
  platform::FaultInjector::FailNth(platform::Call::Socket, 1, EPERM);
  ops.RunOperation(opTraceRoute, "127.0.0.1");
  EXPECT_EQ(view.Lines(), (Lines{"Error: not allowed to send ICMP echo requests"}));
}

// Only a refusal of the ICMP socket says the rights are missing; any other
// failure to open it (out of descriptors, of buffers) is named as it is.
TEST_F(Operations, IcmpSocketFailuresSayWhatFailed) {
  const struct {
    int error;
    const char* line;
  } cases[] = {
      {EPERM, "Error: not allowed to send ICMP echo requests"},
      {EACCES, "Error: not allowed to send ICMP echo requests"},
      {EMFILE, "Error: cannot open an ICMP socket: too many open files"},
      {ENOBUFS, "Error: cannot open an ICMP socket: no buffer space available"},
      {EAFNOSUPPORT, "Error: cannot open an ICMP socket: address family not supported by protocol"},
  };
  // A raw socket only: no datagram socket is tried after the failure.
  ops.IdIcmpClient.SocketKind = TIdRawSocketKind::Raw;
  for (const auto& c : cases) {
    for (const int code : {opPing, opTraceRoute}) {
      SCOPED_TRACE(std::string(c.line) + (code == opPing ? " (ping)" : " (trace)"));
      platform::FaultInjector::FailNth(platform::Call::Socket, 1, c.error);
      ops.RunOperation(code, "127.0.0.1");
      EXPECT_EQ(view.Lines(), (Lines{c.line}));
      EXPECT_TRUE(ops.LastOperationFailed());
    }
  }
}

// The resolver's socket is opened by the first MX lookup, not with the
// components: whois, ping and trace hold no descriptor for it.
TEST(OperationsSockets, TheResolverSocketIsOpenedOnlyWhenDnsIsAsked) {
  const auto descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  test::FakeDnsServer dns([](const std::string& q) { return test::DnsReply(q, 0, {}); });
  const std::string resolvConf =
      (std::filesystem::temp_directory_path() / test::UniqueName("quillon-resolv")).string();
  std::ofstream(resolvConf) << "nameserver 127.0.0.1\n";
  const auto before = descriptors();
  test::RecordingView view;
  TLookupOperations ops(view);
  EXPECT_EQ(descriptors(), before) << "the components alone open nothing";
  EXPECT_FALSE(ops.IdDNSResolver1.IsActive());
  ops.WhoisServerOf = [](std::string_view) { return std::string("127.0.0.1"); };
  ops.WhoisPort = test::FreePort();  // refused: "Error Whois"
  ops.RunOperation(opWhois, "example.com");
  EXPECT_FALSE(ops.IdDNSResolver1.IsActive());
  ops.ResolvConfPath = resolvConf;
  ops.DnsPort = dns.port();
  ops.RunOperation(opDnsMx, "example.com");
  EXPECT_EQ(view.Lines(), (Lines{"Found DNS entry for example.com", "but no MX entry !"}));
  EXPECT_TRUE(ops.IdDNSResolver1.IsActive()) << "kept for the next lookup";
  std::filesystem::remove(resolvConf);
}

TEST_F(Operations, TraceToLoopbackStopsAfterTheSecondReply) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for an ICMP socket";
  // A previous trace ended on this address: the new one starts afresh.
  ops.LastReplyAddress = "127.0.0.1";
  ops.RunOperation(opTraceRoute, "127.0.0.1");
  const Lines lines = view.Lines();
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "Trace Route for 127.0.0.1");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3].rfind("response from host 127.0.0.1 in ", 0), 0u);
  EXPECT_EQ(ops.IdIcmpClient.Tag.load(), 1);
  EXPECT_EQ(ops.IdIcmpClient.PacketTtl(), 3) << "raised once more before the stop is seen";
}

// IPv6: a literal is pinged and traced over ICMPv6 with the same lines; a
// family forced against the host's gives the host-not-found line; IPv4
// after IPv6 is IPv4 again.
TEST_F(Operations, PingAndTraceOfTheIPv6LoopbackAndForcedFamilies) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for an ICMP socket";
  ops.RunOperation(opPing, "0::1");
  Lines lines = view.Lines();
  ASSERT_EQ(lines.size(), 9u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "Ping for 0::1");
  for (int i = 2; i < 6; ++i)
    EXPECT_EQ(lines[i].rfind("response from host ::1 in ", 0), 0u) << lines[i];
  EXPECT_NE(lines[2].find(" ms.\t[name-of-::1]"), std::string::npos) << lines[2];
  EXPECT_EQ(lines[7], "Packages : sent = 4, receipt = 4, lost = 0");

  ops.RunOperation(opTraceRoute, "::1");
  lines = view.Lines();
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[3].rfind("response from host ::1 in ", 0), 0u) << lines[3];

  ops.IcmpFamily = Id_PF_INET6;
  ops.RunOperation(opPing, "127.0.0.1");
  EXPECT_EQ(view.Lines(),
            (Lines{"Ping for 127.0.0.1", "", "Error: Host not found for domain 127.0.0.1"}));
  EXPECT_TRUE(ops.LastOperationFailed());
  ops.RunOperation(opTraceRoute, "localhost");
  lines = view.Lines();
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[3].rfind("response from host ::1 in ", 0), 0u) << lines[3];

  ops.IcmpFamily = Id_PF_INET;
  ops.RunOperation(opTraceRoute, "::1");
  EXPECT_EQ(view.Lines(),
            (Lines{"Trace Route for ::1", "", "Error: Host not found for domain ::1"}));
  ops.RunOperation(opPing, "localhost");
  lines = view.Lines();
  ASSERT_EQ(lines.size(), 9u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[2].rfind("response from host 127.0.0.1 in ", 0), 0u) << lines[2];
  EXPECT_EQ(ops.IdIcmpClient.IPVersion(), Id_PF_INET);
}

// The reply report on its own, one row per reply in order.
TEST_F(Operations, ReplyReportLinesAndCounting) {
  auto reply = [](const char* from, ReplyOutcome outcome, uint32_t ms) {
    TReplyStatus s;
    s.SourceAddress = from;
    s.Outcome = outcome;
    s.RoundTripMs = ms;
    return s;
  };
  TIdIcmpClient& client = ops.IdIcmpClient;
  client.Tag.store(0);  // a trace
  ops.LastReplyAddress.clear();
  try {
    client.SetPacketTtl(7);
  } catch (...) {
    GTEST_SKIP() << "no ICMP socket here";
  }
  ops.IdIcmpClientReply(&client, reply("198.18.0.1", roTtlExpired, 12));
  ops.IdIcmpClientReply(&client, reply("0.0.0.0", roTimedOut, 5000));
  ops.IdIcmpClientReply(&client, reply("198.18.0.9", roUnreachable, 3));
  ops.IdIcmpClientReply(&client, reply("198.18.0.8", roError, 0));
  EXPECT_EQ(client.Tag.load(), 0);
  ops.IdIcmpClientReply(&client, reply("198.18.1.1", roEchoReply, 40));
  ops.IdIcmpClientReply(&client, reply("198.18.1.1", roEchoReply, 41));  // same address: stop
  EXPECT_EQ(client.Tag.load(), 1);
  EXPECT_EQ(view.Lines(),
            (Lines{"7 :\t198.18.0.1\tin 12 ms\t[name-of-198.18.0.1]", "Timed out.",
                   "Host 198.18.0.9 reports destination network unreachable.", "Unknown error.", "",
                   "response from host 198.18.1.1 in 40 ms.\t[name-of-198.18.1.1]"}));
  EXPECT_EQ(ops.ReplyCount, 1u);
  EXPECT_EQ(ops.ReplyTimeTotal, 40u);

  // Two time-outs in a row end a trace after one line.
  client.Tag.store(0);
  ops.LastReplyAddress.clear();
  ops.IdIcmpClientReply(&client, reply("0.0.0.0", roTimedOut, 5000));
  ops.IdIcmpClientReply(&client, reply("0.0.0.0", roTimedOut, 5000));
  EXPECT_EQ(client.Tag.load(), 1);
  EXPECT_EQ(view.Lines().back(), "Timed out.");

  // During a ping an echo reply has no empty line before it.
  client.Tag.store(2);
  ops.LastReplyAddress.clear();
  const size_t before = view.Lines().size();
  ops.IdIcmpClientReply(&client, reply("198.18.1.2", roEchoReply, 5));
  EXPECT_EQ(view.Lines().size(), before + 1);
}

// A server that answers with an HTTP response, or stalls: the one source.
std::vector<TPublicAddressSource> HttpUrl(int port) {
  return ParsePublicAddressSources("http://127.0.0.1:" + std::to_string(port) + "/misc/ip.php",
                                   nullptr);
}

TEST_F(Operations, LocalInfoOnline) {
  std::string head;
  test::TcpServer server([&](int fd) {
    head = test::RecvHttpHead(fd);
    test::SendAll(fd,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 12\r\n"
                  "Connection: close\r\n\r\n198.51.100.7");
  });
  ops.PublicAddressSources = HttpUrl(server.port());
  ops.RunOperation(opLocalInfo, "");
  EXPECT_EQ(head.rfind("GET /misc/ip.php HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_EQ(view.Caption(TInfoLabel::Online), "Online");
  EXPECT_EQ(view.Colour(TInfoLabel::Online), kOnlineGreen);
  EXPECT_EQ(view.Caption(TInfoLabel::IP1), "198.51.100.7");
  EXPECT_EQ(view.Caption(TInfoLabel::Local), "Local");
  EXPECT_EQ(view.Caption(TInfoLabel::IP2), ops.IdIPWatch1.QueryLocalAddress());
  EXPECT_FALSE(ops.LastOperationFailed());
  EXPECT_EQ(view.Changes().front().what, "clear");
}

TEST_F(Operations, LocalInfoOfflineOnErrorStatusOversizeBodyOrStall) {
  struct Case {
    const char* name;
    std::string response;  // empty: stall
  };
  const Case cases[] = {
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno\n"},
      {"oversize", "HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n" + std::string(70000, '1')},
      {"oversize, no length",
       "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(200000, '2')},
      {"stall", ""},
  };
  ops.PublicAddressTimeLimit = 1500ms;
  for (const Case& c : cases) {
    test::TcpServer server([&](int fd) {
      test::RecvHttpHead(fd);
      if (c.response.empty())
        test::RecvUntilClose(fd, 5000);
      else
        test::SendAll(fd, c.response);
    });
    ops.PublicAddressSources = HttpUrl(server.port());
    const auto start = Clock::now();
    ops.RunOperation(opLocalInfo, "");
    EXPECT_LT(MsSince(start), 2500L) << c.name;
    EXPECT_EQ(view.Caption(TInfoLabel::Online), "Offline") << c.name;
    EXPECT_EQ(view.Colour(TInfoLabel::Online), kOfflineRed) << c.name;
    EXPECT_EQ(view.Caption(TInfoLabel::IP1), "") << c.name;
    EXPECT_EQ(view.Caption(TInfoLabel::Local), "Local") << c.name;
    EXPECT_FALSE(view.Caption(TInfoLabel::IP2).empty()) << c.name;
    EXPECT_TRUE(ops.LastOperationFailed()) << c.name;
  }
  EXPECT_EQ(kPublicAddressTimeLimit, 3000ms);
  EXPECT_EQ(kPublicAddressMaxBody, 65536u);
}

TEST_F(Operations, LocalInfoWithoutLocalAddressShowsEmptyText) {
  ops.PublicAddressSources = HttpUrl(test::FreePort());  // refused: offline
  view.SetCaption(TInfoLabel::IP2, "stale");
  platform::FaultInjector::FailNth(platform::Call::LocalAddresses, 1, EACCES);
  ops.RunOperation(opLocalInfo, "");
  EXPECT_EQ(view.Caption(TInfoLabel::IP2), "");
  EXPECT_EQ(view.Caption(TInfoLabel::Online), "Offline");
}

TEST_F(Operations, UnknownCodeOnlyClears) {
  view.AppendLine("x");
  ops.RunOperation(7, "example.com");
  EXPECT_TRUE(view.Lines().empty());
}

// Interruption: each blocking wait gives way within a fraction of a second
// and nothing is written after it.
void ExpectInterruptedQuickly(TLookupOperations& ops, test::RecordingView& view, int code,
                              const std::string& host) {
  auto run = std::async(std::launch::async, [&] { ops.RunOperation(code, host); });
  ASSERT_EQ(run.wait_for(300ms), std::future_status::timeout) << "the operation must be waiting";
  const size_t changes = view.Changes().size();
  const auto start = Clock::now();
  ops.Interrupt();
  ASSERT_EQ(run.wait_for(1s), std::future_status::ready) << code;
  EXPECT_LT(MsSince(start), 1000L) << code;
  EXPECT_EQ(view.Changes().size(), changes) << code;
}

TEST_F(Operations, InterruptEndsAStalledWhois) {
  test::TcpServer server([](int fd) {
    test::RecvLine(fd);
    test::RecvUntilClose(fd, 8000);
  });
  ops.WhoisPort = server.port();
  ExpectInterruptedQuickly(ops, view, opWhois, "example.com");
  // For good: a later run ends at once without writing.
  const size_t changes = view.Changes().size();
  ops.RunOperation(opWhois, "example.com");
  EXPECT_EQ(view.Changes().size(), changes);
}

TEST_F(Operations, InterruptEndsADnsWait) {
  test::FakeDnsServer dns([](const std::string&) { return std::string(); });  // never answers
  UseDnsServer(dns.port());
  ExpectInterruptedQuickly(ops, view, opDnsMx, "example.com");
}

TEST_F(Operations, InterruptEndsAStalledPublicAddressFetch) {
  test::TcpServer server([](int fd) {
    test::RecvHttpHead(fd);
    test::RecvUntilClose(fd, 8000);
  });
  ops.PublicAddressSources = HttpUrl(server.port());
  ExpectInterruptedQuickly(ops, view, opLocalInfo, "");
}

// A namespace where 198.18.0.2 silently drops what it is sent.
class DropWorld {
 public:
  DropWorld() : ns_("qdrop") {
    // A veth pair whose far end has no such MAC address: frames to
    // 198.18.0.2 leave and are dropped without any answer.
    ns_.Exec(
        "ip link add v0 type veth peer name v1 && ip addr add 198.18.0.1/24 dev v0 && "
        "ip link set v0 up && ip link set v1 up && "
        "ip neigh add 198.18.0.2 lladdr 02:00:00:00:00:02 dev v0 nud permanent");
  }
  // Runs `body` on a thread that lives in the namespace.
  void Run(const std::function<void()>& body) {
    std::thread t([&] {
      if (ns_.EnterFromThisThread()) body();
    });
    t.join();
  }

 private:
  test::NetNs ns_;
};

TEST_F(Operations, PingToASilentlyDroppedAddressTimesOutFourTimes) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for a network namespace";
  DropWorld world;
  world.Run([&] { ops.RunOperation(opPing, "198.18.0.2"); });
  EXPECT_EQ(view.Lines(), (Lines{"Ping for 198.18.0.2", "", "Timed out.", "Timed out.",
                                 "Timed out.", "Timed out.", " ",
                                 "Packages : sent = 4, receipt = 0, lost = 4", "Average = n/a"}));
  EXPECT_FALSE(ops.LastOperationFailed());
}

TEST_F(Operations, InterruptEndsAWhoisConnectThatGetsNoAnswer) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for a network namespace";
  DropWorld world;
  ops.WhoisServerOf = [](std::string_view) { return std::string("198.18.0.2"); };
  world.Run([&] { ExpectInterruptedQuickly(ops, view, opWhois, "example.com"); });
}

TEST_F(Operations, InterruptEndsAPingWait) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for a network namespace";
  DropWorld world;
  world.Run([&] { ExpectInterruptedQuickly(ops, view, opPing, "198.18.0.2"); });
}

}  // namespace
}  // namespace quillon
