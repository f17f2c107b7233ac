// The origin AS of an address from the Team Cymru DNS service: the name to
// ask TXT records for (d.c.b.a.origin.asn.cymru.com, or the 32 nibbles of an
// IPv6 address reversed under origin6.asn.cymru.com), the addresses that are
// never asked (private, shared, loopback, link-local, unique local), and the
// first AS number read from the answer's first field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

inline constexpr const char* kOriginZone = "origin.asn.cymru.com";
inline constexpr const char* kOrigin6Zone = "origin6.asn.cymru.com";

// The name to ask for `address` (dotted IPv4 or any IPv6 form), or nothing
// for an address that is not asked (RFC 1918, 100.64/10, 127/8, 169.254/16,
// fc00::/7, fe80::/10, ::1) or that is no address.
std::optional<std::string> OriginQueryName(const std::string& address);

// The first AS number of the first field of a TXT record given as its
// strings ("64500 64501 | 192.0.2.0/24 | ZZ | arin | 2001-01-01" gives
// 64500); nothing for an empty record or one that does not start so.
std::optional<uint32_t> OriginAsOf(const std::vector<std::string>& txtStrings);

}  // namespace quillon
