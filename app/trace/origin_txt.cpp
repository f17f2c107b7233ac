#include "app/trace/origin_txt.h"

#include <arpa/inet.h>

#include <array>

#include "net/socket/address_text.h"

namespace quillon {
namespace {

// Longer answers are not the service's: only this much is read.
constexpr size_t kMaxTxtBytes = 4096;

bool IsAskedV4(const std::array<uint8_t, 4>& a) {
  if (a[0] == 10 || a[0] == 127) return false;                  // RFC 1918, loopback
  if (a[0] == 172 && (a[1] & 0xF0) == 16) return false;         // RFC 1918
  if (a[0] == 192 && a[1] == 168) return false;                 // RFC 1918
  if (a[0] == 100 && (a[1] & 0xC0) == 64) return false;         // shared, 100.64/10
  if (a[0] == 169 && a[1] == 254) return false;                 // link-local
  return true;
}

bool IsAskedV6(const TIdIPv6Bytes& a) {
  if ((a[0] & 0xFE) == 0xFC) return false;                 // unique local, fc00::/7
  if (a[0] == 0xFE && (a[1] & 0xC0) == 0x80) return false;  // link-local, fe80::/10
  TIdIPv6Bytes loopback{};
  loopback[15] = 1;
  return a != loopback;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::optional<std::string> OriginQueryName(const std::string& address) {
  std::array<uint8_t, 4> v4{};
  if (::inet_pton(AF_INET, address.c_str(), v4.data()) == 1) {
    if (!IsAskedV4(v4)) return std::nullopt;
    return std::to_string(v4[3]) + "." + std::to_string(v4[2]) + "." + std::to_string(v4[1]) +
           "." + std::to_string(v4[0]) + "." + kOriginZone;
  }
  const std::optional<TIdIPv6Address> v6 = ParseIPv6(address);
  if (!v6 || !IsAskedV6(v6->Bytes)) return std::nullopt;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name;
  for (size_t i = v6->Bytes.size(); i-- > 0;) {
    name += kHex[v6->Bytes[i] & 0x0F];
    name += '.';
    name += kHex[v6->Bytes[i] >> 4];
    name += '.';
  }
  return name + kOrigin6Zone;
}

std::optional<uint32_t> OriginAsOf(const std::vector<std::string>& txtStrings) {
  // A record's strings are one text cut into pieces of at most 255 bytes.
  std::string text;
  for (const std::string& piece : txtStrings) {
    text += piece.substr(0, kMaxTxtBytes - text.size());
    if (text.size() >= kMaxTxtBytes) break;
  }
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  uint64_t as = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    as = as * 10 + static_cast<uint64_t>(text[i] - '0');
    if (as > UINT32_MAX) return std::nullopt;
  }
  // The number must end the field's first word: "64500x" is no AS number.
  if (digits == 0 || (i < text.size() && !IsBlank(text[i]) && text[i] != '|')) return std::nullopt;
  if (as == 0) return std::nullopt;  // AS 0: not routed (RFC 7607)
  return static_cast<uint32_t>(as);
}

}  // namespace quillon
