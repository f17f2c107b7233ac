// The resolver against a scripted UDP server on loopback: the round trip,
// time-outs, fresh IDs, stale datagrams, and replies from other senders.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/dns/dns_error.h"
#include "net/dns/resolver.h"
#include "tests/dns/dns_test_util.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using test::FakeDnsServer;
using test::Wire;
using Datagram = FakeDnsServer::Datagram;

// The answer to `query` (one MX question): its ID and question, one MX
// record with the given preference.
std::string MxAnswer(const std::string& query, int preference) {
  Wire w;
  w.raw(query.substr(0, 2)).u16(0x8180).u16(1).u16(1).u16(0).u16(0).raw(query.substr(12));
  w.pointer(12).record(15, 1, 60, Wire().u16(preference).labels("mx").pointer(12));
  return w.bytes;
}

std::string RunError(TIdDNSResolver& resolver, const std::string& name) {
  try {
    resolver.RunQuery(name);
  } catch (const EIdDnsResolverError& e) {
    return e.message();
  }
  return "(no error)";
}

class ExchangeTest : public ::testing::Test {
 protected:
  void Use(const FakeDnsServer& server) {
    resolver_.Host = "127.0.0.1";
    resolver_.Port = server.port();
    resolver_.ReceiveTimeout = 1000;
    resolver_.QueryRecords = {qtMX};
  }
  const TMXRecord& Mx(int i) { return dynamic_cast<const TMXRecord&>(resolver_.Results()[i]); }
  TIdDNSResolver resolver_;
};

TEST_F(ExchangeTest, QueryAndReplyWithAFreshIdEachTime) {
  FakeDnsServer server(
      [](const std::string& q) { return std::vector<Datagram>{{MxAnswer(q, 10)}}; });
  Use(server);
  EXPECT_EQ(resolver_.Port, server.port());
  std::set<uint16_t> ids;
  for (int i = 0; i < 4; ++i) {
    resolver_.RunQuery("example.com");
    EXPECT_EQ(server.lastQuery(), resolver_.QueryText());
    ids.insert(resolver_.Header().MessageId);
    EXPECT_LT(resolver_.Header().MessageId, 0xFFFF);
    ASSERT_EQ(resolver_.Results().Count(), 1);
    EXPECT_EQ(Mx(0).Exchange, "mx.example.com");
    EXPECT_EQ(Mx(0).MxPreference, 10);
  }
  EXPECT_GT(ids.size(), 1u);  // four equal draws out of 65535: practically never
}

TEST_F(ExchangeTest, SilenceAndTinyRepliesTimeOut) {
  FakeDnsServer server([](const std::string& q) {
    if (q.find("tiny") != std::string::npos) return std::vector<Datagram>{{q.substr(0, 4)}};
    return std::vector<Datagram>{};
  });
  Use(server);
  resolver_.ReceiveTimeout = 150;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunError(resolver_, "silent.example"), "Expiré (TimedOut)");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
  EXPECT_EQ(RunError(resolver_, "tiny.example"), "Expiré (TimedOut)");
}

TEST_F(ExchangeTest, RepliesFromOtherSendersAreIgnored) {
  FakeDnsServer server([](const std::string& q) {
    Datagram otherPort{MxAnswer(q, 66)}, otherAddress{MxAnswer(q, 77)}, real{MxAnswer(q, 5)};
    otherPort.fromOtherPort = true;
    otherAddress.fromOtherAddress = true;
    if (q.find("forged") != std::string::npos)
      return std::vector<Datagram>{otherPort, otherAddress};
    return std::vector<Datagram>{otherPort, otherAddress, real};
  });
  Use(server);
  resolver_.RunQuery("example.com");
  ASSERT_TRUE(server.WaitSent(3));
  ASSERT_EQ(resolver_.Results().Count(), 1);
  EXPECT_EQ(Mx(0).MxPreference, 5);

  // Only forged answers: the wait runs out as if nothing came.
  resolver_.ReceiveTimeout = 200;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunError(resolver_, "forged.example"), "Expiré (TimedOut)");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
  EXPECT_EQ(Mx(0).MxPreference, 5);  // untouched
}

TEST_F(ExchangeTest, TheServersWrongIdStillRaises) {
  FakeDnsServer server([](const std::string& q) {
    std::string reply = MxAnswer(q, 1);
    reply[1] = static_cast<char>(reply[1] ^ 1);
    return std::vector<Datagram>{{reply}};
  });
  Use(server);
  const std::string error = RunError(resolver_, "example.com");
  EXPECT_EQ(error, "ID d'en-tête incorrect " + std::to_string(resolver_.Header().MessageId));
}

TEST_F(ExchangeTest, AnswersLeftFromAnEarlierQueryAreDiscarded) {
  // Each query is answered twice, the answers numbered by query.
  FakeDnsServer server([&](const std::string& q) {
    const int n = server.queries();
    return std::vector<Datagram>{{MxAnswer(q, n)}, {MxAnswer(q, n)}};
  });
  Use(server);
  resolver_.RunQuery("example.com");
  EXPECT_EQ(Mx(0).MxPreference, 1);
  ASSERT_TRUE(server.WaitSent(2));  // the duplicate waits on the socket
  resolver_.RunQuery("example.com");
  EXPECT_EQ(Mx(0).MxPreference, 2);
}

TEST_F(ExchangeTest, NothingIsSentForNoTypeOrABadName) {
  FakeDnsServer server(
      [](const std::string& q) { return std::vector<Datagram>{{MxAnswer(q, 1)}}; });
  Use(server);
  resolver_.QueryRecords = {};
  EXPECT_EQ(RunError(resolver_, "example.com"), "Nombre de requêtes incorrect 0");
  resolver_.QueryRecords = {qtMX};
  const std::string longLabel(64, 'x');
  EXPECT_EQ(RunError(resolver_, longLabel + ".example"),
            "Nom de requête incorrect : " + longLabel + ".example");
  resolver_.RunQuery("example.com");  // the next good query is the first one sent
  EXPECT_EQ(server.queries(), 1);
}

// A DNS server on [::1] for `rounds` queries: each gets an answer from
// another port first (which the resolver must pass over), then its own.
class Ipv6DnsServer {
 public:
  explicit Ipv6DnsServer(int rounds) {
    for (int* fd : {&fd_, &otherFd_}) {
      *fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_loopback;
      ::bind(*fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    sockaddr_in6 a{};
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin6_port);
    thread_ = std::thread([this, rounds] {
      for (int i = 0; i < rounds; ++i) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 3000) != 1) return;
        char buf[512];
        sockaddr_in6 from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 12) return;
        const std::string query(buf, static_cast<size_t>(n));
        const std::string fake = MxAnswer(query, 99);
        const std::string real = MxAnswer(query, 10);
        ::sendto(otherFd_, fake.data(), fake.size(), 0, reinterpret_cast<sockaddr*>(&from),
                 fromLength);
        ::sendto(fd_, real.data(), real.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
      }
    });
  }
  ~Ipv6DnsServer() {
    thread_.join();
    ::close(fd_);
    ::close(otherFd_);
  }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int otherFd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// An IPv6 server (as a resolv.conf naming one gives): the query goes out over
// IPv6, only the server's own answer counts, and the next IPv4 server is
// asked over IPv4 again.
TEST_F(ExchangeTest, AnIPv6ServerIsAskedOverIPv6WithTheSameSenderFilter) {
  Ipv6DnsServer v6(2);
  FakeDnsServer v4([](const std::string& q) { return std::vector<Datagram>{{MxAnswer(q, 20)}}; });
  for (int round = 0; round < 2; ++round) {
    resolver_.Host = "0::1";
    resolver_.Port = v6.port();
    resolver_.ReceiveTimeout = 2000;
    resolver_.QueryRecords = {qtMX};
    resolver_.RunQuery("example.com");
    ASSERT_EQ(resolver_.Results().Count(), 1);
    EXPECT_EQ(Mx(0).MxPreference, 10) << "the answer from another port is passed over";
    Use(v4);
    resolver_.RunQuery("example.com");
    ASSERT_EQ(resolver_.Results().Count(), 1);
    EXPECT_EQ(Mx(0).MxPreference, 20);
  }
}

// Two namespaces joined by a link; the server's end holds fe80::53 and
// fe80::54. The server answers each query twice on its port: first from
// fe80::54 (preference 99), then from fe80::53 (preference 10). The
// neighbours are written in (neighbour discovery may take a second on a
// fresh link) and no other link-local address is made.
class LinkLocalDnsServer {
 public:
  LinkLocalDnsServer() {
    const std::string c = "ip -n " + client_.name() + " ", s = "ip -n " + server_.name() + " ";
    const char* kClientMac = "02:00:00:00:00:01";
    const char* kServerMac = "02:00:00:00:00:53";
    for (const std::string& step :
         {c + "link add c0 address " + kClientMac + " type veth peer name s0 address " +
              kServerMac + " netns " + server_.name(),
          c + "link set c0 addrgenmode none", s + "link set s0 addrgenmode none",
          c + "addr add fe80::1/64 dev c0 nodad", s + "addr add fe80::53/64 dev s0 nodad",
          s + "addr add fe80::54/64 dev s0 nodad",
          c + "neigh add fe80::53 lladdr " + kServerMac + " dev c0 nud permanent",
          c + "neigh add fe80::54 lladdr " + kServerMac + " dev c0 nud permanent",
          s + "neigh add fe80::1 lladdr " + kClientMac + " dev s0 nud permanent",
          c + "link set c0 up", s + "link set s0 up"}) {
      std::string out;
      if (test::Run(step, &out) != 0) {
        failure_ = step + ": " + out;
        return;
      }
    }
    thread_ = std::thread([this] { Serve(); });
    for (int i = 0; i < 400 && port_.load() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (port_.load() <= 0) failure_ = "the server did not start";
  }
  ~LinkLocalDnsServer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  const std::string& failure() const { return failure_; }
  const test::NetNs& client() const { return client_; }
  int port() const { return port_.load(); }

 private:
  void Serve() {
    if (!server_.EnterFromThisThread()) {
      port_.store(-1);
      return;
    }
    const unsigned link = ::if_nametoindex("s0");
    int fds[2] = {-1, -1};  // fe80::53, fe80::54
    int port = 0;
    for (int i = 0; i < 2; ++i) {
      fds[i] = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      ::inet_pton(AF_INET6, i == 0 ? "fe80::53" : "fe80::54", &a.sin6_addr);
      a.sin6_scope_id = link;
      a.sin6_port = htons(static_cast<uint16_t>(port));
      if (::bind(fds[i], reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        port_.store(-1);
        return;
      }
      socklen_t length = sizeof a;
      ::getsockname(fds[i], reinterpret_cast<sockaddr*>(&a), &length);
      port = ntohs(a.sin6_port);
    }
    port_.store(port);
    for (int round = 0; round < 50 && !stop_.load(); ++round) {  // bounded
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 100) != 1) continue;
      char buf[512];
      sockaddr_in6 from{};
      socklen_t fromLength = sizeof from;
      const ssize_t n =
          ::recvfrom(fds[0], buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n < 12) continue;
      const std::string query(buf, static_cast<size_t>(n));
      const std::string decoy = MxAnswer(query, 99);
      const std::string real = MxAnswer(query, 10);
      ::sendto(fds[1], decoy.data(), decoy.size(), 0, reinterpret_cast<sockaddr*>(&from),
               fromLength);
      ::sendto(fds[0], real.data(), real.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
    for (int fd : fds) ::close(fd);
  }

  test::NetNs client_{"qdc"};
  test::NetNs server_{"qds"};
  std::string failure_;
  std::atomic<int> port_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A link-local server as resolv.conf may name it: its zone by interface name
// or by index, in any spelling of the address. The reply comes back with
// the interface's scope, and is the server's whatever the zone's form; the
// same port from another address of the link is passed over.
TEST(LinkLocalServer, ZoneByNameOrIndexReachesTheServerAndItsReplyCounts) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces";
  LinkLocalDnsServer world;
  ASSERT_EQ(world.failure(), "");
  std::vector<std::string> problems;
  std::thread client([&] {
    if (!world.client().EnterFromThisThread()) {
      problems.push_back("cannot enter the client namespace");
      return;
    }
    const std::string index = std::to_string(::if_nametoindex("c0"));
    for (const std::string& host :
         {std::string("fe80::53%c0"), "fe80::53%" + index, "FE80:0::53%" + index}) {
      TIdDNSResolver resolver;
      resolver.Host = host;
      resolver.Port = world.port();
      resolver.ReceiveTimeout = 1000;
      resolver.QueryRecords = {qtMX};
      try {
        resolver.RunQuery("example.com");
        const auto* mx = resolver.Results().Count() == 1
                             ? dynamic_cast<const TMXRecord*>(&resolver.Results()[0])
                             : nullptr;
        if (!mx || mx->MxPreference != 10) problems.push_back(host + ": not the server's answer");
      } catch (const EIdException& e) {
        problems.push_back(host + ": " + e.message());
      }
    }
  });
  client.join();
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

}  // namespace
}  // namespace quillon
