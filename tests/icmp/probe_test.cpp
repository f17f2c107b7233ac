// The probes of a run: their ICMP checksum is the same for every sequence
// number (both families, and with the identifier a datagram socket puts in),
// and any answer names the probe it is about.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "net/icmp/echo_answer.h"
#include "net/icmp/icmp_headers.h"
#include "net/icmp/probe_request.h"
#include "net/socket/address_text.h"
#include "net/socket/stack.h"
#include "tests/icmp/messages.h"

namespace quillon {
namespace {

using test::EchoFields;

// The ICMPv6 checksum as the kernel computes it: over a pseudo-header of
// both addresses, the length and the next header, then the message.
uint16_t Icmp6Checksum(std::span<const uint8_t> message) {
  std::vector<uint8_t> all(40, 0);
  all[15] = 1;                     // source ::1
  all[16] = 0x20, all[17] = 0x01;  // destination 2001:db8::9
  all[18] = 0x0d, all[19] = 0xb8, all[31] = 9;
  all[34] = static_cast<uint8_t>(message.size() >> 8);
  all[35] = static_cast<uint8_t>(message.size() & 0xFF);
  all[39] = Id_IPPROTO_ICMPV6;
  all.insert(all.end(), message.begin(), message.end());
  return InternetChecksum(all);
}

TEST(ProbeRequest, ChecksumIsTheSameForEverySequenceNumber) {
  for (const int family : {Id_PF_INET, Id_PF_INET6}) {
    // A datagram socket replaces the identifier with its own and sums again.
    for (const uint16_t identifier : {uint16_t{0x1234}, uint16_t{0}, uint16_t{0xFFFF}}) {
      SCOPED_TRACE(testing::Message() << "family " << family << ", identifier " << identifier);
      std::array<uint8_t, kProbeRequestSize> request{};
      std::optional<uint16_t> first;
      for (uint32_t sequence = 0; sequence <= 0xFFFF; ++sequence) {
        ASSERT_EQ(BuildProbeRequest(request, family, identifier, static_cast<uint16_t>(sequence)),
                  kProbeRequestSize);
        ASSERT_EQ(request[6] | request[7] << 8, static_cast<int>(sequence));
        ASSERT_EQ(request[4] | request[5] << 8, identifier);
        uint16_t checksum;
        if (family == Id_PF_INET) {
          ASSERT_EQ(request[0], 8);
          // The checksum in place: the whole message sums to 0xFFFF.
          ASSERT_EQ(InternetChecksum(request), 0) << sequence;
          std::memcpy(&checksum, request.data() + 2, 2);
        } else {
          ASSERT_EQ(request[0], 128);
          ASSERT_EQ(request[2] | request[3], 0) << "the kernel fills it in";
          checksum = Icmp6Checksum(request);
        }
        if (!first) first = checksum;
        ASSERT_EQ(checksum, *first) << "sequence " << sequence;
      }
    }
  }
}

TEST(ProbeRequest, EverythingButTheIdsAndTheirBalanceIsFixed) {
  std::array<uint8_t, kProbeRequestSize + 4> a{};
  std::array<uint8_t, kProbeRequestSize + 4> b{};
  a.fill(0xAA);
  b.fill(0xAA);
  BuildProbeRequest(a, Id_PF_INET, 7, 1);
  BuildProbeRequest(b, Id_PF_INET, 7, 0xBEEF);
  for (size_t i = 0; i < a.size(); ++i) {
    if (i == 6 || i == 7 || i == kProbeBalanceOffset || i == kProbeBalanceOffset + 1) continue;
    EXPECT_EQ(a[i], b[i]) << "byte " << i;
  }
  EXPECT_EQ(a[kProbeRequestSize], 0xAA) << "nothing written past the request";
  std::array<uint8_t, kProbeRequestSize - 1> small{};
  EXPECT_THROW(BuildProbeRequest(small, Id_PF_INET, 7, 1), std::length_error);
}

TEST(EchoAnswer, NamesTheProbeItAnswersOrNothing) {
  const EchoFields ours{8, 0x4242, 3501};
  const EchoFields ours6{128, 0x4242, 3501};
  std::vector<uint8_t> otherProtocol = test::ErrorMessage(11, 0, ours);
  otherProtocol[8 + 9] = 17;  // the quoted datagram was UDP
  std::vector<uint8_t> quotedReply = test::ErrorMessage(11, 0, ours);
  quotedReply[8 + 20] = 0;  // the quoted message is an echo reply
  const struct {
    const char* what;
    std::vector<uint8_t> message;
    int family;
    bool read;
    ReplyOutcome outcome;
    const char* from;
  } cases[] = {
      {"echo reply", test::WithIpHeader(test::EchoMessage({0, 0x4242, 3501}), "198.18.3.2", 61),
       Id_PF_INET, true, roEchoReply, "198.18.3.2"},
      {"echo reply after IP options",
       test::WithIpHeader(test::EchoMessage({0, 0x4242, 3501}), "198.18.3.2", 61, 24), Id_PF_INET,
       true, roEchoReply, "198.18.3.2"},
      {"time exceeded", test::WithIpHeader(test::ErrorMessage(11, 0, ours), "198.18.1.1", 64),
       Id_PF_INET, true, roTtlExpired, "198.18.1.1"},
      {"unreachable, quote cut after the ids",
       test::WithIpHeader(test::ErrorMessage(3, 1, ours, 20, 8), "198.18.1.1", 64), Id_PF_INET,
       true, roUnreachable, "198.18.1.1"},
      {"our own request seen on a raw socket",
       test::WithIpHeader(test::EchoMessage(ours), "127.0.0.1", 64), Id_PF_INET, false,
       roEchoReply, ""},
      {"redirect", test::WithIpHeader(test::ErrorMessage(5, 1, ours), "198.18.1.1", 64),
       Id_PF_INET, false, roEchoReply, ""},
      {"error about a UDP datagram", test::WithIpHeader(otherProtocol, "198.18.1.1", 64),
       Id_PF_INET, false, roEchoReply, ""},
      {"error about an echo reply", test::WithIpHeader(quotedReply, "198.18.1.1", 64), Id_PF_INET,
       false, roEchoReply, ""},
      {"quote cut before the sequence",
       test::WithIpHeader(test::ErrorMessage(11, 0, ours, 20, 7), "198.18.1.1", 64), Id_PF_INET,
       false, roEchoReply, ""},
      {"quoted header length below 20",
       test::WithIpHeader(test::ErrorMessage(11, 0, ours, 16), "198.18.1.1", 64), Id_PF_INET,
       false, roEchoReply, ""},
      {"header only", test::WithIpHeader({}, "198.18.1.1", 64), Id_PF_INET, false, roEchoReply,
       ""},
      {"nothing", {}, Id_PF_INET, false, roEchoReply, ""},
      {"echo reply v6",
       test::WithIp6Header(test::EchoMessage({129, 0x4242, 3501}), "2001:db8:3::2", 62),
       Id_PF_INET6, true, roEchoReply, "2001:db8:3::2"},
      {"time exceeded v6", test::WithIp6Header(test::Error6Message(3, 0, ours6), "2001:db8:1::1", 64),
       Id_PF_INET6, true, roTtlExpired, "2001:db8:1::1"},
      {"unreachable v6", test::WithIp6Header(test::Error6Message(1, 0, ours6), "2001:db8:1::1", 64),
       Id_PF_INET6, true, roUnreachable, "2001:db8:1::1"},
      {"our own request v6", test::WithIp6Header(test::EchoMessage(ours6), "::1", 64), Id_PF_INET6,
       false, roEchoReply, ""},
      {"packet too big v6",
       test::WithIp6Header(test::Error6Message(2, 0, ours6), "2001:db8:1::1", 64), Id_PF_INET6,
       false, roEchoReply, ""},
      {"v6 error quoting UDP",
       test::WithIp6Header(test::Error6Message(3, 0, ours6, 52, 17), "2001:db8:1::1", 64),
       Id_PF_INET6, false, roEchoReply, ""},
      {"v6 header naming UDP",
       test::WithIp6Header(test::EchoMessage({129, 0x4242, 3501}), "2001:db8:3::2", 62, 17),
       Id_PF_INET6, false, roEchoReply, ""},
      {"an IPv4 message read as IPv6",
       test::WithIpHeader(test::EchoMessage({0, 0x4242, 3501}), "198.18.3.2", 61), Id_PF_INET6,
       false, roEchoReply, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<TEchoAnswer> answer = ReadEchoAnswer(c.message, c.family);
    ASSERT_EQ(answer.has_value(), c.read);
    if (!answer) continue;
    EXPECT_EQ(answer->Outcome, c.outcome);
    EXPECT_EQ(answer->Identifier, 0x4242);
    EXPECT_EQ(answer->Sequence, 3501);
    EXPECT_EQ(answer->SourceAddress, c.from);
    EXPECT_GT(answer->ReceivedTtl, 60);
  }
}

}  // namespace
}  // namespace quillon
