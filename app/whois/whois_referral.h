// Whois referrals: the field of a whois answer that names the next server to
// ask (a thin registry's pointer to the registrar, an address registry's
// ReferralServer, the top-level registry named by whois.iana.org).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr int kWhoisPort = 43;

struct TWhoisReferral {
  std::string Host;  // lower-case host name or IPv4 address
  int Port = kWhoisPort;
  bool operator==(const TWhoisReferral&) const = default;
};

// The referral of `answer`: the first of the fields "Registrar WHOIS
// Server:", "ReferralServer:", "whois:", "refer:" (in this order of
// preference; names without case, at the start of a line after blanks) whose
// value is a usable server. A value is `host`, `host:port` or
// `whois://host[:port]`; rwhois:// and other schemes, empty values and
// hosts that are no host names are passed over.
std::optional<TWhoisReferral> FindWhoisReferral(std::string_view answer);

// One value as above; nothing when it is unusable.
std::optional<TWhoisReferral> ParseWhoisServerValue(std::string_view value);

}  // namespace quillon
