// The 52-byte ICMP echo request: type 8, identifier and sequence number in
// the machine's (little-endian) order, the send time, and 32 bytes of data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quillon {

constexpr size_t kEchoRequestSize = 52;
constexpr size_t kEchoDataOffset = 20;
constexpr size_t kEchoDataSize = 32;
constexpr uint8_t kEchoPadding = 'E';

// Writes the request into the first 52 bytes of `area` (which must hold
// them): `data` cut to 32 bytes and padded with "E", the send time at offset
// 8, 8 zero bytes, the checksum last. Returns the request size (52).
size_t BuildEchoRequest(std::span<uint8_t> area, std::string_view data, uint16_t identifier,
                        uint16_t sequence, uint32_t sendTicks);

// The same request as an ICMPv6 echo request (type 128). Its checksum
// covers a pseudo-header of both addresses, which only the kernel knows for
// sure: the field is left 0 and the kernel fills it in (RFC 3542 §3.1).
size_t BuildEcho6Request(std::span<uint8_t> area, std::string_view data, uint16_t identifier,
                         uint16_t sequence, uint32_t sendTicks);

}  // namespace quillon
