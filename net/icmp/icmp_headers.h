// The IPv4, IPv6, ICMP and ICMPv6 header layouts (RFC 791, 792, 8200, 4443)
// that the echo client reads and writes, and the Internet checksum (RFC 1071).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillon {

// Offsets into the IPv4 header that a raw socket delivers before each message.
namespace ip_header {
constexpr size_t kVersionAndLength = 0;  // version (high 4 bits), IHL in words (low 4 bits)
constexpr size_t kTotalLength = 2;
constexpr size_t kTimeToLive = 8;
constexpr size_t kProtocol = 9;
constexpr size_t kSourceAddress = 12;
constexpr size_t kDestinationAddress = 16;
constexpr size_t kMinimumSize = 20;  // IHL 5, no options
}  // namespace ip_header

// Offsets into an ICMP message.
namespace icmp_header {
constexpr size_t kType = 0;
constexpr size_t kCode = 1;
constexpr size_t kChecksum = 2;
constexpr size_t kIdentifier = 4;  // echo messages
constexpr size_t kSequence = 6;    // echo messages
constexpr size_t kData = 8;        // errors quote the offending IP header and datagram here
constexpr size_t kSize = 8;
}  // namespace icmp_header

// Offsets into the IPv6 header (RFC 8200). A raw ICMPv6 socket delivers no
// header; the client lays one out before each message so that IPv4 and
// IPv6 answers are read the same way.
namespace ip6_header {
constexpr size_t kVersion = 0;  // version in the high 4 bits
constexpr size_t kPayloadLength = 4;
constexpr size_t kNextHeader = 6;
constexpr size_t kHopLimit = 7;
constexpr size_t kSourceAddress = 8;
constexpr size_t kDestinationAddress = 24;
constexpr size_t kSize = 40;
}  // namespace ip6_header

// ICMPv6 error messages (RFC 4443) quote the invoking packet after 4 unused
// bytes, like ICMP errors after their 8-byte header.
constexpr size_t kIcmp6ErrorHeaderSize = 8;

constexpr int Id_IPPROTO_ICMP = 1;
constexpr int Id_IPPROTO_ICMPV6 = 58;
constexpr int Id_IPPROTO_RAW = 255;

enum TIcmpType : uint8_t {
  icmpEchoReply = 0,
  icmpDestinationUnreachable = 3,
  icmpEchoRequest = 8,
  icmpTimeExceeded = 11,
};

enum TIcmp6Type : uint8_t {
  icmp6DestinationUnreachable = 1,
  icmp6PacketTooBig = 2,
  icmp6TimeExceeded = 3,
  icmp6ParameterProblem = 4,
  icmp6EchoRequest = 128,
  icmp6EchoReply = 129,
};

// The Internet checksum of `message` (its checksum field holding 0): the
// one's complement of the one's-complement sum of its 16-bit words, taken as
// they lie in memory. Stored back in memory order (StoreChecksum) it is the
// right network-order value on any host. An odd last byte is padded with 0.
uint16_t InternetChecksum(std::span<const uint8_t> message);
// Computes the checksum over `message` with the field at `offset` zeroed and
// writes it there.
void StoreChecksum(std::span<uint8_t> message, size_t offset);

}  // namespace quillon
