// Echo clients working at the same time in one process, as a list of pings
// runs them: each takes an identifier of its own, so that on raw sockets
// (which see every reply) no client takes another's reply; and the datagram
// preference, which falls back to raw sockets with a wide receive queue where
// the kernel refuses it.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <barrier>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "net/icmp/icmp_client.h"
#include "tests/icmp/topology.h"

namespace quillon {
namespace {

using test::NetNs;
using test::RunInNamespace;

TEST(ConcurrentEcho, IdentifiersDifferFromOneClientToTheNext) {
  std::set<uint16_t> seen;
  for (int i = 0; i < 1000; ++i) seen.insert(TIdIcmpClient::NextIdentifier());
  EXPECT_EQ(seen.size(), 1000u);
  TIdIcmpClient c;
  EXPECT_EQ(c.Identifier(), TIdIcmpClient::ProcessIdentifier()) << "a lone client keeps its own";
}

// Five clients at once, same sequence numbers, each to another host of the
// chain (two routers, the destination, the client itself, and an address
// that never answers): every reply comes from the client's own target, and
// the one waiting in vain takes none of the others' replies.
TEST(ConcurrentEcho, RawClientsWithOwnIdentifiersNeverTakeAnothersReply) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces and raw sockets";
  test::RoutedChain chain;
  ASSERT_EQ(chain.failure(), "");
  const std::vector<std::string> targets = {
      test::RoutedChain::kRouter1, test::RoutedChain::kRouter2, test::RoutedChain::kDestination,
      "198.18.1.1", test::RoutedChain::kBlackholed};
  const size_t silent = targets.size() - 1;
  std::vector<std::vector<std::string>> sources(targets.size());
  std::vector<std::thread> threads;
  // All send together, so that the nearer hosts' replies reach the sockets
  // of the clients still waiting for a farther one.
  std::barrier together(static_cast<std::ptrdiff_t>(targets.size()));
  for (size_t t = 0; t < targets.size(); ++t) {
    threads.emplace_back([&, t] {
      RunInNamespace(chain.client(), [&] {
        TIdIcmpClient c;
        c.SetIdentifier(TIdIcmpClient::NextIdentifier());
        c.SocketKind = TIdRawSocketKind::Raw;
        c.Host = targets[t];
        c.ReceiveTimeout = t == silent ? 300 : 2000;
        c.OnReply = [&](TIdBaseComponent*, const TReplyStatus& s) {
          sources[t].push_back(s.Outcome == roEchoReply || s.Outcome == roTimedOut ? s.SourceAddress
                                                                                   : "?");
        };
        for (int i = 0; i < 8; ++i) {
          together.arrive_and_wait();
          // The silent target's client is waiting by the time the others send.
          if (t != silent) std::this_thread::sleep_for(std::chrono::milliseconds(20));
          c.SendEcho();
        }
      });
    });
  }
  for (auto& th : threads) th.join();
  for (size_t t = 0; t < targets.size(); ++t)
    EXPECT_EQ(sources[t], std::vector<std::string>(8, t == silent ? "0.0.0.0" : targets[t]))
        << targets[t];
}

TEST(ConcurrentEcho, DatagramPreferredWhereAllowedElseRaw) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces and raw sockets";
  NetNs closed("qicc");  // ping_group_range stays closed in a new namespace
  RunInNamespace(closed, [] {
    TIdIcmpClient c;
    c.SocketKind = TIdRawSocketKind::PreferDatagram;
    c.Host = "127.0.0.1";
    c.ReceiveTimeout = 1000;
    c.SetPacketTtl(50);
    EXPECT_EQ(c.OpenSocketKind(), TIdRawSocketKind::Raw);
    // Its queue holds the copies of everyone's replies for a while.
    int queue = 0;
    socklen_t length = sizeof queue;
    ASSERT_EQ(::getsockopt(c.RawSocket().SocketId(), SOL_SOCKET, SO_RCVBUF, &queue, &length), 0);
    EXPECT_GE(queue, 4 * 1024 * 1024);
    c.SendEcho();
    EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
  });
  NetNs open("qico");
  ASSERT_TRUE(test::OpenPingGroups(open));
  RunInNamespace(open, [] {
    TIdIcmpClient c;
    c.SocketKind = TIdRawSocketKind::PreferDatagram;
    c.Host = "127.0.0.1";
    c.ReceiveTimeout = 1000;
    c.SetPacketTtl(50);
    EXPECT_EQ(c.OpenSocketKind(), TIdRawSocketKind::IcmpDatagram);
    c.SendEcho();
    EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
    EXPECT_EQ(c.EchoStatus().IcmpType, 0) << "the datagram socket never sees the request";
  });
}

}  // namespace
}  // namespace quillon
