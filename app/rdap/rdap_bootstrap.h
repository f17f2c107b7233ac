// The IANA RDAP bootstrap registries (RFC 9224): which RDAP service answers
// for a domain name (dns.json, longest matching label suffix), an address
// (ipv4.json / ipv6.json, longest matching prefix) or an AS number (asn.json,
// narrowest matching range). No network, no Qt.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// An IPv4 or IPv6 address as 16 bytes (IPv4 in the first 4).
struct TRdapAddress {
  bool v6 = false;
  std::array<uint8_t, 16> bytes{};
  std::string text;  // the canonical text form
};

// The address written in `text`, if it is one.
std::optional<TRdapAddress> ParseRdapAddress(const std::string& text);

// Raises ERdapError unless `registry` has the shape of a bootstrap registry:
// a JSON object whose "services" is an array of entries, each an array whose
// first two members are arrays of strings (keys, then URLs). Checked before
// a registry is believed or kept.
void CheckBootstrapRegistry(std::string_view registry);

// The https base URLs (each ending in "/") of the service for `domain`, in
// the registry's order; empty when no entry matches. Raises ERdapError for a
// registry that is not JSON.
std::vector<std::string> DomainServiceUrls(std::string_view registry, const std::string& domain);
std::vector<std::string> AddressServiceUrls(std::string_view registry, const TRdapAddress& address);
// For an AS number (asn.json: keys are ranges "64496-64511" or one number;
// the narrowest range holding it wins).
std::vector<std::string> AsnServiceUrls(std::string_view registry, uint32_t number);

// The number of "AS64496" (any letter case), if `text` is one.
std::optional<uint32_t> ParseAsNumber(std::string_view text);

}  // namespace quillon
