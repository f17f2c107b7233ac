// Name routines of the tool; see domain_helpers.h.
#include "app/lookup/domain_helpers.h"

#include <arpa/inet.h>

#include <array>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "net/socket/address_text.h"
#include "net/socket/platform.h"

namespace quillon {
namespace {

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string TrimBlanks(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlankOrControl(text[begin])) ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace

std::string_view WithoutFinalDot(std::string_view name) {
  size_t end = name.size();
  while (end > 0 && IsBlankOrControl(name[end - 1])) --end;
  // Something must stay before the dot, and that may not end in a dot.
  if (end < 2 || name[end - 1] != '.' || name[end - 2] == '.') return name;
  return name.substr(0, end - 1);
}

std::string domaineext(std::string_view name) {
  name = WithoutFinalDot(name);
  const size_t dot = name.rfind('.');
  return TrimBlanks(dot == std::string_view::npos ? name : name.substr(dot + 1));
}

std::string nowww(std::string_view name) {
  // Walks the name backwards label by label; the result grows by one label
  // at each dot, and stops after two labels unless they are exactly com.fr.
  name = WithoutFinalDot(name);
  std::string result;
  std::string label;
  int dots = 0;
  for (size_t i = name.size(); i-- > 0;) {
    const char c = name[i];
    if (c != '.') {
      label.insert(label.begin(), c);
      continue;
    }
    ++dots;
    if (dots == 1) {
      result = label;
    } else {
      result = label + "." + result;
      if (dots == 2 && result != "com.fr") return result;
      if (dots == 3) return result;
    }
    label.clear();
  }
  if (name.empty()) return result;
  return label + "." + result;
}

std::optional<std::string> AddressLiteral(std::string_view name) {
  const std::string text = TrimBlanks(name);
  in_addr v4{};
  if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) return text;
  if (const auto v6 = ParseIPv6(text)) return IPv6ToText(v6->Bytes);
  return std::nullopt;
}

std::string WhoisServerFor(std::string_view topLevelLabel) {
  static const std::array<std::pair<std::string_view, const char*>, 13> kTable = {{
      {"fr", kWhoisServerFr},
      {"biz", kWhoisServerBiz},
      {"info", kWhoisServerInfo},
      {"name", kWhoisServerName},
      {"com", kWhoisServerGeneric},
      {"aero", kWhoisServerGeneric},
      {"arpa", kWhoisServerGeneric},
      {"coop", kWhoisServerGeneric},
      {"edu", kWhoisServerGeneric},
      {"int", kWhoisServerGeneric},
      {"museum", kWhoisServerGeneric},
      {"net", kWhoisServerGeneric},
      {"org", kWhoisServerGeneric},
  }};
  for (const auto& [label, server] : kTable)
    if (label == topLevelLabel) return server;
  return kWhoisServerDefault;
}

std::string getdns(const std::string& path) {
  std::ifstream in(path);
  if (!in) return {};
  std::string line;
  // resolv.conf lines are short; a longer one is skipped.
  constexpr size_t kMaxLine = 4096;
  while (std::getline(in, line)) {
    if (line.size() > kMaxLine) continue;
    std::istringstream words(line);
    std::string keyword;
    std::string address;
    if (!(words >> keyword) || keyword != "nameserver" || !(words >> address)) continue;
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) == 1) return TrimBlanks(address);
    // An IPv6 server counts as well, written in its RFC 5952 form.
    if (const auto v6 = ParseIPv6(address)) return IPv6ToText(v6->Bytes, v6->Zone);
  }
  return {};
}

std::string ip2dns(const std::string& address) {
  std::string name;
  in_addr parsed{};
  if (::inet_pton(AF_INET, address.c_str(), &parsed) == 1) {
    if (!platform::ResolveAddress(parsed, name) || name.empty()) return address;
    return name;
  }
  // An IPv6 address is looked up under ip6.arpa.
  const auto v6 = ParseIPv6(address);
  if (!v6) return address;
  sockaddr_storage record{};
  auto* a = reinterpret_cast<sockaddr_in6*>(&record);
  a->sin6_family = AF_INET6;
  std::memcpy(&a->sin6_addr, v6->Bytes.data(), v6->Bytes.size());
  if (!v6->Zone.empty()) a->sin6_scope_id = platform::InterfaceIndex(v6->Zone);
  if (!platform::ResolveAddress(record, name) || name.empty()) return address;
  return name;
}

std::string LowerAsciiLetters(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace quillon
