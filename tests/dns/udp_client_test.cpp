// The UDP client on loopback: time-outs, the default and endless waits, any
// sender accepted, the socket's life and the broadcast option.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/dns/udp_client.h"
#include "net/socket/stack.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A plain UDP socket on 127.0.0.1 for the other end.
struct Peer {
  Peer() {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Peer() { ::close(fd); }
  void SendTo(int toPort, const std::string& text) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(toPort));
    ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  // One datagram (bounded wait); returns the sender's port.
  std::string Receive(int* fromPort = nullptr) const {
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (fromPort) *fromPort = ntohs(from.sin_port);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
  }
  int fd;
  int port;
};

class UdpClient : public TIdUDPClient {
 public:
  using TIdUDPBase::Handle;
  int BroadcastOption() {
    int value = -7;
    socklen_t len = sizeof value;
    SharedStack().SockGetOption(Handle()->SocketId(), SOL_SOCKET, SO_BROADCAST, &value, len);
    return value;
  }
};

TEST(UdpClient, NothingInTimeGivesEmptyTextAndNoPeer) {
  UdpClient client;
  char buffer[16];
  std::string ip = "x";
  int port = 99;
  const auto start = Clock::now();
  EXPECT_EQ(client.ReceiveBytes(buffer, sizeof buffer, 80, ip, port), 0);
  EXPECT_GE(MsSince(start), 70);
  EXPECT_EQ(ip, "");
  EXPECT_EQ(port, 0);
  EXPECT_EQ(client.ReceiveText(0), "");
}

TEST(UdpClient, DefaultTimeoutIsReceiveTimeoutAndWaitForeverWaits) {
  UdpClient client;
  client.ReceiveTimeout = 120;
  auto start = Clock::now();
  EXPECT_EQ(client.ReceiveText(UseDefaultTimeout), "");
  const long waited = MsSince(start);
  EXPECT_GE(waited, 110);
  EXPECT_LT(waited, 2000);

  // The socket gets its port from a first send; then a late datagram.
  Peer peer;
  client.Host = "127.0.0.1";
  client.Port = peer.port;
  client.SendTextTo("hello");
  int clientPort = 0;
  ASSERT_EQ(peer.Receive(&clientPort), "hello");
  client.ReceiveTimeout = WaitForever;
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    peer.SendTo(clientPort, "late");
  });
  start = Clock::now();
  EXPECT_EQ(client.ReceiveText(), "late");
  EXPECT_GE(MsSince(start), 150);
  late.join();
}

TEST(UdpClient, AnySenderIsAcceptedAndTheLocalPortStays) {
  UdpClient client;
  Peer server, stranger;
  client.SendTextTo("localhost", server.port, "one");
  int first = 0, second = 0;
  ASSERT_EQ(server.Receive(&first), "one");
  client.SendTextTo("127.0.0.1", server.port, "two");
  ASSERT_EQ(server.Receive(&second), "two");
  EXPECT_EQ(first, second);

  stranger.SendTo(first, "from a stranger");
  char buffer[64];
  std::string ip;
  int port = 0;
  const int n = client.ReceiveBytes(buffer, sizeof buffer, 1000, ip, port);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), "from a stranger");
  EXPECT_EQ(ip, "127.0.0.1");
  EXPECT_EQ(port, stranger.port);

  // A datagram larger than BufferSize is cut to it.
  client.BufferSize = 4;
  server.SendTo(first, "truncated");
  EXPECT_EQ(client.ReceiveText(1000), "trun");
}

TEST(UdpClient, ActiveOpensAndClosesTheSocket) {
  UdpClient client;
  EXPECT_FALSE(client.IsActive());
  client.SetActive(true);
  ASSERT_TRUE(client.IsActive());
  const int socket = client.Handle()->SocketId();
  client.SetActive(true);  // unchanged: same socket
  EXPECT_EQ(client.Handle()->SocketId(), socket);

  Peer server;
  client.SendTextTo("127.0.0.1", server.port, "a");
  int before = 0, after = 0;
  server.Receive(&before);
  client.SetActive(false);
  EXPECT_FALSE(client.IsActive());
  EXPECT_EQ(client.Handle(), nullptr);
  client.SetActive(true);
  client.SendTextTo("127.0.0.1", server.port, "b");
  server.Receive(&after);
  EXPECT_NE(before, after);
}

TEST(UdpClient, BroadcastIsAppliedWhenTheSocketOpens) {
  UdpClient client;
  client.SetBroadcastEnabled(true);  // stored only
  EXPECT_EQ(client.Handle(), nullptr);
  client.SetActive(true);
  EXPECT_EQ(client.BroadcastOption(), 1);
  client.SetBroadcastEnabled(false);
  EXPECT_EQ(client.BroadcastOption(), 0);
}

TEST(UdpClient, WhileLoadingActiveIsOnlyStored) {
  UdpClient client;
  client.BeginLoading();
  client.SetActive(true);
  EXPECT_TRUE(client.IsActive());
  client.SetBroadcastEnabled(true);  // no socket yet: nothing to set
  EXPECT_EQ(client.Handle(), nullptr);
  client.Loaded();
  ASSERT_NE(client.Handle(), nullptr);
  EXPECT_TRUE(client.Handle()->IsOpen());
  EXPECT_EQ(client.BroadcastOption(), 1);
}

}  // namespace
}  // namespace quillon
