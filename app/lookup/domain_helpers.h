// Small name routines of the tool: the top-level label of a name, the
// registered domain of a host name, the whois server for a top-level label,
// the first configured DNS server and the reverse name of an address.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The whois servers, chosen by top-level label (WhoisServerFor).
inline constexpr const char* kWhoisServerFr = "whois.nic.fr";
inline constexpr const char* kWhoisServerBiz = "whois.nic.biz";
inline constexpr const char* kWhoisServerInfo = "whois.nic.info";
inline constexpr const char* kWhoisServerName = "whois.nic.name";
inline constexpr const char* kWhoisServerGeneric = "whois.internic.net";
inline constexpr const char* kWhoisServerDefault = "whois.ripe.net";

// The resolver configuration read by getdns.
inline constexpr const char* kResolvConfPath = "/etc/resolv.conf";

// A name written with one final dot (the root, spelled out) is the same
// name without it: the dot goes, with any blanks after it. A name that is
// only a dot, or ends in two, stays as it is.
std::string_view WithoutFinalDot(std::string_view name);

// Everything after the last dot (the whole name without one), trimmed of
// blanks and control characters; one final dot is no label of its own
// (example.fr. gives fr).
std::string domaineext(std::string_view name);

// The registered domain: the last two labels, three when they are com.fr; a
// name without a dot gets a trailing dot. One final dot is dropped first
// (example.com. gives example.com).
std::string nowww(std::string_view name);

// The address that a name stands for when it is an IPv4 or IPv6 address
// literal, blanks around it removed: IPv4 dotted-decimal, IPv6 in its RFC
// 5952 form without a zone (fe80::1%eth0 gives fe80::1). Nothing for any
// other name.
std::optional<std::string> AddressLiteral(std::string_view name);

// The whois server for a top-level label (exact, case-sensitive match).
std::string WhoisServerFor(std::string_view topLevelLabel);

// The address of the first "nameserver" line holding an IPv4 or IPv6
// address in the resolver configuration at `path` (IPv6 in its RFC 5952
// form); empty when there is none or the file cannot be read.
std::string getdns(const std::string& path = kResolvConfPath);

// The host name of an IPv4 or IPv6 address by reverse lookup (in-addr.arpa,
// ip6.arpa); the input unchanged when it is no address or has no name. Blocks until the system's
// resolver answers; never throws.
std::string ip2dns(const std::string& address);

// Lower-cases the letters A to Z only (edit box's focus-out rule); every
// other byte, those of multi-byte UTF-8 sequences included, stays.
std::string LowerAsciiLetters(std::string_view text);

}  // namespace quillon
