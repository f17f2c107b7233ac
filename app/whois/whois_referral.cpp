// Whois referrals; see whois_referral.h.
#include "app/whois/whois_referral.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>

#include "app/lookup/idn.h"
#include "net/socket/address_text.h"

namespace quillon {
namespace {

constexpr size_t kMaxHost = 253;
constexpr size_t kMaxLabel = 63;

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// A port of 1 to 65535 in decimal digits only.
std::optional<int> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int port = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

// Letters, digits and inner hyphens in labels of 1 to 63 bytes, at most 253
// bytes in all.
bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > kMaxHost) return false;
  size_t label = 0;
  char previous = '.';
  for (const char c : host) {
    if (c == '.') {
      if (label == 0 || previous == '-') return false;
      label = 0;
    } else {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c == '-' && label > 0);
      if (!ok || ++label > kMaxLabel) return false;
    }
    previous = c;
  }
  return label > 0 && previous != '-';
}

// An IPv6 address without a zone (a zone names an interface of the server's
// machine, meaningless here), in its RFC 5952 form.
std::optional<std::string> IPv6Host(std::string_view text) {
  const auto address = ParseIPv6(text);
  if (!address || !address->Zone.empty()) return std::nullopt;
  return IPv6ToText(address->Bytes);
}

bool IsLocalIPv4(const uint8_t (&a)[4]) {
  return a[0] == 0 || a[0] == 10 || a[0] == 127 || a[0] >= 224 ||
         (a[0] == 100 && (a[1] & 0xC0) == 64) || (a[0] == 169 && a[1] == 254) ||
         (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168);
}

}  // namespace

bool IsLocalAddress(std::string_view address) {
  const std::string text(Trim(address));
  uint8_t v4[4];
  if (::inet_pton(AF_INET, text.c_str(), v4) == 1) return IsLocalIPv4(v4);
  const auto v6 = ParseIPv6(text);
  if (!v6) return false;
  const auto& b = v6->Bytes;
  bool zeroHead = true;  // the first 80 bits
  for (size_t i = 0; i < 10; ++i) zeroHead = zeroHead && b[i] == 0;
  const bool mapped = zeroHead && b[10] == 0xFF && b[11] == 0xFF;
  const bool compatible = zeroHead && b[10] == 0 && b[11] == 0;  // ::, ::1 included
  bool nat64 = b[0] == 0x00 && b[1] == 0x64 && b[2] == 0xFF && b[3] == 0x9B;
  for (size_t i = 4; i < 12; ++i) nat64 = nat64 && b[i] == 0;
  if (mapped || compatible || nat64) {
    const uint8_t embedded[4] = {b[12], b[13], b[14], b[15]};
    return IsLocalIPv4(embedded);
  }
  return b[0] == 0xFF || (b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0x80) == 0x80);
}

std::optional<TWhoisReferral> ParseWhoisServerValue(std::string_view value) {
  value = Trim(value);
  if (StartsWithNoCase(value, "whois://")) {
    value.remove_prefix(8);
  } else if (value.find("://") != std::string_view::npos) {
    return std::nullopt;  // rwhois://, http:// ...: not a whois server
  }
  while (!value.empty() && value.back() == '/') value.remove_suffix(1);
  TWhoisReferral referral;
  // An IPv6 address in brackets, with a port after them or not.
  if (!value.empty() && value.front() == '[') {
    const size_t close = value.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    auto host = IPv6Host(value.substr(1, close - 1));
    if (!host) return std::nullopt;
    const std::string_view rest = value.substr(close + 1);
    if (!rest.empty()) {
      const auto port = rest.front() == ':' ? ParsePort(rest.substr(1)) : std::nullopt;
      if (!port) return std::nullopt;
      referral.Port = *port;
    }
    referral.Host = std::move(*host);
    return referral;
  }
  // An IPv6 address alone; its colons leave no room for a port.
  if (auto host = IPv6Host(value)) {
    referral.Host = std::move(*host);
    return referral;
  }
  const size_t colon = value.find(':');
  if (colon != std::string_view::npos) {
    const auto port = ParsePort(value.substr(colon + 1));
    if (!port) return std::nullopt;
    referral.Port = *port;
    value = value.substr(0, colon);
  }
  if (!value.empty() && value.back() == '.') value.remove_suffix(1);
  std::string host;
  try {
    host = ToWireName(value);
  } catch (const EIdnNameRefused&) {
    return std::nullopt;
  }
  for (char& c : host) c = LowerAscii(c);
  if (!IsHostName(host)) return std::nullopt;
  referral.Host = std::move(host);
  return referral;
}

std::vector<TWhoisReferral> WhoisReferrals(std::string_view answer, size_t most) {
  static constexpr std::string_view kReferralServer = "ReferralServer:";
  static constexpr std::array<std::string_view, 4> kFields = {
      "Registrar WHOIS Server:", kReferralServer, "whois:", "refer:"};
  std::vector<TWhoisReferral> found;
  for (const std::string_view field : kFields) {
    size_t start = 0;
    while (start < answer.size() && found.size() < most) {
      size_t end = answer.find_first_of("\r\n", start);
      if (end == std::string_view::npos) end = answer.size();
      std::string_view line = answer.substr(start, end - start);
      start = end + 1;
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      if (!StartsWithNoCase(line, field)) continue;
      auto referral = ParseWhoisServerValue(line.substr(field.size()));
      if (!referral) continue;
      if (referral->Port != kWhoisPort && field != kReferralServer) continue;
      found.push_back(std::move(*referral));
    }
  }
  return found;
}

std::optional<TWhoisReferral> FindWhoisReferral(std::string_view answer) {
  auto all = WhoisReferrals(answer, 1);
  if (all.empty()) return std::nullopt;
  return std::move(all.front());
}

}  // namespace quillon
