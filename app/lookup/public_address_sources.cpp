// The public-address sources and their list; see public_address_sources.h.
#include "app/lookup/public_address_sources.h"

#include <cstdlib>

#include "app/lookup/public_address_answer.h"
#include "app/lookup/quillon_conf.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

// The entry as it can safely go to a terminal.
std::string Shown(std::string_view entry) {
  std::string out;
  for (unsigned char c : entry.substr(0, 200)) {
    if (c < 0x20 || c == 0x7f)
      out += Sprintf("\\x%02x", c);
    else
      out += static_cast<char>(c);
  }
  if (entry.size() > 200) out += "...";
  return out;
}

// Letters, digits, '-' and '_' in labels of 1 to 63 bytes, at most 253 in
// all, one final dot allowed (and dropped).
bool ReadDnsName(std::string_view text, std::string& name) {
  if (!text.empty() && text.back() == '.') text.remove_suffix(1);
  if (text.empty() || text.size() > 253) return false;
  size_t label = 0;
  for (char c : text) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok || ++label > 63) return false;
  }
  name = LowerCase(text);
  return true;
}

// A port 1 to 65535 in decimal digits.
bool ReadPort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

// NAME@SERVER[:PORT] of a DNS source; the reason when it cannot be read.
std::string ReadDnsEntry(std::string_view rest, TPublicAddressSource& source) {
  const size_t at = rest.find('@');
  if (at == std::string_view::npos || rest.find('@', at + 1) != std::string_view::npos)
    return "expected NAME@SERVER";
  if (!ReadDnsName(rest.substr(0, at), source.name)) return "the name is not a DNS name";
  std::string_view server = rest.substr(at + 1);
  if (server.find(':') != server.rfind(':'))
    return "DNS sources are asked over IPv4; give an IPv4 address or a host name";
  if (const size_t colon = server.find(':'); colon != std::string_view::npos) {
    if (!ReadPort(server.substr(colon + 1), source.port)) return "the port is not 1 to 65535";
    server = server.substr(0, colon);
  }
  if (IsDottedIPv4(server)) {
    source.server = std::string(server);
  } else if (!ReadDnsName(server, source.server)) {
    return "the server is neither an IPv4 address nor a host name";
  }
  return {};
}

// http://HOST[:PORT][/...]; the reason when it cannot be read.
std::string ReadHttpEntry(std::string_view entry, TPublicAddressSource& source) {
  const std::string_view rest = entry.substr(7);
  const size_t end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, end);
  if (authority.find('@') != std::string_view::npos) return "user information is not supported";
  if (!authority.empty() && authority.front() == '[') return "IPv6 addresses are not supported";
  if (const size_t colon = authority.find(':'); colon != std::string_view::npos) {
    int port = 0;
    if (!ReadPort(authority.substr(colon + 1), port)) return "the port is not 1 to 65535";
    authority = authority.substr(0, colon);
  }
  std::string host;
  if (!IsDottedIPv4(authority) && !ReadDnsName(authority, host)) return "no host name in the URL";
  for (unsigned char c : entry)
    if (c <= ' ' || c >= 0x7f) return "the URL holds blanks or bytes outside ASCII";
  source.url = std::string(entry);
  return {};
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && LowerCase(text.substr(0, prefix.size())) == prefix;
}

}  // namespace

std::vector<TPublicAddressSource> ParsePublicAddressSources(std::string_view list,
                                                            std::vector<std::string>* skipped) {
  std::vector<TPublicAddressSource> sources;
  const auto skip = [&](std::string_view entry, const std::string& why) {
    if (skipped)
      skipped->push_back("skipping public-address source \"" + Shown(entry) + "\": " + why);
  };
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string entry = Trim(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (entry.empty()) continue;
    if (entry.size() > kMaxSourceEntry) {
      skip(entry, "longer than " + std::to_string(kMaxSourceEntry) + " bytes");
      continue;
    }
    if (sources.size() == kMaxPublicAddressSources) {
      skip(entry, "only the first " + std::to_string(kMaxPublicAddressSources) +
                      " sources are asked");
      continue;
    }
    TPublicAddressSource source;
    source.entry = entry;
    std::string why;
    struct TPrefix {
      std::string_view text;
      TSourceKind kind;
    };
    static constexpr TPrefix kDnsPrefixes[] = {{"dns:", TSourceKind::DnsA},
                                               {"dns-txt:", TSourceKind::DnsTxt},
                                               {"dns-chaos:", TSourceKind::DnsChaos}};
    const TPrefix* dns = nullptr;
    for (const TPrefix& p : kDnsPrefixes)
      if (StartsNoCase(entry, p.text)) dns = &p;
    if (dns) {
      source.kind = dns->kind;
      why = ReadDnsEntry(std::string_view(entry).substr(dns->text.size()), source);
    } else if (StartsNoCase(entry, "http://")) {
      source.kind = TSourceKind::Http;
      why = ReadHttpEntry(entry, source);
    } else if (StartsNoCase(entry, "https://")) {
      why = "https is not supported here; use an http:// URL";
    } else {
      why = "not a dns:, dns-txt:, dns-chaos: or http:// source";
    }
    if (!why.empty()) {
      skip(entry, why);
      continue;
    }
    sources.push_back(std::move(source));
  }
  return sources;
}

std::vector<TPublicAddressSource> DefaultPublicAddressSources() {
  return ParsePublicAddressSources(kDefaultPublicAddressSources, nullptr);
}

std::string PublicAddressSourcesSetting(const char* variable, const std::string& confPath) {
  if (variable != nullptr) return variable;
  TQuillonConf conf;
  if (conf.Load(confPath))
    if (auto value = conf.Value(kPublicAddressSection, kPublicAddressKey)) return *value;
  return kDefaultPublicAddressSources;
}

std::vector<TPublicAddressSource> ConfiguredPublicAddressSources(std::FILE* warnings,
                                                                 const char* program) {
  std::vector<std::string> skipped;
  auto sources = ParsePublicAddressSources(
      PublicAddressSourcesSetting(std::getenv(kPublicAddressSourcesVariable), QuillonConfPath()),
      &skipped);
  if (warnings) {
    for (const std::string& line : skipped) std::fprintf(warnings, "%s: %s\n", program, line.c_str());
    std::fflush(warnings);
  }
  return sources;
}

}  // namespace quillon
