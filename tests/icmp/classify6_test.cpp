// Classification of hand-built ICMPv6 messages (laid out behind an IPv6
// header, as the client receives them): which ones answer our request, and
// which ones (neighbour discovery, router advertisements, errors about other
// requests, unreadable ones) are passed over.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "net/icmp/reply_status.h"
#include "tests/icmp/messages.h"

namespace quillon {
namespace {

using test::EchoMessage;
using test::Error6Message;
using test::WithIp6Header;

constexpr uint16_t kId = 0x4321;
constexpr uint16_t kSeq = 3489;

TEST(ClassifyReply6, MatchingMessagesFillTheStatus) {
  struct Case {
    const char* name;
    std::vector<uint8_t> message;
    std::optional<uint16_t> identifier;
    ReplyOutcome outcome;
  };
  const Case cases[] = {
      {"echo reply", WithIp6Header(EchoMessage({129, kId, kSeq}), "2001:db8:3::2", 61), kId,
       roEchoReply},
      {"unreachable", WithIp6Header(Error6Message(1, 0, {128, kId, kSeq}), "2001:db8:1::2", 64),
       kId, roUnreachable},
      {"time exceeded", WithIp6Header(Error6Message(3, 0, {128, kId, kSeq}), "2001:db8:1::2", 64),
       kId, roTtlExpired},
      {"quote cut right after the sequence",
       WithIp6Header(Error6Message(3, 0, {128, kId, kSeq}, 8), "2001:db8:1::2", 64), kId,
       roTtlExpired},
      {"datagram socket: identifier not compared",
       WithIp6Header(EchoMessage({129, 7, kSeq}), "2001:db8:3::2", 61), std::nullopt, roEchoReply},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TReplyStatus s;
    ASSERT_TRUE(ClassifyReply6(c.message, kSeq, c.identifier, s));
    EXPECT_EQ(s.Outcome, c.outcome);
    EXPECT_EQ(s.ByteCount, static_cast<int32_t>(c.message.size()));
    EXPECT_EQ(s.IcmpType, c.message[40]);
    EXPECT_EQ(s.IcmpCode, c.message[41]);
    EXPECT_EQ(s.Sequence, kSeq);
    EXPECT_EQ(s.ReceivedTtl, c.message[7]) << "the hop limit";
  }
  TReplyStatus s;
  ASSERT_TRUE(ClassifyReply6(
      WithIp6Header(EchoMessage({129, kId, kSeq}), "2001:DB8:0:0:0:0:3:2", 9), kSeq, kId, s));
  EXPECT_EQ(s.SourceAddress, "2001:db8::3:2") << "RFC 5952 form";
}

TEST(ClassifyReply6, UnrelatedAndUnreadableMessagesAreIgnored) {
  const std::vector<uint8_t> reply = EchoMessage({129, kId, kSeq});
  std::vector<uint8_t> wrongVersion = WithIp6Header(reply, "2001:db8:3::2", 64);
  wrongVersion[0] = 0x45;
  struct Case {
    const char* name;
    std::vector<uint8_t> message;
  };
  const Case cases[] = {
      {"other sequence", WithIp6Header(EchoMessage({129, kId, kSeq + 1}), "2001:db8:3::2", 64)},
      {"other program", WithIp6Header(EchoMessage({129, 0x1111, kSeq}), "2001:db8:3::2", 64)},
      // Our own request on the way to a local address, or anyone's copy.
      {"echo request with our identifier and sequence",
       WithIp6Header(EchoMessage({128, kId, kSeq}), "::1", 64)},
      {"error about another request",
       WithIp6Header(Error6Message(3, 0, {128, kId, 7}), "2001:db8:1::2", 64)},
      {"error quoting another protocol",
       WithIp6Header(Error6Message(1, 4, {128, kId, kSeq}, 52, 17), "2001:db8:1::2", 64)},
      {"quote cut before the sequence",
       WithIp6Header(Error6Message(3, 0, {128, kId, kSeq}, 6), "2001:db8:1::2", 64)},
      {"packet too big quoting ours",
       WithIp6Header(Error6Message(2, 0, {128, kId, kSeq}), "2001:db8:1::2", 64)},
      {"parameter problem quoting ours",
       WithIp6Header(Error6Message(4, 0, {128, kId, kSeq}), "2001:db8:1::2", 64)},
      {"neighbour solicitation", WithIp6Header(EchoMessage({135, 0, 0}, 16), "fe80::1", 255)},
      {"neighbour advertisement", WithIp6Header(EchoMessage({136, 0, 0}, 16), "fe80::1", 255)},
      {"router advertisement", WithIp6Header(EchoMessage({134, 0, 0}, 8), "fe80::1", 255)},
      {"multicast listener report", WithIp6Header(EchoMessage({143, 0, 0}, 20), "fe80::1", 1)},
      {"4-byte message", WithIp6Header({129, 0, 0, 0}, "2001:db8:3::2", 64)},
      {"IPv6 header only", WithIp6Header({}, "2001:db8:3::2", 64)},
      {"39 bytes", std::vector<uint8_t>(39, 0x60)},
      {"not version 6", wrongVersion},
      {"next header not ICMPv6", WithIp6Header(reply, "2001:db8:3::2", 64, 17)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TReplyStatus s;
    EXPECT_FALSE(ClassifyReply6(c.message, kSeq, kId, s));
    EXPECT_EQ(s.SourceAddress, "");
  }
}

TEST(ClassifyReply6, NothingReceivedIsTheTimeOutStatus) {
  TReplyStatus s;
  ASSERT_TRUE(ClassifyReply6({}, kSeq, kId, s));
  EXPECT_EQ(s.Outcome, roTimedOut);
  EXPECT_EQ(s.SourceAddress, "::");
  EXPECT_EQ(s.Sequence, kSeq);
}

}  // namespace
}  // namespace quillon
