// IPv6 address text: every RFC 4291 form (full, "::"-compressed, with a
// dotted IPv4 tail, with a "%zone" index) parsed into 16 bytes, and the
// RFC 5952 form written back. Also tells which family an address text is.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

constexpr int Id_PF_UNSPEC = 0;
constexpr int Id_PF_INET6 = 10;

using TIdIPv6Bytes = std::array<uint8_t, 16>;

struct TIdIPv6Address {
  TIdIPv6Bytes Bytes{};
  std::string Zone;  // the text after "%", empty when none was given
};

// Longest text taken as an address: 39 characters of groups (45 with an
// IPv4 tail) and a zone of at most 15 (an interface name) after "%".
constexpr size_t kMaxIPv6TextLength = 45 + 1 + 15;

// The address `text` stands for, or nothing when it is no IPv6 literal.
std::optional<TIdIPv6Address> ParseIPv6(std::string_view text);
bool IsIPv6Literal(std::string_view text);

// RFC 5952: lower-case hex without leading zeros, the longest run of two or
// more zero groups (the first of equal runs) written "::", an IPv4-mapped
// address as ::ffff:a.b.c.d; the zone, when given, after "%".
std::string IPv6ToText(const TIdIPv6Bytes& bytes, std::string_view zone = {});

// Id_PF_INET6 for an IPv6 literal, Id_PF_INET for anything else.
int AddressFamilyOf(std::string_view text);

}  // namespace quillon
