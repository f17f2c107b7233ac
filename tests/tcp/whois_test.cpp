#include "net/tcp/whois.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/socket/error_text.h"
#include "net/tcp/tcp_exceptions.h"
#include "tests/support/support.h"
#include "tests/tcp/tcp_test_util.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using test::Capture;
using test::EventLog;
using test::MillisSince;
using test::TcpServer;

// A whois server: reads the query line, hands it to `query`, then runs `answer`.
TcpServer::Script Server(Capture& query, std::function<void(int)> answer) {
  return [&query, answer](int fd) {
    query.Set(test::RecvLine(fd, 3000));
    answer(fd);
  };
}

void Aim(TIdWhois& whois, const TcpServer& server, int readTimeout = 5000) {
  whois.SetHost("127.0.0.1");
  whois.SetPort(server.port());
  whois.ReadTimeout = readTimeout;
}

TEST(Whois, DefaultsArePort43) {
  TIdWhois whois;
  EXPECT_EQ(whois.Port(), 43);
  EXPECT_FALSE(whois.Host().empty());
}

TEST(Whois, SendsTheQueryAndCrLfAndKeepsTheAnswerBytes) {
  struct Case {
    std::string query;
    std::string answer;
  };
  const Case cases[] = {
      {"example.com", "Domain Name: EXAMPLE.COM\nRegistrar: x\n"},  // bare LF kept
      {"", "line\r\nother\r\n\x80\xff"},                            // empty query
      {"nothing.test", ""},                                         // empty answer
  };
  for (const auto& c : cases) {
    Capture query;
    TcpServer server(Server(query, [&c](int fd) { test::SendAll(fd, c.answer); }));
    TIdWhois whois;
    EventLog log;
    log.Attach(whois);
    Aim(whois, server);
    EXPECT_EQ(whois.QueryWhois(c.query), c.answer);
    EXPECT_EQ(query.Get(), c.query + "\r\n");
    EXPECT_EQ(log.Kinds(), (std::vector<TIdStatus>{hsConnecting, hsConnected, hsDisconnected,
                                                   hsDisconnecting, hsDisconnected}));
    EXPECT_FALSE(whois.IsConnected());
  }
}

TEST(Whois, AnswerInManySmallBlocksIsJoinedInOrder) {
  Capture query;
  std::string expected;
  for (int i = 0; i < 60; ++i) expected += "block " + std::to_string(i) + "\n";
  TcpServer server(Server(query, [](int fd) {
    for (int i = 0; i < 60; ++i) {
      test::SendAll(fd, "block " + std::to_string(i) + "\n");
      std::this_thread::sleep_for(3ms);
    }
  }));
  TIdWhois whois;
  Aim(whois, server, 1000);
  EXPECT_EQ(whois.QueryWhois("example.org"), expected);
}

TEST(Whois, PartialAnswerThenSilenceRaisesReadTimeoutAndCloses) {
  Capture query;
  TcpServer server(Server(query, [](int fd) {
    test::SendAll(fd, "Domain: part");
    test::RecvUntilClose(fd, 3000);
  }));
  TIdWhois whois;
  Aim(whois, server, 300);
  const auto start = std::chrono::steady_clock::now();
  try {
    whois.QueryWhois("example.net");
    FAIL() << "no exception";
  } catch (const EIdReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Délai de lecture");
  }
  EXPECT_GE(MillisSince(start), 280);
  EXPECT_FALSE(whois.IsConnected());
  EXPECT_EQ(whois.IOHandler(), nullptr);  // the handler it created is freed
}

TEST(Whois, QueryWithLineBreakOrNulIsRefusedBeforeConnecting) {
  Capture query;
  TcpServer server(Server(query, [](int) {}));
  for (const std::string& q :
       {std::string("a\r\nb"), std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
    TIdWhois whois;
    Aim(whois, server);
    try {
      whois.QueryWhois(q);
      FAIL() << "no exception";
    } catch (const EIdWhoisInvalidQuery& e) {
      EXPECT_STREQ(e.what(),
                   "Requête whois refusée : elle contient un retour chariot, un saut de ligne ou "
                   "un octet nul.");
    }
    EXPECT_EQ(whois.IOHandler(), nullptr);
  }
  EXPECT_EQ(server.accepted(), 0);
}

TEST(Whois, EndlessAnswerIsCutPast16MiB) {
  Capture query;
  TcpServer server(Server(query, [](int fd) {
    const std::string block(1 << 16, 'w');
    for (int i = 0; i < 400 && test::SendAll(fd, block); ++i) {  // 25 MiB at most
    }
  }));
  TIdWhois whois;
  Aim(whois, server);
  try {
    whois.QueryWhois("big.example");
    FAIL() << "no exception";
  } catch (const EIdReplyTooLong& e) {
    EXPECT_STREQ(e.what(), "Réponse trop longue : plus de 16777216 octets reçus.");
  }
  EXPECT_FALSE(whois.IsConnected());
}

TEST(Whois, RefusedAndResetFailuresPropagate) {
  {
    TIdWhois whois;
    whois.SetHost("127.0.0.1");
    whois.SetPort(test::FreePort());
    try {
      whois.QueryWhois("example.com");
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.SocketErrorCode, 10061);
    }
  }
  {
    Capture query;
    TcpServer server(Server(query, [](int fd) {
      test::SendAll(fd, "partial");
      std::this_thread::sleep_for(50ms);
      const linger hard{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }));
    TIdWhois whois;
    Aim(whois, server);
    try {
      whois.QueryWhois("example.com");
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.SocketErrorCode, 10054);
      EXPECT_EQ(std::string(e.what()), SocketErrorMessage(10054));
    }
    EXPECT_FALSE(whois.IsConnected());
  }
}

// A one-connection whois server on [::1]: reads the query line, answers
// with `answer` and closes. Bounded: gives up after two seconds.
class Ipv6WhoisServer {
 public:
  explicit Ipv6WhoisServer(std::string answer) : answer_(std::move(answer)) {
    fd_ = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 1);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin6_port);
    thread_ = std::thread([this] {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 2000) != 1) return;
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      query_ = test::RecvLine(c, 2000);
      test::SendAll(c, answer_);
      ::close(c);
    });
  }
  ~Ipv6WhoisServer() {
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  int port() const { return port_; }
  // The query line; read after the exchange (the thread has written it).
  std::string query() {
    if (thread_.joinable()) thread_.join();
    return query_;
  }

 private:
  std::string answer_;
  std::string query_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// One client reaches an IPv6 literal and IPv4 servers in turn: the socket
// follows the server's family each time.
TEST(Whois, ConnectsOverIPv6ToAnIPv6LiteralAndBackToIPv4) {
  TIdWhois whois;
  EventLog log;
  log.Attach(whois);
  whois.ReadTimeout = 5000;
  for (int round = 0; round < 2; ++round) {
    {
      Ipv6WhoisServer server("v6 answer\r\n");
      whois.SetHost("0:0:0:0:0:0:0:1");
      whois.SetPort(server.port());
      EXPECT_EQ(whois.QueryWhois("example.com"), "v6 answer\r\n");
      EXPECT_EQ(server.query(), "example.com\r\n");
    }
    Capture query;
    TcpServer server(Server(query, [](int fd) { test::SendAll(fd, "v4 answer\n"); }));
    Aim(whois, server);
    EXPECT_EQ(whois.QueryWhois("example.org"), "v4 answer\n");
    EXPECT_EQ(query.Get(), "example.org\r\n");
  }
  // A literal is never "resolved", and the connecting report names the
  // address in its RFC 5952 form.
  size_t connectingToV6 = 0;
  for (const auto& [kind, text] : log.statuses) {
    EXPECT_NE(kind, hsResolving) << text;
    if (kind == hsConnecting && text.find("::1") != std::string::npos) ++connectingToV6;
  }
  EXPECT_EQ(connectingToV6, 2u);
}

}  // namespace
}  // namespace quillon
