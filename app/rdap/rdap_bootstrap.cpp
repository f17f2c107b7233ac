// Bootstrap registry matching; see rdap_bootstrap.h. A registry is
// {"services": [[[keys...], [urls...]], ...]}; entries of any other shape
// are skipped.
#include "app/rdap/rdap_bootstrap.h"

#include <arpa/inet.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "app/rdap/rdap_document.h"

namespace quillon {

namespace {

using Json = nlohmann::json;

Json ParseRegistry(std::string_view registry) {
  if (registry.size() > kRdapMaxDocument) throw ERdapError("bootstrap registry too large");
  Json parsed = Json::parse(registry.begin(), registry.end(), nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) throw ERdapError("invalid bootstrap registry");
  return parsed;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The https URLs of one service entry; http ones are left out, as answers
// over them could not be trusted.
std::vector<std::string> HttpsUrls(const Json& urls) {
  std::vector<std::string> out;
  if (!urls.is_array()) return out;
  for (const Json& u : urls) {
    if (!u.is_string()) continue;
    std::string url = u.get<std::string>();
    if (Lower(url.substr(0, 8)) != "https://" || url.size() <= 8) continue;
    if (url.back() != '/') url += '/';
    out.push_back(url);
  }
  return out;
}

// Calls `match(key)` for every key of every well-formed entry and keeps the
// URLs of the entry whose key scored highest (a score < 0 is no match).
template <typename Score>
std::vector<std::string> BestEntry(std::string_view registry, Score score) {
  const Json json = ParseRegistry(registry);
  const auto it = json.find("services");
  if (it == json.end() || !it->is_array()) return {};
  int64_t best = -1;
  std::vector<std::string> urls;
  for (const Json& entry : *it) {
    if (!entry.is_array() || entry.size() < 2 || !entry[0].is_array()) continue;
    for (const Json& key : entry[0]) {
      if (!key.is_string()) continue;
      const int64_t s = score(key.get<std::string>());
      if (s <= best) continue;
      std::vector<std::string> found = HttpsUrls(entry[1]);
      if (found.empty()) continue;
      best = s;
      urls = std::move(found);
    }
  }
  return urls;
}

// Digits only, at most 10 of them, naming a 32-bit number.
std::optional<uint32_t> AsNumberDigits(std::string_view digits) {
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace

void CheckBootstrapRegistry(std::string_view registry) {
  const Json json = ParseRegistry(registry);
  const auto strings = [](const Json& list) {
    return list.is_array() &&
           std::all_of(list.begin(), list.end(), [](const Json& s) { return s.is_string(); });
  };
  const auto it = json.find("services");
  const bool shaped =
      it != json.end() && it->is_array() && std::all_of(it->begin(), it->end(), [&](const Json& e) {
        return e.is_array() && e.size() >= 2 && strings(e[0]) && strings(e[1]);
      });
  if (!shaped) throw ERdapError("invalid bootstrap registry");
}

std::optional<TRdapAddress> ParseRdapAddress(const std::string& text) {
  TRdapAddress a;
  char canonical[INET6_ADDRSTRLEN] = {};
  if (inet_pton(AF_INET, text.c_str(), a.bytes.data()) == 1) {
    inet_ntop(AF_INET, a.bytes.data(), canonical, sizeof canonical);
  } else if (inet_pton(AF_INET6, text.c_str(), a.bytes.data()) == 1) {
    a.v6 = true;
    inet_ntop(AF_INET6, a.bytes.data(), canonical, sizeof canonical);
  } else {
    return std::nullopt;
  }
  a.text = canonical;
  return a;
}

std::optional<uint32_t> ParseAsNumber(std::string_view text) {
  if (text.size() < 3 || (text[0] != 'a' && text[0] != 'A') || (text[1] != 's' && text[1] != 'S'))
    return std::nullopt;
  return AsNumberDigits(text.substr(2));
}

std::vector<std::string> AsnServiceUrls(std::string_view registry, uint32_t number) {
  // Ranges such as "64496-64511" (or one number); the narrowest that holds
  // the number wins.
  return BestEntry(registry, [&](const std::string& key) -> int64_t {
    const size_t dash = key.find('-');
    const std::optional<uint32_t> first = AsNumberDigits(std::string_view(key).substr(0, dash));
    const std::optional<uint32_t> last =
        dash == std::string::npos ? first : AsNumberDigits(std::string_view(key).substr(dash + 1));
    if (!first || !last || *first > *last || number < *first || number > *last) return -1;
    return int64_t{UINT32_MAX} - (int64_t{*last} - int64_t{*first});
  });
}

std::vector<std::string> DomainServiceUrls(std::string_view registry, const std::string& domain) {
  const std::string name = Lower(domain);
  return BestEntry(registry, [&](const std::string& key) {
    const std::string suffix = Lower(key);
    if (suffix.empty()) return -1;
    const bool matches =
        name == suffix || (name.size() > suffix.size() &&
                           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                           name[name.size() - suffix.size() - 1] == '.');
    if (!matches) return -1;
    int labels = 1;
    for (char c : suffix) labels += c == '.';
    return labels;
  });
}

std::vector<std::string> AddressServiceUrls(std::string_view registry,
                                            const TRdapAddress& address) {
  return BestEntry(registry, [&](const std::string& key) {
    const size_t slash = key.find('/');
    const std::optional<TRdapAddress> network = ParseRdapAddress(key.substr(0, slash));
    if (!network || network->v6 != address.v6) return -1;
    const int width = address.v6 ? 128 : 32;
    int length = width;
    if (slash != std::string::npos) {
      const std::string digits = key.substr(slash + 1);
      if (digits.empty() || digits.size() > 3) return -1;
      length = 0;
      for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        length = length * 10 + (c - '0');
      }
      if (length > width) return -1;
    }
    for (int bit = 0; bit < length; ++bit) {
      const int byte = bit / 8;
      const int mask = 0x80 >> (bit % 8);
      if ((network->bytes[byte] & mask) != (address.bytes[byte] & mask)) return -1;
    }
    return length;
  });
}

}  // namespace quillon
