// Hand-built ICMP messages in the form a raw socket delivers them (IPv4
// header, ICMP message), for the classification and wait tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::test {

struct EchoFields {
  uint8_t type = 0;
  uint16_t identifier = 0;
  uint16_t sequence = 0;
};

// An IPv4 header of `headerLength` bytes (options zero) from `source` with
// `ttl`, followed by `icmp`.
std::vector<uint8_t> WithIpHeader(const std::vector<uint8_t>& icmp, const std::string& source,
                                  uint8_t ttl, size_t headerLength = 20);
// An echo message (type 0 or 8): identifier and sequence little-endian.
std::vector<uint8_t> EchoMessage(const EchoFields& f, size_t dataSize = 44);
// An error message (type 3 or 11) quoting an IP header of
// `quotedHeaderLength` bytes and the first `quotedBytes` bytes of the echo.
std::vector<uint8_t> ErrorMessage(uint8_t type, uint8_t code, const EchoFields& quoted,
                                  size_t quotedHeaderLength = 20, size_t quotedBytes = 52);

// An IPv6 header (next header ICMPv6) from `source` with `hopLimit`,
// followed by `icmp`, as the client lays out what an ICMPv6 socket gives.
std::vector<uint8_t> WithIp6Header(const std::vector<uint8_t>& icmp, const std::string& source,
                                   uint8_t hopLimit, uint8_t nextHeader = 58);
// An ICMPv6 error (type 1 or 3) quoting an IPv6 header and the first
// `quotedBytes` bytes of the echo request (type 128).
std::vector<uint8_t> Error6Message(uint8_t type, uint8_t code, const EchoFields& quoted,
                                   size_t quotedBytes = 52, uint8_t quotedNextHeader = 58);

}  // namespace quillon::test
