#include "app/dns/reverse_name.h"

#include <arpa/inet.h>

#include "net/socket/address_text.h"

namespace quillon {

std::optional<std::string> ReverseDnsName(std::string_view address) {
  const std::string text(address);
  in_addr v4{};
  if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    const auto* b = reinterpret_cast<const unsigned char*>(&v4.s_addr);
    return std::to_string(b[3]) + "." + std::to_string(b[2]) + "." + std::to_string(b[1]) + "." +
           std::to_string(b[0]) + ".in-addr.arpa";
  }
  const auto v6 = ParseIPv6(address);
  if (!v6 || !v6->Zone.empty()) return std::nullopt;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name;
  for (auto it = v6->Bytes.rbegin(); it != v6->Bytes.rend(); ++it) {
    name += kDigits[*it & 0x0F];
    name += '.';
    name += kDigits[*it >> 4];
    name += '.';
  }
  return name + "ip6.arpa";
}

}  // namespace quillon
