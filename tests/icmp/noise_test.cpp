// ICMP messages that answer nothing, sent to the pinging machine while it
// waits, on both socket kinds: a destination that sends redirects, parameter
// problems, timestamp and information requests, our own echo request sent
// back, short messages and a reply of the wrong sequence before its real
// reply, and a router that keeps sending such messages. Ping and trace must
// go on as if they were absent.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "net/icmp/icmp_client.h"
#include "net/icmp/icmp_headers.h"
#include "tests/icmp/messages.h"
#include "tests/icmp/topology.h"

namespace quillon {
namespace {

using test::RoutedChain;

constexpr int kReplyDelayMs = 60;

// Sends `icmp` (checksum filled in) from a raw socket to `to`.
void SendIcmp(int fd, std::vector<uint8_t> icmp, in_addr to) {
  if (icmp.size() >= 4) StoreChecksum(icmp, 2);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr = to;
  ::sendto(fd, icmp.data(), icmp.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

// An error message of `type` quoting the IP header and first 8 bytes of
// `datagram` (RFC 792).
std::vector<uint8_t> Quoting(uint8_t type, uint8_t code, const uint8_t* datagram, size_t ipLength) {
  std::vector<uint8_t> m(datagram, datagram + ipLength + 8);
  const uint8_t header[8] = {type, code, 0, 0, 0, 0, 0, 0};
  m.insert(m.begin(), std::begin(header), std::end(header));
  return m;
}

// A thread that lives in a namespace of the chain and sends noise until
// stopped (bounded in count and time).
class NoiseThread {
 public:
  template <typename Body>
  NoiseThread(const test::NetNs& ns, Body body, int family = AF_INET)
      : thread_([this, &ns, body, family] {
          if (!ns.EnterFromThisThread()) return;
          const int protocol = family == AF_INET6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP};
          const int fd = ::socket(family, SOCK_RAW | SOCK_CLOEXEC, protocol);
          if (fd < 0) return;
          ready_.store(true);
          body(fd, stop_);
          ::close(fd);
        }) {
    for (int i = 0; i < 200 && !ready_.load(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~NoiseThread() {
    stop_.store(true);
    thread_.join();
  }
  bool ready() const { return ready_.load(); }
  NoiseThread(const NoiseThread&) = delete;
  NoiseThread& operator=(const NoiseThread&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> ready_{false};
  std::thread thread_;
};

// The destination's own echo answering is off; this answers each request
// itself, after a burst of messages about it that are no answer.
void AnswerAfterNoise(int fd, const std::atomic<bool>& stop) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  uint8_t in[1500];
  while (!stop.load() && std::chrono::steady_clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 28) continue;
    const size_t ip = size_t{in[0] & 0x0Fu} * 4;
    if (static_cast<size_t>(n) < ip + 8 || in[ip] != icmpEchoRequest) continue;
    const uint8_t* request = in + ip;
    const size_t requestLength = static_cast<size_t>(n) - ip;
    std::vector<uint8_t> wrongSequence(request, request + requestLength);
    wrongSequence[0] = icmpEchoReply;
    wrongSequence[6] ^= 0x01;
    const std::vector<std::vector<uint8_t>> noise = {
        Quoting(5, 1, in, ip),   // redirect about our request
        Quoting(12, 0, in, ip),  // parameter problem about it
        Quoting(4, 0, in, ip),   // source quench about it
        {13, 0, 0, 0, request[4], request[5], request[6], request[7], 0, 0,
         0,  0, 0, 0, 0,          0,          0,          0,          0, 0},  // timestamp request
        {15, 0, 0, 0, request[4], request[5], request[6], request[7]},        // information request
        std::vector<uint8_t>(request, request + requestLength),  // our request, sent back
        {0, 0, 0, 0},                                            // 4 bytes only
        wrongSequence,
    };
    for (const auto& m : noise) SendIcmp(fd, m, from.sin_addr);
    std::this_thread::sleep_for(std::chrono::milliseconds(kReplyDelayMs));
    std::vector<uint8_t> reply(request, request + requestLength);
    reply[0] = icmpEchoReply;
    SendIcmp(fd, reply, from.sin_addr);
  }
}

// A router that sends strangers to the client every 10 ms, some of them
// carrying our identifier and the sequence numbers the client will use.
void SprayClient(int fd, const std::atomic<bool>& stop) {
  in_addr client{};
  ::inet_pton(AF_INET, "198.18.1.1", &client);
  const uint16_t id = TIdIcmpClient::ProcessIdentifier();
  for (int i = 0; i < 1000 && !stop.load(); ++i) {  // bounded: 1000 × 10 ms
    const auto sequence = static_cast<uint16_t>(TIdIcmpClient::kFirstSequence + i % 8);
    std::vector<uint8_t> redirect = test::ErrorMessage(5, 0, {8, id, sequence});
    std::vector<uint8_t> timestamp = test::EchoMessage({13, id, sequence}, 12);
    std::vector<uint8_t> information = test::EchoMessage({15, id, sequence}, 0);
    std::vector<uint8_t> otherProgram =
        test::EchoMessage({0, static_cast<uint16_t>(id ^ 0x5A5A), sequence});
    for (const auto* m : {&redirect, &timestamp, &information, &otherProgram})
      SendIcmp(fd, *m, client);
    SendIcmp(fd, {0, 0}, client);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

const char* KindName(TIdRawSocketKind k) {
  return k == TIdRawSocketKind::Raw ? "raw" : "datagram";
}

TEST(IcmpNoise, PingAndTraceIgnoreMessagesThatAnswerNothing) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces and raw sockets";
  RoutedChain chain;
  ASSERT_EQ(chain.failure(), "");
  ASSERT_EQ(chain.destination().Exec("sysctl -q -w net.ipv4.icmp_echo_ignore_all=1"), 0);
  NoiseThread answerer(chain.destination(), AnswerAfterNoise);
  NoiseThread sprayer(chain.router1(), SprayClient);
  ASSERT_TRUE(answerer.ready() && sprayer.ready());
  test::RunInNamespace(chain.client(), [] {
    for (TIdRawSocketKind kind : {TIdRawSocketKind::Raw, TIdRawSocketKind::IcmpDatagram}) {
      SCOPED_TRACE(KindName(kind));
      TIdIcmpClient c;
      c.SocketKind = kind;
      c.Host = RoutedChain::kDestination;
      c.ReceiveTimeout = 2000;
      // A ping: the socket opens here, so the raw one collects the router's
      // strangers before the first request goes out.
      c.SetPacketTtl(50);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      for (int i = 0; i < 2; ++i) {
        c.SendEcho();
        const TReplyStatus& s = c.EchoStatus();
        EXPECT_EQ(s.Outcome, roEchoReply) << i;
        EXPECT_EQ(s.SourceAddress, RoutedChain::kDestination);
        EXPECT_EQ(s.IcmpType, icmpEchoReply);
        EXPECT_GE(s.RoundTripMs, static_cast<uint32_t>(kReplyDelayMs) - 5);
        EXPECT_LT(s.RoundTripMs, 2000u);
      }
      // A trace: two routers, then the destination, each probe waiting amid
      // the same strangers.
      c.SetPacketTtl(0);
      const char* hops[] = {RoutedChain::kRouter1, RoutedChain::kRouter2,
                            RoutedChain::kDestination};
      for (const char* hop : hops) {
        c.SetPacketTtl(c.PacketTtl() + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        c.SendEcho();
        SCOPED_TRACE(c.PacketTtl());
        EXPECT_EQ(c.EchoStatus().SourceAddress, hop);
        EXPECT_EQ(c.EchoStatus().Outcome,
                  hop == RoutedChain::kDestination ? roEchoReply : roTtlExpired);
      }
      // Nobody answers: the strangers do not shorten the wait.
      c.SetPacketTtl(50);
      c.Host = RoutedChain::kBlackholed;
      c.ReceiveTimeout = 300;
      c.SendEcho();
      EXPECT_EQ(c.EchoStatus().Outcome, roTimedOut);
      EXPECT_GE(c.EchoStatus().RoundTripMs, 295u);
    }
  });
}

// ICMPv6 strangers sent to the client every 10 ms from router 1: neighbour
// and router advertisements, packet-too-big and parameter-problem messages
// quoting a request with our identifier and sequence, echo requests carrying
// both, and another program's echo replies carrying our sequence. Neither
// socket kind lets them end or shorten a wait.
void SprayClient6(int fd, const std::atomic<bool>& stop) {
  sockaddr_in6 to{};
  to.sin6_family = AF_INET6;
  ::inet_pton(AF_INET6, "2001:db8:1::1", &to.sin6_addr);
  const uint16_t id = TIdIcmpClient::ProcessIdentifier();
  for (int i = 0; i < 1000 && !stop.load(); ++i) {  // bounded: 1000 × 10 ms
    const auto sequence = static_cast<uint16_t>(TIdIcmpClient::kFirstSequence + i % 8);
    const std::vector<uint8_t> messages[] = {
        test::EchoMessage({136, 0, 0}, 16),  // neighbour advertisement
        test::EchoMessage({134, 0, 0}, 8),   // router advertisement
        test::Error6Message(2, 0, {128, id, sequence}),
        test::Error6Message(4, 0, {128, id, sequence}),
        test::EchoMessage({129, static_cast<uint16_t>(id ^ 0x5A5A), sequence}),
        test::EchoMessage({128, id, sequence}),  // a request, whoever's identifier it carries
    };
    // The kernel fills in every ICMPv6 checksum of a raw socket.
    for (const auto& m : messages)
      ::sendto(fd, m.data(), m.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST(IcmpNoise, Icmpv6PingIgnoresMessagesThatAnswerNothing) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root: network namespaces and raw sockets";
  RoutedChain chain(true);
  ASSERT_EQ(chain.failure(), "");
  NoiseThread sprayer(chain.router1(), SprayClient6, AF_INET6);
  ASSERT_TRUE(sprayer.ready());
  test::RunInNamespace(chain.client(), [] {
    for (TIdRawSocketKind kind : {TIdRawSocketKind::Raw, TIdRawSocketKind::IcmpDatagram}) {
      SCOPED_TRACE(KindName(kind));
      TIdIcmpClient c;
      c.SocketKind = kind;
      c.SetIPVersion(Id_PF_INET6);
      c.SetPacketTtl(50);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      c.Host = RoutedChain::kDestinationV6;
      c.ReceiveTimeout = 2000;
      c.SendEcho();
      EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
      EXPECT_EQ(c.EchoStatus().SourceAddress, RoutedChain::kDestinationV6);
      c.Host = RoutedChain::kBlackholedV6;
      c.ReceiveTimeout = 300;
      c.SendEcho();
      EXPECT_EQ(c.EchoStatus().Outcome, roTimedOut);
      EXPECT_GE(c.EchoStatus().RoundTripMs, 295u);
    }
  });
}

}  // namespace
}  // namespace quillon
