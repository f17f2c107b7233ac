// The echo client over ICMPv6 against the real kernel, on both socket kinds:
// loopback, a trace through two routers by hop limit, an unreachable route,
// a silent drop, the switch between families, and the datagram socket for a
// thread without the raw-socket right. Needs root.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "net/icmp/icmp_client.h"
#include "net/icmp/icmp_headers.h"
#include "tests/icmp/topology.h"

namespace quillon {
namespace {

using test::RoutedChain;
using test::RunInNamespace;

constexpr TIdRawSocketKind kKinds[] = {TIdRawSocketKind::Raw, TIdRawSocketKind::IcmpDatagram};

const char* KindName(TIdRawSocketKind k) {
  return k == TIdRawSocketKind::Raw ? "raw" : "datagram";
}

class RoutedEcho6 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces and raw sockets";
    chain_ = std::make_unique<RoutedChain>(true);
    ASSERT_EQ(chain_->failure(), "");
  }
  std::unique_ptr<RoutedChain> chain_;
};

TEST_F(RoutedEcho6, LoopbackTraceUnreachableAndSilenceOnBothKinds) {
  RunInNamespace(chain_->client(), [] {
    for (TIdRawSocketKind kind : kKinds) {
      SCOPED_TRACE(KindName(kind));
      TIdIcmpClient c;
      c.SocketKind = kind;
      c.ReceiveTimeout = 2000;

      c.Host = "::1";
      c.SendEcho();
      EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
      EXPECT_EQ(c.EchoStatus().SourceAddress, "::1");
      EXPECT_EQ(c.IPVersion(), Id_PF_INET6);
      EXPECT_EQ(c.EchoStatus().IcmpType, icmp6EchoReply) << "never our own request";

      c.Host = RoutedChain::kDestinationV6;
      c.SetPacketTtl(0);  // as the trace route does before its first probe
      const struct {
        ReplyOutcome outcome;
        const char* from;
        uint8_t type;
      } hops[] = {{roTtlExpired, RoutedChain::kRouter1v6, icmp6TimeExceeded},
                  {roTtlExpired, RoutedChain::kRouter2v6, icmp6TimeExceeded},
                  {roEchoReply, RoutedChain::kDestinationV6, icmp6EchoReply}};
      for (const auto& hop : hops) {
        c.SetPacketTtl(c.PacketTtl() + 1);
        c.SendEcho();
        const TReplyStatus& s = c.EchoStatus();
        SCOPED_TRACE(c.PacketTtl());
        EXPECT_EQ(s.Outcome, hop.outcome);
        EXPECT_EQ(s.SourceAddress, hop.from);
        EXPECT_EQ(s.IcmpType, hop.type);
        EXPECT_EQ(s.Sequence, c.SequenceCounter() - 1);
        if (kind == TIdRawSocketKind::Raw || hop.outcome == roEchoReply) {
          EXPECT_GT(s.ReceivedTtl, 0) << "the hop limit of the answer";
        }
      }

      c.SetPacketTtl(50);
      c.Host = RoutedChain::kUnreachableV6;
      c.SendEcho();
      EXPECT_EQ(c.EchoStatus().Outcome, roUnreachable);
      EXPECT_EQ(c.EchoStatus().SourceAddress, RoutedChain::kRouter1v6);
      EXPECT_EQ(c.EchoStatus().IcmpType, icmp6DestinationUnreachable);

      c.ReceiveTimeout = 300;
      c.Host = RoutedChain::kBlackholedV6;
      c.SendEcho();
      EXPECT_EQ(c.EchoStatus().Outcome, roTimedOut);
      EXPECT_EQ(c.EchoStatus().SourceAddress, "::");
      EXPECT_GE(c.EchoStatus().RoundTripMs, 295u);

      // Back to IPv4 with the same client: the IPv4 answer as ever.
      c.ReceiveTimeout = 2000;
      c.Host = RoutedChain::kDestination;
      c.SendEcho();
      EXPECT_EQ(c.IPVersion(), Id_PF_INET);
      EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
      EXPECT_EQ(c.EchoStatus().SourceAddress, RoutedChain::kDestination);
      EXPECT_EQ(c.EchoStatus().ByteCount, 72);
    }
  });
}

TEST_F(RoutedEcho6, WithoutTheRawSocketRightTheDatagramSocketServes) {
  RunInNamespace(chain_->client(), [] {
    ASSERT_TRUE(test::DropRawSocketRightOfThisThread());
    TIdIcmpClient c;
    c.Host = RoutedChain::kDestinationV6;
    c.ReceiveTimeout = 2000;
    c.SetIPVersion(Id_PF_INET6);
    c.SetPacketTtl(1);
    EXPECT_EQ(c.OpenSocketKind(), TIdRawSocketKind::IcmpDatagram);
    c.SendEcho();
    EXPECT_EQ(c.EchoStatus().Outcome, roTtlExpired);
    EXPECT_EQ(c.EchoStatus().SourceAddress, RoutedChain::kRouter1v6);
    c.SetPacketTtl(50);
    c.SendEcho();
    EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
    EXPECT_EQ(c.EchoStatus().SourceAddress, RoutedChain::kDestinationV6);
  });
}

}  // namespace
}  // namespace quillon
