// The socket stack: result judging, name resolution rules, address texts,
// services, local addresses and the socket set limit.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "net/socket/component.h"
#include "net/socket/exceptions.h"
#include "net/socket/platform.h"
#include "net/socket/stack.h"

namespace quillon {
namespace {

class StackTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::FaultInjector::Reset(); }
  TIdComponent keepAlive_;
  TIdStack& stack_ = SharedStack();
};

TEST_F(StackTest, CheckSocketResultJudgesOnlyMinusOne) {
  stack_.LastSocketError = 777;
  EXPECT_FALSE(stack_.CheckSocketResult(0));
  EXPECT_FALSE(stack_.CheckSocketResult(12345));
  EXPECT_EQ(stack_.LastSocketError.load(), 777) << "success must leave the last error alone";

  platform::SetLastError(10048);
  EXPECT_TRUE(stack_.CheckSocketResult(-1, {10035, 10048}));
  EXPECT_EQ(stack_.LastSocketError.load(), 10048);

  platform::SetLastError(10054);
  try {
    stack_.CheckSocketResult(-1, {10048});
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 10054);
    EXPECT_STREQ(e.what(),
                 "Erreur de socket # 10054\r\nConnexion réinitialisée par l'homologue (peer).");
  }
}

TEST_F(StackTest, LocalhostAndLiteralsNeedNoLookup) {
  // Any lookup would fail: none may happen for these texts.
  platform::FaultInjector::FailNth(platform::Call::ResolveName, 1, 0);
  for (const char* host : {"localhost", "LocalHost", "LOCALHOST"})
    EXPECT_EQ(stack_.ResolveHostName(host), "127.0.0.1") << host;
  EXPECT_EQ(stack_.ResolveHostName("10.0.0.1"), "10.0.0.1");
  EXPECT_EQ(stack_.ResolveHostName("0.0.0.0"), "0.0.0.0");
}

TEST_F(StackTest, TextsThatAreNotLiteralsGoToTheLookup) {
  for (const char* host : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "a.b.c.d", "1..2.3"}) {
    EXPECT_FALSE(TIdStack::IsAddressLiteral(host)) << host;
    platform::FaultInjector::FailNth(platform::Call::ResolveName, 1, 0);
    try {
      stack_.ResolveHostName(host);
      FAIL() << host << " was not looked up";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.SocketErrorCode, 11001);
      EXPECT_STREQ(e.what(), "Erreur de socket # 11001\r\nHôte non trouvé.");
    }
  }
  EXPECT_TRUE(TIdStack::IsAddressLiteral("255.255.255.255"));
}

TEST_F(StackTest, AddressTextsAndBytes) {
  const TIdAddressBytes b = stack_.TextToAddress("192.168.1.20");
  EXPECT_EQ(b, (TIdAddressBytes{192, 168, 1, 20}));
  EXPECT_EQ(stack_.AddressToText(b), "192.168.1.20");
  EXPECT_EQ(stack_.TextToAddress32("127.0.0.1"), htonl(INADDR_LOOPBACK));
  EXPECT_THROW(stack_.TextToAddress("1.x.3.4"), EIdConvertError);
}

TEST_F(StackTest, HostsFileNamesResolveBothWays) {
  // Both directions are answered from /etc/hosts: nothing leaves the machine.
  EXPECT_EQ(stack_.HostNameOf("127.0.0.1"), "localhost");
  EXPECT_THROW(stack_.HostNameOf("not an address"), EIdSocketError);
}

TEST_F(StackTest, ServicesByNameNumberOrNeither) {
  if (std::filesystem::exists("/etc/services")) {
    EXPECT_EQ(stack_.ServicePort("http"), 80);
    const auto names = stack_.ServiceNames(80);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), "http");
  }
  EXPECT_EQ(stack_.ServicePort("43"), 43);
  EXPECT_TRUE(stack_.ServiceNames(1).empty() || !stack_.ServiceNames(1).front().empty());
  try {
    stack_.ServicePort("no-such-service");
    FAIL();
  } catch (const EIdInvalidServiceName& e) {
    EXPECT_STREQ(e.what(), "no-such-service n'est pas un service correct.");
  }
  EXPECT_THROW(stack_.ServicePort("70000"), EIdInvalidServiceName);
}

TEST_F(StackTest, LocalAddressesEndWithLoopback) {
  const auto list = stack_.LocalAddresses();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.back().rfind("127.", 0), 0u) << list.back();
  for (const auto& a : list) EXPECT_TRUE(TIdStack::IsAddressLiteral(a)) << a;
  EXPECT_EQ(stack_.LocalAddress(), list.front());

  platform::FaultInjector::FailNth(platform::Call::LocalAddresses, 1, ENOMEM);
  try {
    stack_.LocalAddresses();
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 10055);
  }
}

TEST_F(StackTest, NewSocketFailureIsInvalidSocket) {
  platform::FaultInjector::FailNth(platform::Call::Socket, 2, EMFILE);
  const int first = stack_.NewSocket(Id_SOCK_STREAM, 0);
  EXPECT_GE(first, 0);
  stack_.SockClose(first);
  try {
    stack_.NewSocket(Id_SOCK_STREAM, 0);
    FAIL();
  } catch (const EIdInvalidSocket& e) {
    EXPECT_STREQ(e.what(), "Impossible d'allouer le socket.");
  }
}

TEST_F(StackTest, WaitRefusesMoreThan64SocketsBeforeAnySystemCall) {
  platform::FaultInjector::FailNth(platform::Call::Wait, 1, EINVAL);
  std::vector<int> many(65, 0);
  EXPECT_THROW(stack_.WaitSockets(&many, nullptr, 0, nullptr), EIdStackSetSizeExceeded);
  // The armed fault is still pending: no system call was made.
  std::vector<int> none;
  EXPECT_EQ(stack_.WaitSockets(&none, nullptr, 0, nullptr), -1);
}

TEST_F(StackTest, WaitReportsReadySocketsInOrder) {
  int a[2], b[2];
  ASSERT_EQ(::pipe(a), 0);
  ASSERT_EQ(::pipe(b), 0);
  ASSERT_EQ(::write(b[1], "x", 1), 1);
  std::vector<int> reads{a[0], b[0]};
  EXPECT_EQ(stack_.WaitSockets(&reads, nullptr, 0, nullptr), 1);
  EXPECT_EQ(reads, std::vector<int>{b[0]});

  std::vector<int> idle{a[0]};
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(stack_.WaitSockets(&idle, nullptr, 150, nullptr), 0);
  EXPECT_GE(platform::TickCount() - start, 140u);
  EXPECT_TRUE(idle.empty());

  // Descriptors from 1024 up are beyond what select could hold. A normal
  // user's soft limit is often 1024: raise it to the hard limit first.
  constexpr int kHigh = 1500;
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit saved = limit;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= kHigh) {
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= kHigh) {
      for (int fd : {a[0], a[1], b[0], b[1]}) ::close(fd);
      GTEST_SKIP() << "the hard limit on open files (" << limit.rlim_max
                   << ") is too low for descriptor " << kHigh;
    }
    limit.rlim_cur = limit.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0) << std::strerror(errno);
  }
  const int high = ::dup2(b[0], kHigh);
  ASSERT_EQ(high, 1500);
  std::vector<int> highList{high};
  std::vector<int> writes{a[1]};
  EXPECT_EQ(stack_.WaitSockets(&highList, &writes, 0, nullptr), 2);
  EXPECT_EQ(highList, std::vector<int>{1500});
  for (int fd : {a[0], a[1], b[0], b[1], high}) ::close(fd);

  std::vector<int> closed{high};
  EXPECT_EQ(stack_.WaitSockets(&closed, nullptr, 0, nullptr), -1);
  EXPECT_EQ(stack_.LastErrorCode(), 10009);
  ::setrlimit(RLIMIT_NOFILE, &saved);
}

// A failed accept or recvfrom still hands back an address record, which the
// stack formats: it must be zeroed, not left as whatever the stack held.
TEST_F(StackTest, FailedAcceptAndRecvFromGiveAZeroAddress) {
  sockaddr_storage record;
  const auto zeroed = [&record] {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    return std::all_of(bytes, bytes + sizeof record, [](unsigned char b) { return b == 0; });
  };
  std::memset(&record, 0xAB, sizeof record);
  platform::FaultInjector::FailNth(platform::Call::Accept, 1, ECONNABORTED);
  EXPECT_EQ(platform::Accept(-1, record), -1);
  EXPECT_TRUE(zeroed());
  std::memset(&record, 0xAB, sizeof record);
  char byte = 0;
  platform::FaultInjector::FailNth(platform::Call::RecvFrom, 1, ECONNREFUSED);
  EXPECT_EQ(platform::RecvFrom(-1, &byte, 1, 0, record), -1);
  EXPECT_TRUE(zeroed());

  std::string ip = "unset";
  int port = -1;
  platform::FaultInjector::FailNth(platform::Call::Accept, 1, ECONNABORTED);
  EXPECT_EQ(stack_.SockAccept(-1, ip, port), -1);
  EXPECT_EQ(ip, "0.0.0.0");
  EXPECT_EQ(port, 0);
  ip = "unset";
  port = -1;
  platform::FaultInjector::FailNth(platform::Call::RecvFrom, 1, ECONNREFUSED);
  EXPECT_EQ(stack_.SockRecvFrom(-1, &byte, 1, 0, ip, port), -1);
  EXPECT_EQ(ip, "0.0.0.0");
  EXPECT_EQ(port, 0);
}

TEST(SocketList, HoldsSixtyFourAndMovesTheLastIntoAGap) {
  TIdSocketListPosix list;
  for (int i = 0; i < 64; ++i) list.Add(100 + i);
  EXPECT_THROW(list.Add(999), EIdStackSetSizeExceeded);
  list.Remove(100);
  EXPECT_EQ(list.Count(), 63);
  EXPECT_EQ(list.Item(0), 163);
  list.Remove(5);  // absent: ignored
  EXPECT_EQ(list.Count(), 63);
  EXPECT_THROW(list.Item(63), EIdStackSetSizeExceeded);
  EXPECT_THROW(list.Item(-1), EIdStackSetSizeExceeded);
  EXPECT_TRUE(list.Contains(150));
}

}  // namespace
}  // namespace quillon
