// Socket handles on real loopback sockets: binding rules, waits, connects,
// datagrams and closing.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "net/socket/component.h"
#include "net/socket/exceptions.h"
#include "net/socket/platform.h"
#include "net/socket/socket_handle.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

// A plain socket bound to 127.0.0.1:port (0 = any), kept for the test's life.
struct PlainSocket {
  explicit PlainSocket(int type, int wantedPort = 0) {
    fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(wantedPort));
    bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    this->port = ntohs(a.sin_port);
  }
  ~PlainSocket() { ::close(fd); }
  int fd;
  int port;
  bool bound;
};

class SocketHandleTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::FaultInjector::Reset(); }
  TIdComponent keepAlive_;
  TIdSocketHandle handle_;
};

TEST_F(SocketHandleTest, PortZeroBindsAnEphemeralPortAndReadsItBack) {
  handle_.AllocateHandle(Id_SOCK_STREAM, 0);
  handle_.IP = "127.0.0.1";
  handle_.BindLocal();
  EXPECT_GT(handle_.Port, 0);
  EXPECT_EQ(handle_.IP, "127.0.0.1");
}

TEST_F(SocketHandleTest, APortInUseCannotBeBound) {
  PlainSocket taken(SOCK_STREAM);
  handle_.AllocateHandle(Id_SOCK_STREAM, 0);
  handle_.IP = "127.0.0.1";
  handle_.Port = taken.port;
  try {
    handle_.BindLocal();
    FAIL();
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_STREQ(e.what(),
                 "Impossible d'établir une liaison avec le socket. L'adresse et le port sont "
                 "déjà utilisés.");
  }
}

TEST_F(SocketHandleTest, AFixedPortIgnoresTheRange) {
  const int port = test::FreePort();
  handle_.AllocateHandle(Id_SOCK_STREAM, 0);
  handle_.IP = "127.0.0.1";
  handle_.Port = port;
  handle_.ClientPortMin = 1000;
  handle_.ClientPortMax = 2000;
  handle_.BindLocal();
  EXPECT_EQ(handle_.Port, port);
}

TEST_F(SocketHandleTest, RangeIsTriedFromTheTopDown) {
  // Find three consecutive free ports, then take the upper two.
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int base = test::FreePort();
    if (base > 65000) continue;
    auto top = std::make_unique<PlainSocket>(SOCK_STREAM, base + 2);
    auto middle = std::make_unique<PlainSocket>(SOCK_STREAM, base + 1);
    PlainSocket probe(SOCK_STREAM, base);
    if (!top->bound || !middle->bound || !probe.bound) continue;
    ::close(probe.fd);
    probe.fd = ::socket(AF_INET, SOCK_STREAM, 0);  // frees base for the handle

    handle_.AllocateHandle(Id_SOCK_STREAM, 0);
    handle_.IP = "127.0.0.1";
    handle_.ClientPortMin = base;
    handle_.ClientPortMax = base + 2;
    handle_.BindLocal();
    EXPECT_EQ(handle_.Port, base);

    // With every port taken the range fails and names its ends.
    TIdSocketHandle other;
    other.AllocateHandle(Id_SOCK_STREAM, 0);
    other.IP = "127.0.0.1";
    other.ClientPortMin = base;
    other.ClientPortMax = base + 2;
    try {
      other.BindLocal();
      FAIL();
    } catch (const EIdCanNotBindPortInRange& e) {
      EXPECT_EQ(std::string(e.what()), "Liaison impossible dans l'étendue du port (" +
                                           std::to_string(base) + " - " + std::to_string(base + 2) +
                                           ")");
      EXPECT_EQ(other.Port, base) << "the last port tried is the minimum";
    }
    return;
  }
  GTEST_SKIP() << "no three consecutive free ports found";
}

TEST_F(SocketHandleTest, AnInvertedRangeIsRefused) {
  handle_.AllocateHandle(Id_SOCK_STREAM, 0);
  handle_.ClientPortMin = 2000;
  handle_.ClientPortMax = 1000;
  try {
    handle_.BindLocal();
    FAIL();
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_STREQ(e.what(), "Etendue de port incorrecte (2000 - 1000)");
  }
  EXPECT_FALSE(handle_.BindInRange());
}

TEST_F(SocketHandleTest, ARefusedConnectGives10061AndItsText) {
  const int port = test::FreePort();  // nothing listens there
  handle_.AllocateHandle(Id_SOCK_STREAM, 0);
  handle_.BindLocal();
  handle_.SetRemote("127.0.0.1", port);
  const int r = handle_.ConnectPeer(Id_PF_INET);
  ASSERT_EQ(r, -1);
  try {
    SharedStack().CheckSocketResult(r);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 10061);
    EXPECT_STREQ(e.what(), "Erreur de socket # 10061\r\nConnexion refusée.");
  }
}

TEST_F(SocketHandleTest, ConnectWaitReadAndClose) {
  test::TcpServer server([](int fd) {
    test::RecvLine(fd);
    test::SendAll(fd, "pong\n");
    test::RecvUntilClose(fd);
  });
  handle_.AllocateHandle(Id_SOCK_STREAM, 0);
  handle_.BindLocal();
  handle_.SetRemote("127.0.0.1", server.port());
  ASSERT_EQ(handle_.ConnectPeer(Id_PF_INET), 0);
  EXPECT_EQ(handle_.RemotePort, server.port());
  EXPECT_EQ(handle_.IP, "127.0.0.1") << "the local binding is read back after the connect";

  const uint32_t start = platform::TickCount();
  EXPECT_FALSE(handle_.WaitReadable(0));
  EXPECT_LT(platform::TickCount() - start, 500u) << "a zero wait polls once";
  EXPECT_FALSE(handle_.WaitReadable(100));
  EXPECT_GE(platform::TickCount() - start, 95u);

  ASSERT_EQ(handle_.SendRaw("ping\n", 5, 0), 5);
  EXPECT_TRUE(handle_.WaitReadable(WaitForever));
  char buf[16] = {};
  EXPECT_EQ(handle_.ReceiveRaw(buf, sizeof buf, 0), 5);
  EXPECT_STREQ(buf, "pong\n");

  handle_.ShutAndClose();
  EXPECT_FALSE(handle_.IsOpen());
  handle_.ShutAndClose();  // second close does nothing
  try {
    handle_.WaitReadable(0);
    FAIL();
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "La connexion s'est terminée proprement.");
  }
}

TEST_F(SocketHandleTest, AcceptFillsBothBindings) {
  TIdSocketHandle listener;
  listener.AllocateHandle(Id_SOCK_STREAM, 0);
  listener.IP = "127.0.0.1";
  listener.BindLocal();
  ASSERT_EQ(SharedStack().SockListen(listener.SocketId(), 1), 0);
  PlainSocket client(SOCK_STREAM);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(listener.Port));
  ASSERT_EQ(::connect(client.fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_TRUE(handle_.AcceptFrom(listener.SocketId()));
  EXPECT_TRUE(handle_.IsOpen());
  EXPECT_EQ(handle_.Port, listener.Port);
  EXPECT_EQ(handle_.RemotePort, client.port);

  TIdSocketHandle notListening;
  platform::FaultInjector::FailNth(platform::Call::Accept, 1, ENOTSOCK);
  EXPECT_FALSE(notListening.AcceptFrom(listener.SocketId()));
}

TEST_F(SocketHandleTest, DatagramsTooBigOrCutShort) {
  PlainSocket peer(SOCK_DGRAM);
  handle_.AllocateHandle(Id_SOCK_DGRAM, 0);
  handle_.BindLocal();
  const std::vector<char> huge(70000, 'x');
  try {
    handle_.SendDatagram("127.0.0.1", peer.port, huge.data(), huge.size());
    FAIL();
  } catch (const EIdPackageSizeTooBig& e) {
    EXPECT_STREQ(e.what(), "Taille de paquet trop élevée.");
  }
  handle_.SendDatagram("127.0.0.1", peer.port, "hello", 5);
  char buf[8];
  EXPECT_EQ(::recv(peer.fd, buf, sizeof buf, 0), 5);

  platform::FaultInjector::FailNth(platform::Call::SendTo, 1, EHOSTUNREACH);
  try {
    handle_.SendDatagram("127.0.0.1", peer.port, "x", 1);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 10065);
  }
}

TEST_F(SocketHandleTest, ASocketOptionFailureRaises) {
  handle_.AllocateHandle(Id_SOCK_STREAM, 0);
  const int one = 1;
  handle_.SetSocketOption(IPPROTO_TCP, 1, &one, sizeof one);
  EXPECT_THROW(handle_.SetSocketOption(SOL_SOCKET, 9999, &one, sizeof one), EIdSocketError);
}

TEST_F(SocketHandleTest, ResetKeepsOrClearsTheLocalSide) {
  handle_.IP = "127.0.0.1";
  handle_.Port = 99;
  handle_.SetRemote("10.0.0.1", 43);
  handle_.ResetBinding(false);
  EXPECT_EQ(handle_.IP, "127.0.0.1");
  EXPECT_EQ(handle_.Port, 99);
  EXPECT_EQ(handle_.RemoteIP, "");
  EXPECT_EQ(handle_.RemotePort, 0);
  EXPECT_EQ(handle_.SocketId(), Id_INVALID_SOCKET);
  TIdSocketHandle copy(80);
  EXPECT_EQ(copy.Port, 80);
  copy.Assign(handle_);
  EXPECT_EQ(copy.Port, 99);
}

}  // namespace
}  // namespace quillon
