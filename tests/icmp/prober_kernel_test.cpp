// Many probes in flight on one socket against the real kernel, both families
// and both socket kinds: time-to-live 1 to 5 sent at once through two routers
// come back matched by sequence number, an unreachable route answers for its
// probes, two runs with the same sequence numbers each get only their own
// answers, and every request that reaches the destination carries the same
// checksum. Needs root.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "net/icmp/echo_prober.h"
#include "net/icmp/icmp_headers.h"
#include "net/socket/address_text.h"
#include "net/socket/stack.h"
#include "tests/icmp/topology.h"

namespace quillon {
namespace {

using test::RoutedChain;
using test::RunInNamespace;

constexpr TIdRawSocketKind kKinds[] = {TIdRawSocketKind::Raw, TIdRawSocketKind::IcmpDatagram};

struct Family {
  int family;
  const char* router1;
  const char* router2;
  const char* destination;
  const char* unreachable;
};
constexpr Family kFamilies[] = {
    {Id_PF_INET, RoutedChain::kRouter1, RoutedChain::kRouter2, RoutedChain::kDestination,
     RoutedChain::kUnreachable},
    {Id_PF_INET6, RoutedChain::kRouter1v6, RoutedChain::kRouter2v6, RoutedChain::kDestinationV6,
     RoutedChain::kUnreachableV6}};

// Answers by sequence number until `count` came or 2 s passed.
std::map<uint16_t, TEchoAnswer> Collect(TIdEchoProber& prober, size_t count) {
  std::map<uint16_t, TEchoAnswer> answers;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (answers.size() < count && std::chrono::steady_clock::now() < end) {
    if (auto a = prober.ReceiveAnswer(100)) {
      EXPECT_EQ(answers.count(a->Sequence), 0u) << "one answer per probe";
      answers[a->Sequence] = *a;
    }
  }
  return answers;
}

class ProberChain : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces and raw sockets";
    chain_ = std::make_unique<RoutedChain>(true);
    ASSERT_EQ(chain_->failure(), "");
  }
  std::unique_ptr<RoutedChain> chain_;
};

TEST_F(ProberChain, ProbesSentAtOnceComeBackMatchedBySequence) {
  RunInNamespace(chain_->client(), [] {
    for (const Family& f : kFamilies) {
      for (TIdRawSocketKind kind : kKinds) {
        SCOPED_TRACE(testing::Message() << "family " << f.family << ", kind "
                                        << (kind == TIdRawSocketKind::Raw ? "raw" : "datagram"));
        TIdEchoProber prober;
        prober.SocketKind = kind;
        prober.SetIdentifier(0x5151);
        prober.Open(f.family);
        EXPECT_EQ(prober.OpenSocketKind(), kind);
        for (int ttl = 1; ttl <= 5; ++ttl)
          ASSERT_TRUE(prober.SendProbe(f.destination, ttl, static_cast<uint16_t>(700 + ttl)));
        const std::map<uint16_t, TEchoAnswer> answers = Collect(prober, 5);
        const struct {
          uint16_t sequence;
          ReplyOutcome outcome;
          const char* from;
        } expected[] = {{701, roTtlExpired, f.router1},
                        {702, roTtlExpired, f.router2},
                        {703, roEchoReply, f.destination},
                        {704, roEchoReply, f.destination},
                        {705, roEchoReply, f.destination}};
        ASSERT_EQ(answers.size(), std::size(expected));
        for (const auto& e : expected) {
          SCOPED_TRACE(e.sequence);
          ASSERT_EQ(answers.count(e.sequence), 1u);
          const TEchoAnswer& a = answers.at(e.sequence);
          EXPECT_EQ(a.Outcome, e.outcome);
          EXPECT_EQ(a.SourceAddress, e.from);
          if (kind == TIdRawSocketKind::Raw) {
            EXPECT_EQ(a.Identifier, 0x5151);
          }
        }
        EXPECT_FALSE(prober.ReceiveAnswer(0)) << "nothing more queued";
      }
    }
  });
}

// The router with the unreachable route answers every probe for it, the
// first hop's included: the route is looked up before the time-to-live.
// Sent first, while the IPv4 router's allowance for route errors is fresh:
// it shares its bucket with the time-exceeded answers, which with
// icmp_ratelimit 0 leave it empty for a second. One socket kind per family.
TEST_F(ProberChain, AnUnreachableRouteAnswersForItsProbes) {
  RunInNamespace(chain_->client(), [] {
    for (const Family& f : kFamilies) {
      SCOPED_TRACE(f.family);
      TIdEchoProber prober;
      prober.SocketKind =
          f.family == Id_PF_INET ? TIdRawSocketKind::IcmpDatagram : TIdRawSocketKind::Raw;
      prober.Open(f.family);
      for (int ttl = 1; ttl <= 2; ++ttl)
        ASSERT_TRUE(prober.SendProbe(f.unreachable, ttl, static_cast<uint16_t>(800 + ttl)));
      const auto answers = Collect(prober, 2);
      ASSERT_EQ(answers.size(), 2u);
      for (const auto& [sequence, a] : answers) {
        EXPECT_EQ(a.Outcome, roUnreachable) << sequence;
        EXPECT_EQ(a.SourceAddress, f.router1) << sequence;
      }
    }
  });
}

// Two runs on raw sockets at once with the same sequence numbers: every
// answer reaches both sockets, and each keeps only those with its identifier.
TEST_F(ProberChain, RunsWithTheSameSequenceNumbersKeepTheirOwnAnswers) {
  RunInNamespace(chain_->client(), [] {
    for (const Family& f : kFamilies) {
      SCOPED_TRACE(f.family);
      TIdEchoProber a, b;
      for (auto* p : {&a, &b}) p->SocketKind = TIdRawSocketKind::Raw;
      a.SetIdentifier(0x1001);
      b.SetIdentifier(0x1002);
      a.Open(f.family);
      b.Open(f.family);
      ASSERT_TRUE(a.SendProbe(f.destination, 1, 42));
      ASSERT_TRUE(b.SendProbe(f.destination, 3, 42));
      const auto fromA = Collect(a, 1);
      const auto fromB = Collect(b, 1);
      ASSERT_EQ(fromA.size(), 1u);
      ASSERT_EQ(fromB.size(), 1u);
      // The other run's answer reached each raw socket too, and was passed over.
      EXPECT_FALSE(a.ReceiveAnswer(100));
      EXPECT_FALSE(b.ReceiveAnswer(0));
      EXPECT_EQ(fromA.at(42).Outcome, roTtlExpired);
      EXPECT_EQ(fromA.at(42).SourceAddress, f.router1);
      EXPECT_EQ(fromB.at(42).Outcome, roEchoReply);
      EXPECT_EQ(fromB.at(42).SourceAddress, f.destination);
    }
  });
}

// The checksum of every request as it reaches the destination, read there
// on a raw socket of the family.
std::vector<uint16_t> ChecksumsSeenAtDestination(const test::NetNs& destination, int family,
                                                 const std::function<void()>& send) {
  std::promise<void> ready;
  std::atomic<bool> stop{false};
  std::vector<uint16_t> checksums;
  std::thread listener([&] {
    if (!destination.EnterFromThisThread()) {
      ready.set_value();
      return;
    }
    const bool v6 = family == Id_PF_INET6;
    const int fd = v6 ? ::socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6)
                      : ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    ready.set_value();
    if (fd < 0) return;
    uint8_t buffer[1500];
    while (!stop.load()) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) != 1) continue;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      // IPv4 raw sockets deliver the IP header, IPv6 ones do not.
      const size_t at = v6 ? 0 : size_t{buffer[0] & 0x0Fu} * 4;
      if (n < static_cast<ssize_t>(at + 8)) continue;
      if (buffer[at] != (v6 ? uint8_t{icmp6EchoRequest} : uint8_t{icmpEchoRequest})) continue;
      checksums.push_back(static_cast<uint16_t>(buffer[at + 2] << 8 | buffer[at + 3]));
    }
    ::close(fd);
  });
  ready.get_future().wait();
  send();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stop.store(true);
  listener.join();
  return checksums;
}

TEST_F(ProberChain, EveryRequestReachesTheDestinationWithTheSameChecksum) {
  for (const Family& f : kFamilies) {
    for (TIdRawSocketKind kind : kKinds) {
      SCOPED_TRACE(testing::Message() << "family " << f.family << ", kind "
                                      << (kind == TIdRawSocketKind::Raw ? "raw" : "datagram"));
      const std::vector<uint16_t> checksums =
          ChecksumsSeenAtDestination(chain_->destination(), f.family, [&] {
            RunInNamespace(chain_->client(), [&] {
              TIdEchoProber prober;
              prober.SocketKind = kind;
              prober.Open(f.family);
              for (uint16_t sequence : {0, 1, 2, 255, 256, 4660, 40000, 65535})
                ASSERT_TRUE(prober.SendProbe(f.destination, 64, sequence));
            });
          });
      ASSERT_EQ(checksums.size(), 8u);
      EXPECT_EQ(std::set<uint16_t>(checksums.begin(), checksums.end()).size(), 1u);
    }
  }
}

}  // namespace
}  // namespace quillon
