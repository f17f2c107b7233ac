// Whois referrals: the field of a whois answer that names the next server to
// ask (a thin registry's pointer to the registrar, an address registry's
// ReferralServer, the top-level registry named by whois.iana.org).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

inline constexpr int kWhoisPort = 43;
// The most referrals taken from one answer: each may cost a name lookup.
inline constexpr size_t kMaxReferralCandidates = 8;

struct TWhoisReferral {
  std::string Host;  // lower-case host name, IPv4 address or IPv6 address (RFC 5952)
  int Port = kWhoisPort;
  bool operator==(const TWhoisReferral&) const = default;
};

// The usable referrals of `answer`, in order of preference: the fields
// "Registrar WHOIS Server:", "ReferralServer:", "whois:", "refer:" (names
// without case, at the start of a line after blanks), each field's lines in
// answer order. A value is `host`, `host:port`, `[IPv6]`, `[IPv6]:port` or
// any of these after `whois://`, or an IPv6 address alone; rwhois:// and other
// schemes, empty values and hosts that are no host names are passed over. A
// port other than 43 counts only under "ReferralServer:", where address
// registries name theirs: a port elsewhere is passed over, so that an answer
// cannot point the client at another service. At most `most` are given.
std::vector<TWhoisReferral> WhoisReferrals(std::string_view answer,
                                           size_t most = kMaxReferralCandidates);

// The first of WhoisReferrals, if any.
std::optional<TWhoisReferral> FindWhoisReferral(std::string_view answer);

// One value as above; nothing when it is unusable.
std::optional<TWhoisReferral> ParseWhoisServerValue(std::string_view value);

// True for an address of the client's own machine or network, which no
// referral may lead to: IPv4 0/8, 10/8, 100.64/10, 127/8, 169.254/16,
// 172.16/12, 192.168/16 and 224/3 (multicast, reserved); IPv6 :: and ::1,
// fe80::/10, fec0::/10, fc00::/7, ff00::/8, and IPv4 addresses inside IPv6
// (::ffff:0:0/96, ::/96, 64:ff9b::/96) by their IPv4 address. False for
// anything that is no address.
bool IsLocalAddress(std::string_view address);

}  // namespace quillon
