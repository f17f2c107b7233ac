// DNS records as text, the way dig prints them: type, class and response
// code names, the data field of every common type in its RFC presentation
// format (RFC 3597's \# form for the others), and whole answer lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/dns/dns_message.h"

namespace quillon {

// "A", "HTTPS", ..., or "TYPEnnn" for a type without a name here.
std::string DnsTypeName(uint16_t type);
// The types a user may ask for by name (A, AAAA, CAA, CNAME, DNSKEY, DS,
// HTTPS, MX, NAPTR, NS, PTR, SOA, SRV, SSHFP, SVCB, TLSA, TXT) in any letter
// case, or TYPEnnn (0 to 65535); nothing for any other word.
std::optional<uint16_t> DnsTypeFromText(std::string_view text);
// "IN", "CH", "HS", or "CLASSnnn".
std::string DnsClassName(uint16_t rclass);
// "NOERROR", "NXDOMAIN", ..., or "RCODEnnn".
std::string DnsRcodeName(int rcode);
// The header flags dig shows, in its order: "qr", "aa", "tc", "rd", "ra",
// "ad", "cd".
std::vector<std::string> DnsFlagNames(uint16_t flags);

// A name as the absolute presentation form: a final dot, "." for the root.
std::string AbsoluteDnsName(const std::string& name);

// The record's data field. Rdata that does not hold what its type says (a
// length past the end, bytes left over, a bad name) is shown in the \# form,
// which is always possible.
std::string DnsRdataText(const TDnsMessage& m, const TDnsRecord& r);

// RFC 3597: "\# LEN HEX" ("\# 0" when empty).
std::string DnsGenericRdataText(std::span<const uint8_t> rdata);

// One answer line as dig prints it: owner, TTL, class, type and data, each
// field started at dig's column (24, 32, 40, 48 with tabs of 8, or one
// blank when the text before already reaches it).
std::string DnsRecordLine(const TDnsMessage& m, const TDnsRecord& r);
// The same from fields already made.
std::string DnsRecordLine(const std::string& owner, uint32_t ttl, const std::string& rclass,
                          const std::string& type, const std::string& data);

// An IPv6 address as dig shows it: RFC 5952, with a dotted IPv4 tail for
// IPv4-mapped (::ffff:a.b.c.d) and IPv4-compatible (::a.b.c.d) addresses.
std::string DnsIPv6Text(std::span<const uint8_t, 16> bytes);

}  // namespace quillon
