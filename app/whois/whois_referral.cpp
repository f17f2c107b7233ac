// Whois referrals; see whois_referral.h.
#include "app/whois/whois_referral.h"

#include <array>

#include "app/lookup/idn.h"

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

}  // namespace

std::optional<TWhoisReferral> ParseWhoisServerValue(std::string_view value) {
  value = Trim(value);
  if (StartsWithNoCase(value, "whois://")) {
    value.remove_prefix(8);
  } else if (value.find("://") != std::string_view::npos) {
    return std::nullopt;  // rwhois://, http:// ...: not a whois server
  }
  while (!value.empty() && value.back() == '/') value.remove_suffix(1);
  TWhoisReferral referral;
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

std::optional<TWhoisReferral> FindWhoisReferral(std::string_view answer) {
  static constexpr std::array<std::string_view, 4> kFields = {
      "Registrar WHOIS Server:", "ReferralServer:", "whois:", "refer:"};
  for (const std::string_view field : kFields) {
    size_t start = 0;
    while (start < answer.size()) {
      size_t end = answer.find_first_of("\r\n", start);
      if (end == std::string_view::npos) end = answer.size();
      std::string_view line = answer.substr(start, end - start);
      start = end + 1;
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      if (!StartsWithNoCase(line, field)) continue;
      if (auto referral = ParseWhoisServerValue(line.substr(field.size()))) return referral;
    }
  }
  return std::nullopt;
}

}  // namespace quillon
