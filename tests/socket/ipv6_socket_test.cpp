// The socket stack and handle over IPv6 on the loopback (::1): which texts
// resolve without a lookup and to which family, binding, connecting,
// accepting and datagrams with addresses in their RFC 5952 form.
#include <gtest/gtest.h>
#include <net/if.h>

#include <cerrno>
#include <string>

#include "net/socket/component.h"
#include "net/socket/exceptions.h"
#include "net/socket/platform.h"
#include "net/socket/socket_handle.h"

namespace quillon {
namespace {

class Ipv6SocketTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::FaultInjector::Reset(); }
  TIdComponent keepAlive_;
  TIdStack& stack_ = SharedStack();
};

void ExpectHostNotFound(TIdStack& stack, const std::string& host, int family) {
  SCOPED_TRACE(host);
  try {
    stack.ResolveHostName(host, family);
    ADD_FAILURE() << "resolved";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 11001);
    EXPECT_STREQ(e.what(), "Erreur de socket # 11001\r\nHôte non trouvé.");
  }
}

TEST_F(Ipv6SocketTest, LiteralsResolveToThemselvesInTheirFamilyOnly) {
  // Any lookup would fail: none may happen for these texts.
  platform::FaultInjector::FailNth(platform::Call::ResolveName, 1, 0);
  EXPECT_EQ(stack_.ResolveHostName("2001:DB8:0:0::1"), "2001:db8::1");
  EXPECT_EQ(stack_.ResolveHostName("2001:db8::1", Id_PF_INET6), "2001:db8::1");
  EXPECT_EQ(stack_.ResolveHostName("fe80::1%lo"), "fe80::1%lo");
  EXPECT_EQ(stack_.ResolveHostName("localhost", Id_PF_INET6), "::1");
  EXPECT_EQ(stack_.ResolveHostName("localhost", Id_PF_INET), "127.0.0.1");
  EXPECT_EQ(stack_.ResolveHostName("198.18.1.2", Id_PF_INET), "198.18.1.2");
  EXPECT_TRUE(TIdStack::IsIPLiteral("::1"));
  EXPECT_TRUE(TIdStack::IsIPLiteral("10.0.0.1"));
  EXPECT_FALSE(TIdStack::IsAddressLiteral("::1")) << "the IPv4 test stays IPv4 only";
  platform::FaultInjector::Reset();
  // A literal of the other family than the one asked for has no address.
  ExpectHostNotFound(stack_, "198.18.1.2", Id_PF_INET6);
  ExpectHostNotFound(stack_, "2001:db8::1", Id_PF_INET);
}

TEST_F(Ipv6SocketTest, ALookupFailureOfBothFamiliesIsTheIPv4Failure) {
  // The IPv4 lookup fails with "try again": no IPv6 lookup hides it.
  platform::FaultInjector::FailNth(platform::Call::ResolveName, 1, 0);
  try {
    stack_.HostAddressOf("name.invalid");
    ADD_FAILURE() << "resolved";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 11001);
  }
}

TEST_F(Ipv6SocketTest, StreamBindConnectAndAcceptOverIPv6) {
  TIdSocketHandle listener;
  listener.IPVersion = Id_PF_INET6;
  listener.AllocateHandle(Id_SOCK_STREAM, 0);
  listener.IP = "0:0::1";
  listener.BindLocal();
  EXPECT_EQ(listener.IP, "::1") << "read back from the socket";
  ASSERT_GT(listener.Port, 0);
  ASSERT_EQ(stack_.SockListen(listener.SocketId(), 1), 0);

  TIdSocketHandle client;
  client.IPVersion = Id_PF_INET6;
  client.AllocateHandle(Id_SOCK_STREAM, 0);
  client.BindLocal();
  EXPECT_EQ(client.IP, "::");
  client.SetRemote("::1", listener.Port);
  ASSERT_EQ(client.ConnectPeer(Id_PF_INET6), 0);
  EXPECT_EQ(client.IP, "::1");
  EXPECT_EQ(client.RemoteIP, "::1");
  EXPECT_EQ(client.RemotePort, listener.Port);

  TIdSocketHandle accepted;
  ASSERT_TRUE(accepted.AcceptFrom(listener.SocketId()));
  EXPECT_EQ(accepted.IP, "::1");
  EXPECT_EQ(accepted.Port, listener.Port);
  EXPECT_EQ(accepted.RemoteIP, "::1");
  EXPECT_EQ(accepted.RemotePort, client.Port);
  ASSERT_EQ(client.SendRaw("v6", 2, 0), 2);
  ASSERT_TRUE(accepted.WaitReadable(2000));
  char buf[4] = {};
  EXPECT_EQ(accepted.ReceiveRaw(buf, sizeof buf, 0), 2);
  EXPECT_STREQ(buf, "v6");

  // A connect to a port where nothing listens: the IPv4 error and text.
  TIdSocketHandle refused;
  refused.IPVersion = Id_PF_INET6;
  refused.AllocateHandle(Id_SOCK_STREAM, 0);
  refused.SetRemote("::1", client.Port);
  const int r = refused.ConnectPeer(Id_PF_INET6);
  ASSERT_EQ(r, -1);
  try {
    stack_.CheckSocketResult(r);
    ADD_FAILURE();
  } catch (const EIdSocketError& e) {
    EXPECT_STREQ(e.what(), "Erreur de socket # 10061\r\nConnexion refusée.");
  }
}

TEST_F(Ipv6SocketTest, DatagramsBetweenIPv6Handles) {
  TIdSocketHandle a;
  TIdSocketHandle b;
  for (TIdSocketHandle* h : {&a, &b}) {
    h->IPVersion = Id_PF_INET6;
    h->AllocateHandle(Id_SOCK_DGRAM, 0);
    h->IP = "::1";
    h->BindLocal();
  }
  a.SendDatagram("::1", b.Port, "hello", 5);
  ASSERT_TRUE(b.WaitReadable(2000));
  char buf[8] = {};
  std::string from;
  int port = 0;
  EXPECT_EQ(b.ReceiveDatagram(buf, sizeof buf, 0, from, port), 5);
  EXPECT_EQ(from, "::1");
  EXPECT_EQ(port, a.Port);
  // An IPv6 socket given text that is no IPv6 address: an invalid argument.
  platform::SetLastError(0);
  EXPECT_EQ(stack_.SockConnect(a.SocketId(), Id_PF_INET6, "2001:db8::1::2", b.Port), -1);
  EXPECT_EQ(stack_.LastErrorCode(), 10022);
  // A zone given by interface name reaches the right link.
  a.SendDatagram("::1%lo", b.Port, "zone", 4);
  ASSERT_TRUE(b.WaitReadable(2000));
  EXPECT_EQ(b.ReceiveDatagram(buf, sizeof buf, 0, from, port), 4);
}

// Senders are told apart by address, not by text: the same address written
// in another form, or with its zone given by index instead of by name, is
// the same sender; another address, scope or family is not.
TEST_F(Ipv6SocketTest, SameAddressComparesBytesAndScope) {
  const std::string lo = std::to_string(::if_nametoindex("lo"));
  ASSERT_NE(lo, "0");
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", true},
      {"198.18.0.1", "198.18.0.2", false},
      {"2001:db8::1", "2001:DB8:0:0:0:0:0:1", true},
      {"2001:db8::1", "2001:db8::2", false},
      {"fe80::53%lo", "fe80::53%" + lo, true},
      {"fe80::53%" + lo, "fe80::53%" + lo, true},
      {"fe80::53%" + lo, "fe80::53%" + std::to_string(std::stoi(lo) + 1000), false},
      {"fe80::53%" + lo, "fe80::53", false},
      {"fe80::53%lo", "fe80::54%lo", false},
      {"::ffff:127.0.0.1", "127.0.0.1", false},
      {"127.0.0.1", "::ffff:127.0.0.1", false},
      {"localhost", "localhost", false},
      {"", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    EXPECT_EQ(TIdStack::SameAddress(c.a, c.b), c.same);
    EXPECT_EQ(TIdStack::SameAddress(c.b, c.a), c.same);
  }
}

TEST_F(Ipv6SocketTest, ReverseLookupOfIPv6AndNonAddresses) {
  // The loopback has no reverse name in every resolver set-up; what must
  // hold is that an IPv6 text is looked up (not refused as no address).
  platform::FaultInjector::FailNth(platform::Call::ResolveAddress, 1, 0);
  try {
    stack_.HostNameOf("::1");
    ADD_FAILURE();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 11001);
  }
  EXPECT_THROW(stack_.HostNameOf("::1::"), EIdSocketError);
}

}  // namespace
}  // namespace quillon
