#include "net/tcp/io_handler.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/socket/error_text.h"
#include "net/socket/platform.h"
#include "net/tcp/tcp_client.h"
#include "net/tcp/tcp_exceptions.h"
#include "tests/support/support.h"
#include "tests/tcp/tcp_test_util.h"

namespace quillon {
namespace {

using test::EventLog;
using test::MillisSince;

TEST(IOHandler, ReceiveAndSendWithoutSocketRaiseClosedSocket) {
  TIdIOHandlerSocket h;
  char b[4];
  for (auto f : {+[](TIdIOHandlerSocket&x, char*p) { x.ReceiveInto(p, 4); },
                 +[](TIdIOHandlerSocket&x, char*p) { x.SendFrom(p, 4); }}) {
    try {
      f(h, b);
      ADD_FAILURE() << "no exception";
    } catch (const EIdClosedSocket& e) {
      EXPECT_STREQ(e.what(), "Déconnecté.");
    }
  }
  EXPECT_FALSE(h.HasSocket());
}

TEST(IOHandler, StatusReportsForLiteralAndNamedHosts) {
  test::TcpServer server([](int) {});
  for (const std::string host : {"127.0.0.1", "localhost"}) {
    TIdTCPClient client;
    EventLog log;
    log.Attach(client);
    client.SetHost(host);
    client.SetPort(server.port());
    client.OpenConnection();
    client.CloseConnection();
    std::vector<std::pair<TIdStatus, std::string>> want;
    if (host == "localhost") want.emplace_back(hsResolving, "Résolution du nom d'hôte localhost.");
    want.emplace_back(hsConnecting, "Connexion à 127.0.0.1.");
    want.emplace_back(hsConnected, "Connecté.");
    want.emplace_back(hsDisconnecting, "Déconnexion.");
    want.emplace_back(hsDisconnected, "Déconnecté.");
    EXPECT_EQ(log.statuses, want) << host;
  }
}

TEST(IOHandler, NagleOffSetsNoDelayAndBoundPortIsUsed) {
  test::TcpServer server([](int) {});
  TIdIOHandlerSocket handler;
  handler.UseNagle = false;
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetHost("127.0.0.1");
  client.SetPort(server.port());
  const int local = test::FreePort();
  client.BoundPort = local;
  client.OpenConnection();
  int value = 0;
  socklen_t len = sizeof value;
  ASSERT_EQ(
      ::getsockopt(handler.SocketHandle()->SocketId(), IPPROTO_TCP, TCP_NODELAY, &value, &len), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(handler.SocketHandle()->Port, local);
  client.CloseConnection();
  EXPECT_FALSE(handler.HasSocket());  // not owned: kept, closed
}

TEST(IOHandler, ConnectsDirectlyAndThroughTheConnectingThread) {
  test::TcpServer server([](int fd) { test::SendAll(fd, "hi\n"); });
  for (int timeout : {UseDefaultTimeout, 0, 1000, WaitForever}) {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.port());
    client.OpenConnection(timeout);
    EXPECT_EQ(client.ReceiveLine(), "hi") << timeout;
    auto* h = dynamic_cast<TIdIOHandlerSocket*>(client.IOHandler());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->SocketHandle()->RemotePort, server.port());
    EXPECT_NE(h->SocketHandle()->Port, 0);  // the local binding was read back
    client.CloseConnection();
  }
}

TEST(IOHandler, RefusedConnections) {
  const int port = test::FreePort();  // nothing listens there
  {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    try {
      client.OpenConnection();
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.SocketErrorCode, 10061);
      EXPECT_EQ(std::string(e.what()), SocketErrorMessage(10061));
    }
    EXPECT_FALSE(client.IOHandler()->HasSocket());  // dropped after the failure
  }
  {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    const auto start = std::chrono::steady_clock::now();
    try {
      client.OpenConnection(1000);
      FAIL() << "no exception";
    } catch (const EIdConnectException& e) {
      EXPECT_EQ(std::string(e.what()), SocketErrorMessage(10061));
    }
    EXPECT_LT(MillisSince(start), 500);
    EXPECT_FALSE(client.IOHandler()->HasSocket());
  }
}

TEST(IOHandler, ConnectFailureInsideTheThreadIsReported) {
  test::TcpServer server([](int) {});
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.port());
  platform::FaultInjector::FailNth(platform::Call::Connect, 1, ENETUNREACH);
  try {
    client.OpenConnection(1000);
    FAIL() << "no exception";
  } catch (const EIdConnectException& e) {
    EXPECT_EQ(std::string(e.what()), SocketErrorMessage(10051));
  }
  platform::FaultInjector::Reset();
}

TEST(IOHandler, SocksOtherThanNoneIsRefused) {
  test::TcpServer server([](int) {});
  TIdIOHandlerSocket handler;
  EXPECT_EQ(handler.SocksInfo().Version, svNoSocks);
  EXPECT_EQ(handler.SocksInfo().Port, 1080);
  handler.SocksInfo().Version = svSocks5;
  handler.SocksInfo().Host = "127.0.0.1";
  handler.SocksInfo().Port = server.port();
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetHost("192.0.2.1");
  client.SetPort(43);
  EXPECT_THROW(client.OpenConnection(), EIdSocksNotSupported);
  EXPECT_FALSE(handler.HasSocket());
}

// An address whose packets vanish: in a namespace of our own, a veth pair
// with 198.18.0.1/24 on one end and no address on the other, and a fixed
// neighbour entry for 198.18.0.2 (so no ARP failure ends the connect); the
// SYNs reach the bare end and are dropped there.
TEST(IOHandler, TimedConnectToADroppingAddressTimesOutAndClosesTheSocket) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to create a network namespace";
  test::NetNs ns("qtcp");
  ASSERT_EQ(ns.Exec("ip link add v0 type veth peer name v1 && ip link set v0 up && "
                    "ip link set v1 up && ip addr add 198.18.0.1/24 dev v0 && "
                    "ip neigh replace 198.18.0.2 lladdr 02:00:00:00:00:02 dev v0 nud permanent"),
            0);
  std::string failure;
  double elapsed = 0;
  bool socketClosed = false;
  std::thread inside([&] {
    if (!ns.EnterFromThisThread()) {
      failure = "could not enter the namespace";
      return;
    }
    TIdTCPClient client;
    client.SetHost("198.18.0.2");
    client.SetPort(43);
    const auto start = std::chrono::steady_clock::now();
    try {
      client.OpenConnection(1000);
      failure = "connected";
    } catch (const EIdConnectTimeout& e) {
      if (std::string(e.what()) != "Délai de connexion.") failure = e.what();
    } catch (const std::exception& e) {
      failure = std::string("other failure: ") + e.what();
    }
    elapsed = MillisSince(start);
    socketClosed = !client.IOHandler()->HasSocket();
  });
  inside.join();
  EXPECT_EQ(failure, "");
  EXPECT_GE(elapsed, 950);
  EXPECT_LT(elapsed, 2500);
  EXPECT_TRUE(socketClosed);
}

}  // namespace
}  // namespace quillon
