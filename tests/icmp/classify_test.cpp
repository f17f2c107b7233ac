// Classification of hand-built messages: which ones answer our request, what
// the status holds, and which ones (unreadable or unrelated) are passed over.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/icmp/reply_status.h"
#include "tests/icmp/messages.h"

namespace quillon {
namespace {

using test::EchoFields;
using test::EchoMessage;
using test::ErrorMessage;
using test::WithIpHeader;

constexpr uint16_t kId = 0x4321;
constexpr uint16_t kSeq = 3489;

TEST(ClassifyReply, MatchingMessagesFillTheStatus) {
  struct Case {
    const char* name;
    std::vector<uint8_t> message;
    std::optional<uint16_t> identifier;
    ReplyOutcome outcome;
  };
  const Case cases[] = {
      {"echo reply", WithIpHeader(EchoMessage({0, kId, kSeq}), "198.18.3.2", 61), kId, roEchoReply},
      {"unreachable", WithIpHeader(ErrorMessage(3, 1, {8, kId, kSeq}), "198.18.3.2", 61), kId,
       roUnreachable},
      {"time exceeded", WithIpHeader(ErrorMessage(11, 0, {8, kId, kSeq}), "198.18.3.2", 61), kId,
       roTtlExpired},
      {"quote of only 8 bytes (RFC 792 minimum)",
       WithIpHeader(ErrorMessage(11, 0, {8, kId, kSeq}, 20, 8), "198.18.3.2", 61), kId,
       roTtlExpired},
      {"outer header with options",
       WithIpHeader(ErrorMessage(11, 0, {8, kId, kSeq}), "198.18.3.2", 61, 24), kId, roTtlExpired},
      {"quoted header with options, outer without",
       WithIpHeader(ErrorMessage(3, 3, {8, kId, kSeq}, 32), "198.18.3.2", 61), kId, roUnreachable},
      {"datagram socket: identifier not compared",
       WithIpHeader(EchoMessage({0, 0x0007, kSeq}), "198.18.3.2", 61), std::nullopt, roEchoReply},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TReplyStatus s;
    s.SourceAddress = "stale";
    ASSERT_TRUE(ClassifyReply(c.message, kSeq, c.identifier, s));
    EXPECT_EQ(s.Outcome, c.outcome);
    EXPECT_EQ(s.ByteCount, static_cast<int32_t>(c.message.size()));
    EXPECT_EQ(s.SourceAddress, "198.18.3.2");
    EXPECT_EQ(s.IcmpType, c.message[(c.message[0] & 0x0F) * 4u]);
    EXPECT_EQ(s.IcmpCode, c.message[(c.message[0] & 0x0F) * 4u + 1]);
    EXPECT_EQ(s.Sequence, kSeq);
    EXPECT_EQ(s.ReceivedTtl, 61);
    EXPECT_EQ(s.RoundTripMs, 0u);
  }
}

TEST(ClassifyReply, MessagesAboutOtherRequestsAreIgnored) {
  std::vector<uint8_t> badQuotedLength = ErrorMessage(11, 0, {8, kId, kSeq});
  badQuotedLength[8] = 0x44;  // IHL 4: no IPv4 header
  struct Case {
    const char* name;
    std::vector<uint8_t> message;
    std::optional<uint16_t> identifier;
    ReplyOutcome outcomeLeft;  // what the classification had set before giving up
  };
  const Case cases[] = {
      {"other sequence", WithIpHeader(EchoMessage({0, kId, kSeq + 1}), "10.0.0.1", 64), kId,
       roEchoReply},
      // Every copy of the tool starts at the same sequence number.
      {"other program, same sequence", WithIpHeader(EchoMessage({0, 0x1111, kSeq}), "10.0.0.1", 64),
       kId, roEchoReply},
      {"error about another program's request",
       WithIpHeader(ErrorMessage(11, 0, {8, 0x1111, kSeq}), "10.0.0.1", 64), kId, roTtlExpired},
      {"error about another sequence",
       WithIpHeader(ErrorMessage(3, 0, {8, kId, 7}), "10.0.0.1", 64), std::nullopt, roUnreachable},
      {"quote cut before the sequence",
       WithIpHeader(ErrorMessage(11, 0, {8, kId, kSeq}, 20, 6), "10.0.0.1", 64), kId, roTtlExpired},
      {"no quote at all", WithIpHeader({11, 0, 0, 0, 0, 0, 0, 0}, "10.0.0.1", 64), kId,
       roTtlExpired},
      {"quoted header length below 5 words", WithIpHeader(badQuotedLength, "10.0.0.1", 64), kId,
       roTtlExpired},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TReplyStatus s;
    EXPECT_FALSE(ClassifyReply(c.message, kSeq, c.identifier, s));
    EXPECT_EQ(s.Outcome, c.outcomeLeft);
    EXPECT_EQ(s.SourceAddress, "") << "nothing of a foreign message is kept";
  }
}

TEST(ClassifyReply, NothingReceivedIsTheTimeOutStatus) {
  TReplyStatus s;
  s.ByteCount = 99;
  ASSERT_TRUE(ClassifyReply({}, kSeq, kId, s));
  EXPECT_EQ(s.Outcome, roTimedOut);
  EXPECT_EQ(s.SourceAddress, "0.0.0.0");
  EXPECT_EQ(s.Sequence, kSeq);
  EXPECT_EQ(s.ByteCount, 0);
  EXPECT_EQ(s.IcmpType, 0);
  EXPECT_EQ(s.ReceivedTtl, 0);
}

// Nothing but an echo reply or an error quoting our request counts: on a
// raw socket every ICMP message of the machine arrives, and a stranger must
// neither end the wait nor abort it (the wait goes on with the time left).
TEST(ClassifyReply, UnreadableAndUnrelatedMessagesAreIgnored) {
  std::vector<uint8_t> ihlZero = WithIpHeader(EchoMessage({0, kId, kSeq}), "10.0.0.1", 64);
  ihlZero[0] = 0x40;
  std::vector<uint8_t> ihlBeyond = WithIpHeader(EchoMessage({0, kId, kSeq}, 0), "10.0.0.1", 64);
  ihlBeyond[0] = 0x4F;  // 60-byte header claimed, 28 bytes there
  struct Case {
    const char* name;
    std::vector<uint8_t> message;
  };
  const Case cases[] = {
      {"one byte", {0x45}},
      {"IP header only", WithIpHeader({}, "10.0.0.1", 64)},
      {"ICMP header cut at 7 bytes", WithIpHeader({0, 0, 0, 0, 0, 0, 0}, "10.0.0.1", 64)},
      {"4-byte echo reply", WithIpHeader({0, 0, 0, 0}, "10.0.0.1", 64)},
      {"header length beyond the data", ihlBeyond},
      {"header length 0", ihlZero},
      // Types that never answer an echo, even when they quote ours or carry
      // our identifier and sequence: our own request as a raw socket sees it
      // on the way to a local address, or anyone's copy of it.
      {"echo request with our identifier and sequence",
       WithIpHeader(EchoMessage({8, kId, kSeq}), "127.0.0.1", 64)},
      {"redirect quoting our request",
       WithIpHeader(ErrorMessage(5, 1, {8, kId, kSeq}), "10.0.0.1", 64)},
      {"parameter problem quoting our request",
       WithIpHeader(ErrorMessage(12, 0, {8, kId, kSeq}), "10.0.0.1", 64)},
      {"source quench quoting our request",
       WithIpHeader(ErrorMessage(4, 0, {8, kId, kSeq}), "10.0.0.1", 64)},
      {"timestamp request", WithIpHeader(EchoMessage({13, kId, kSeq}, 12), "10.0.0.1", 64)},
      {"timestamp reply", WithIpHeader(EchoMessage({14, kId, kSeq}), "10.0.0.1", 64)},
      {"information request", WithIpHeader(EchoMessage({15, kId, kSeq}, 0), "10.0.0.1", 64)},
      {"information reply", WithIpHeader(EchoMessage({16, kId, kSeq}, 0), "10.0.0.1", 64)},
      {"router advertisement", WithIpHeader(EchoMessage({9, 0, 0}, 8), "10.0.0.1", 64)},
      {"unknown type 200", WithIpHeader(EchoMessage({200, kId, kSeq}), "10.0.0.1", 64)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TReplyStatus s;
    s.SourceAddress = "stale";
    EXPECT_FALSE(ClassifyReply(c.message, kSeq, kId, s));
    EXPECT_FALSE(ClassifyReply(c.message, kSeq, std::nullopt, s)) << "datagram socket";
    EXPECT_EQ(s.SourceAddress, "") << "nothing of a foreign message is kept";
  }
}

}  // namespace
}  // namespace quillon
