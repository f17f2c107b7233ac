// The PTR question's name for an address: in-addr.arpa for IPv4 (RFC 1035
// 3.5), nibbles under ip6.arpa for IPv6 (RFC 3596 2.5).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// "2.2.18.198.in-addr.arpa" for 198.18.2.2, "1.0.0...8.b.d.0.1.0.0.2.ip6.arpa"
// for 2001:db8::1; nothing for text that is no address (a zone is refused).
std::optional<std::string> ReverseDnsName(std::string_view address);

}  // namespace quillon
