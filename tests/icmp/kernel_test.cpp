// The echo client against the real kernel, on both socket kinds: loopback
// echoes, the choice of socket kind, and a routed chain of namespaces for
// time-exceeded, unreachable and unanswered requests. Needs root.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "net/icmp/icmp_client.h"
#include "net/icmp/icmp_headers.h"
#include "net/socket/platform.h"
#include "net/socket/text_helpers.h"
#include "tests/icmp/messages.h"
#include "tests/icmp/topology.h"

namespace quillon {
namespace {

using test::NetNs;
using test::RunInNamespace;

constexpr TIdRawSocketKind kKinds[] = {TIdRawSocketKind::Raw, TIdRawSocketKind::IcmpDatagram};

const char* KindName(TIdRawSocketKind k) {
  return k == TIdRawSocketKind::Raw ? "raw" : "datagram";
}

#define REQUIRE_ROOT() \
  if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces and raw sockets"

class KernelEcho : public ::testing::Test {
 protected:
  void TearDown() override { platform::FaultInjector::Reset(); }
};

TEST_F(KernelEcho, LoopbackOnBothKinds) {
  REQUIRE_ROOT();
  NetNs ns("qil");
  ASSERT_TRUE(test::OpenPingGroups(ns));
  RunInNamespace(ns, [] {
    for (TIdRawSocketKind kind : kKinds) {
      SCOPED_TRACE(KindName(kind));
      TIdIcmpClient c;
      c.SocketKind = kind;
      c.Host = "127.0.0.1";
      c.ReceiveTimeout = 1000;
      std::vector<TReplyStatus> seen;
      c.OnReply = [&](TIdBaseComponent*, const TReplyStatus& s) { seen.push_back(s); };
      c.SendEcho();
      c.SendEcho("hello");
      ASSERT_EQ(seen.size(), 2u);
      for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(seen[i].Outcome, roEchoReply);
        EXPECT_EQ(seen[i].SourceAddress, "127.0.0.1");
        EXPECT_EQ(seen[i].Sequence, 3489 + i);
        EXPECT_EQ(seen[i].ByteCount, 72) << "IP header + 52-byte message";
        EXPECT_GT(seen[i].ReceivedTtl, 0);
        EXPECT_LT(seen[i].RoundTripMs, 1000u);
      }
      EXPECT_EQ(seen[0].IcmpType, 0) << "the kernel's reply, never our own request";
      // The socket is kept for the next echo, and deaf until then: the
      // echo of another client, which a listening raw socket would see,
      // leaves nothing in it.
      EXPECT_EQ(c.OpenSocketKind(), kind) << "kept after the echo";
      TIdIcmpClient other;
      other.SocketKind = kind;
      other.Host = "127.0.0.1";
      other.ReceiveTimeout = 1000;
      other.SendEcho();
      ASSERT_EQ(other.EchoStatus().Outcome, roEchoReply);
      uint8_t buffer[256];
      EXPECT_EQ(c.ReceivePacket(buffer, sizeof buffer, 0), 0);
      c.SendEcho();
      EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
      EXPECT_EQ(c.EchoStatus().Sequence, 3491);
    }
  });
}

// A raw socket receives every ICMP message of its namespace, our own echo
// request included when it goes to a local address. With echo replies
// switched off, that request is all that arrives: the echo must time out
// rather than report the request (which carries our identifier and
// sequence) as its reply. Switched back on, the kernel's reply counts.
TEST_F(KernelEcho, RawSocketNeverTakesAnEchoRequestForTheReply) {
  REQUIRE_ROOT();
  NetNs ns("qil");
  ASSERT_EQ(ns.Exec("ip addr add 198.18.0.1/32 dev lo && ip addr add 2001:db8::1/128 dev lo"), 0);
  const char* hosts[] = {"127.0.0.1", "198.18.0.1", "::1", "2001:db8::1"};
  for (const bool ignoring : {true, false}) {
    const std::string value = ignoring ? "1" : "0";
    ASSERT_EQ(ns.Exec("sysctl -q -w net.ipv4.icmp_echo_ignore_all=" + value +
                      " net.ipv6.icmp.echo_ignore_all=" + value),
              0);
    RunInNamespace(ns, [&] {
      for (const char* host : hosts) {
        SCOPED_TRACE(std::string(host) + (ignoring ? ", echo ignored" : ", echo answered"));
        TIdIcmpClient c;
        c.SocketKind = TIdRawSocketKind::Raw;
        c.Host = host;
        c.ReceiveTimeout = 300;
        c.SendEcho();
        const TReplyStatus& s = c.EchoStatus();
        const bool v6 = c.IPVersion() == Id_PF_INET6;
        if (ignoring) {
          EXPECT_EQ(s.Outcome, roTimedOut);
          EXPECT_EQ(s.IcmpType, 0);
          EXPECT_GE(s.RoundTripMs, 295u);
        } else {
          EXPECT_EQ(s.Outcome, roEchoReply);
          EXPECT_EQ(s.IcmpType, v6 ? 129 : 0) << "the kernel's reply";
          EXPECT_EQ(s.SourceAddress, host);
        }
      }
    });
  }
}

TEST_F(KernelEcho, ReceivePacketPollsOnceWhenTheTimeIsZeroOrDefaultZero) {
  REQUIRE_ROOT();
  NetNs ns("qil");
  ASSERT_TRUE(test::OpenPingGroups(ns));
  RunInNamespace(ns, [] {
    for (TIdRawSocketKind kind : kKinds) {
      SCOPED_TRACE(KindName(kind));
      TIdRawClient c;
      c.Protocol = Id_IPPROTO_ICMP;
      c.SocketKind = kind;
      c.ReceiveTimeout = 0;
      uint8_t buffer[256];
      const uint32_t start = CurrentTicks();
      EXPECT_EQ(c.ReceivePacket(buffer, sizeof buffer, 0), 0);
      EXPECT_EQ(c.ReceivePacket(buffer, sizeof buffer, -1), 0);
      EXPECT_EQ(c.ReceivePacket(buffer, 0, 1000), 0);
      EXPECT_EQ(c.ReceivePacket(nullptr, 10, 1000), 0);
      EXPECT_LT(ElapsedTicks(start, CurrentTicks()), 500u) << "no wait of 1000 ms";
      EXPECT_EQ(c.OpenSocketKind(), kind);
    }
  });
}

TEST_F(KernelEcho, RawRefusedFallsBackToTheDatagramSocket) {
  REQUIRE_ROOT();
  NetNs ns("qil");
  ASSERT_TRUE(test::OpenPingGroups(ns));
  RunInNamespace(ns, [] {
    // A thread without CAP_NET_RAW, as a normal user.
    ASSERT_TRUE(test::DropRawSocketRightOfThisThread());
    TIdIcmpClient c;
    c.Host = "127.0.0.1";
    c.ReceiveTimeout = 1000;
    c.SetPacketTtl(50);  // opens the socket
    EXPECT_EQ(c.OpenSocketKind(), TIdRawSocketKind::IcmpDatagram);
    c.SendEcho();
    EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
    EXPECT_EQ(c.EchoStatus().IcmpType, 0);
    c.SocketKind = TIdRawSocketKind::Raw;
    try {
      c.SendEcho();
      ADD_FAILURE() << "raw socket allowed without CAP_NET_RAW";
    } catch (const EIdInvalidSocket& e) {
      EXPECT_EQ(e.message(), "Impossible d'allouer le socket.");
    }
  });
  // The same decision when the refusal comes from the platform layer.
  RunInNamespace(ns, [] {
    TIdIcmpClient c;
    platform::FaultInjector::FailNth(platform::Call::Socket, 1, EACCES);
    c.SetPacketTtl(50);
    EXPECT_EQ(c.OpenSocketKind(), TIdRawSocketKind::IcmpDatagram);
    // Another failure than a refusal is not a reason to change kinds.
    c.CloseSocket();
    platform::FaultInjector::FailNth(platform::Call::Socket, 1, EMFILE);
    EXPECT_THROW(c.SetPacketTtl(50), EIdInvalidSocket);
  });
}

TEST_F(KernelEcho, NeitherKindAllowedFailsToAllocate) {
  REQUIRE_ROOT();
  NetNs ns("qil");  // ping_group_range stays closed ("1 0") in a new namespace
  RunInNamespace(ns, [] {
    ASSERT_TRUE(test::DropRawSocketRightOfThisThread());
    for (TIdRawSocketKind kind : {TIdRawSocketKind::Automatic, TIdRawSocketKind::IcmpDatagram}) {
      TIdIcmpClient c;
      c.SocketKind = kind;
      c.Host = "127.0.0.1";
      int events = 0;
      c.OnReply = [&](TIdBaseComponent*, const TReplyStatus&) { ++events; };
      try {
        c.SendEcho();
        ADD_FAILURE() << "socket allocated";
      } catch (const EIdInvalidSocket& e) {
        EXPECT_EQ(e.message(), "Impossible d'allouer le socket.");
      }
      EXPECT_EQ(events, 0);
      EXPECT_EQ(c.SequenceCounter(), 3489);
    }
  });
}

TEST_F(KernelEcho, DatagramReceiveFailureRaisesTheSocketError) {
  REQUIRE_ROOT();
  NetNs ns("qil");
  ASSERT_TRUE(test::OpenPingGroups(ns));
  RunInNamespace(ns, [] {
    TIdIcmpClient c;
    c.SocketKind = TIdRawSocketKind::IcmpDatagram;
    c.Host = "127.0.0.1";
    c.ReceiveTimeout = 1000;
    platform::FaultInjector::FailNth(platform::Call::RecvMsg, 1, ECONNRESET);
    try {
      c.SendEcho();
      ADD_FAILURE() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.SocketErrorCode, 10054);
    }
    EXPECT_EQ(c.OpenSocketKind(), TIdRawSocketKind::Automatic) << "closed after the failure";
    c.SendEcho();  // the same sequence number, on a fresh socket
    EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
    EXPECT_EQ(c.EchoStatus().Sequence, 3489);
  });
}

class RoutedEcho : public KernelEcho {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces and raw sockets";
    chain_ = std::make_unique<test::RoutedChain>();
    ASSERT_EQ(chain_->failure(), "");
  }
  std::unique_ptr<test::RoutedChain> chain_;
};

TEST_F(RoutedEcho, TraceThroughTwoRoutersOnBothKinds) {
  RunInNamespace(chain_->client(), [] {
    for (TIdRawSocketKind kind : kKinds) {
      SCOPED_TRACE(KindName(kind));
      TIdIcmpClient c;
      c.SocketKind = kind;
      c.Host = test::RoutedChain::kDestination;
      c.ReceiveTimeout = 2000;
      c.SetPacketTtl(0);  // as the trace route does before its first probe
      const struct {
        ReplyOutcome outcome;
        const char* from;
        uint8_t type;
      } hops[] = {{roTtlExpired, test::RoutedChain::kRouter1, 11},
                  {roTtlExpired, test::RoutedChain::kRouter2, 11},
                  {roEchoReply, test::RoutedChain::kDestination, 0}};
      for (const auto& hop : hops) {
        c.SetPacketTtl(c.PacketTtl() + 1);
        c.SendEcho();
        const TReplyStatus& s = c.EchoStatus();
        SCOPED_TRACE(c.PacketTtl());
        EXPECT_EQ(s.Outcome, hop.outcome);
        EXPECT_EQ(s.SourceAddress, hop.from);
        EXPECT_EQ(s.IcmpType, hop.type);
        EXPECT_EQ(s.Sequence, c.SequenceCounter() - 1);
        EXPECT_GT(s.ReceivedTtl, 0);
        if (hop.outcome == roTtlExpired) {
          EXPECT_EQ(s.ByteCount, 20 + 8 + 20 + 52) << "Linux quotes the whole request";
        }
      }
    }
  });
}

TEST_F(RoutedEcho, BlackholeTimesOutAndUnreachableRouteIsReported) {
  RunInNamespace(chain_->client(), [] {
    for (TIdRawSocketKind kind : kKinds) {
      SCOPED_TRACE(KindName(kind));
      TIdIcmpClient c;
      c.SocketKind = kind;
      c.ReceiveTimeout = 300;
      c.Host = test::RoutedChain::kBlackholed;
      c.SendEcho();
      const TReplyStatus& s = c.EchoStatus();
      EXPECT_EQ(s.Outcome, roTimedOut);
      EXPECT_EQ(s.SourceAddress, "0.0.0.0");
      EXPECT_EQ(s.Sequence, 3489);
      EXPECT_GE(s.RoundTripMs, 295u);
      EXPECT_LT(s.RoundTripMs, 1500u);

      c.ReceiveTimeout = 2000;
      c.Host = test::RoutedChain::kUnreachable;
      c.SendEcho();
      EXPECT_EQ(c.EchoStatus().Outcome, roUnreachable);
      EXPECT_EQ(c.EchoStatus().SourceAddress, test::RoutedChain::kRouter1);
      EXPECT_EQ(c.EchoStatus().IcmpType, 3);
      EXPECT_EQ(c.EchoStatus().Sequence, 3490);
    }
  });
}

// Another program's echo reply that carries our sequence number (every copy
// of the tool starts at 3489) must not end our wait on a raw socket.
TEST_F(RoutedEcho, RawSocketIgnoresRepliesForAnotherIdentifier) {
  RunInNamespace(chain_->client(), [] {
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(fd, 0);
    std::atomic<bool> done{false};
    // The socket was created inside the client namespace; the forger thread
    // sends through it.
    std::thread forger([&] {
      const uint16_t foreign = static_cast<uint16_t>(TIdIcmpClient::ProcessIdentifier() ^ 0x5A5A);
      std::vector<uint8_t> reply = test::EchoMessage({0, foreign, 3489}, 44);
      StoreChecksum(reply, 2);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      for (int i = 0; i < 20 && !done.load(); ++i) {  // bounded: 20 × 20 ms
        ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    TIdIcmpClient c;
    c.SocketKind = TIdRawSocketKind::Raw;
    c.Host = test::RoutedChain::kBlackholed;
    c.ReceiveTimeout = 300;
    c.SendEcho();
    done.store(true);
    forger.join();
    ::close(fd);
    EXPECT_EQ(c.EchoStatus().Outcome, roTimedOut);
    EXPECT_GE(c.EchoStatus().RoundTripMs, 295u);
  });
}

}  // namespace
}  // namespace quillon
