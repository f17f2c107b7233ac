// The IPv4 and ICMP header layouts (RFC 791, RFC 792) that the echo client
// reads and writes, and the Internet checksum (RFC 1071).
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

constexpr int Id_IPPROTO_ICMP = 1;
constexpr int Id_IPPROTO_RAW = 255;

enum TIcmpType : uint8_t {
  icmpEchoReply = 0,
  icmpDestinationUnreachable = 3,
  icmpEchoRequest = 8,
  icmpTimeExceeded = 11,
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
