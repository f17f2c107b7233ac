// The RDAP lookup; see rdap_lookup.h. One fetcher (HTTP over TLS) serves the
// bootstrap fetch and the lookup; each request is bounded in time and bytes.
#include "app/rdap/rdap_lookup.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "app/lookup/idn.h"
#include "app/lookup/interruptible.h"
#include "app/lookup/printable_text.h"
#include "app/rdap/rdap_bootstrap.h"
#include "app/rdap/rdap_cache.h"
#include "app/rdap/rdap_document.h"
#include "app/rdap/rdap_fetcher.h"

namespace quillon {

namespace {

constexpr int64_t kDefaultMaxAge = 24 * 3600;

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool IsHttps(const std::string& url) {
  return LowerAscii(url.substr(0, 8)) == "https://";
}

int64_t Now(const TRdapOptions& options) {
  if (options.clock) return options.clock();
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A name for the cache file of a registry fetched from `base`: the IANA
// files under their own names, any other source apart from them.
std::string CacheName(const std::string& base, const std::string& file) {
  if (base == TRdapOptions().bootstrapBase) return file;
  uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : base) hash = (hash ^ c) * 1099511628211ULL;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(hex) + "-" + file;
}

std::string Registry(TRdapFetcher& fetcher, const TRdapOptions& options, const std::string& file) {
  const TRdapCache cache(options.cacheDir);
  const std::string cacheName = CacheName(options.bootstrapBase, file);
  const int64_t now = Now(options);
  if (std::optional<std::string> cached = cache.ReadFresh(cacheName, now)) {
    // A damaged cache file is fetched again rather than trusted.
    try {
      CheckBootstrapRegistry(*cached);
      return *cached;
    } catch (const ERdapError&) {
    }
  }
  TFetched fetched = fetcher.Get(options.bootstrapBase + file, "application/json");
  try {
    CheckBootstrapRegistry(fetched.body);
  } catch (const ERdapError& e) {
    throw ERdapError(std::string(e.what()) + " from " + PrintableText(fetched.host));
  }
  cache.Store(cacheName, fetched.body, now + MaxAgeSeconds(fetched.cacheControl, kDefaultMaxAge));
  return fetched.body;
}

// One line of text: an exception's line breaks become spaces.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return PrintableText(line);
}

int Fail(std::FILE* out, const std::string& text) {
  std::fprintf(out, "Error RDAP: %s\n", text.c_str());
  std::fflush(out);
  return 1;
}

// A document's reading failure, naming the server it came from.
[[noreturn]] void FailDocument(const ERdapError& e, const TFetched& answer) {
  throw ERdapError(std::string(e.what()) + " from " + PrintableText(answer.host));
}

int Lookup(const std::string& input, const TRdapOptions& options, std::FILE* out) {
  if (!IsHttps(options.bootstrapBase)) throw ERdapError("the bootstrap URL must be https");
  TRdapFetcher fetcher(options);
  std::vector<std::string> services;
  std::string path;
  TRdapObjectKind kind;
  if (const std::optional<TRdapAddress> address = ParseRdapAddress(input)) {
    kind = TRdapObjectKind::Network;
    services = AddressServiceUrls(
        Registry(fetcher, options, address->v6 ? "ipv6.json" : "ipv4.json"), *address);
    path = "ip/" + address->text;
  } else {
    kind = TRdapObjectKind::Domain;
    std::string name = LowerAscii(RdapQueryName(input));
    if (!name.empty() && name.back() == '.') name.pop_back();
    // Only a host name's characters go into the URL.
    const bool hostName = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
    });
    if (!hostName) return Fail(out, "no RDAP service for " + PrintableText(input));
    services = DomainServiceUrls(Registry(fetcher, options, "dns.json"), name);
    path = "domain/" + name;
  }
  if (services.empty()) return Fail(out, "no RDAP service for " + PrintableText(input));

  TFetched answer;
  try {
    answer = fetcher.Get(services.front() + path, "application/rdap+json");
  } catch (const ERdapStatusError& e) {
    if (e.Code == 404) return Fail(out, "not found");
    throw;
  }
  if (options.json) {
    try {
      CheckRdapJson(answer.body);
    } catch (const ERdapError& e) {
      FailDocument(e, answer);
    }
    std::fwrite(answer.body.data(), 1, answer.body.size(), out);
    if (answer.body.empty() || answer.body.back() != '\n') std::fputc('\n', out);
  } else {
    std::vector<std::string> lines;
    try {
      lines = RdapSummaryLines(answer.body, kind);
    } catch (const ERdapError& e) {
      FailDocument(e, answer);
    }
    for (const std::string& line : lines) std::fprintf(out, "%s\n", line.c_str());
    std::fprintf(out, "RDAP server: %s\n", PrintableText(answer.url).c_str());
  }
  std::fflush(out);
  return 0;
}

}  // namespace

TRdapOptions DefaultRdapOptions() {
  TRdapOptions options;
  options.cacheDir = DefaultRdapCacheDir();
  if (const char* base = std::getenv("QUILLON_RDAP_BOOTSTRAP"); base != nullptr && base[0] != 0) {
    options.bootstrapBase = base;
    if (options.bootstrapBase.back() != '/') options.bootstrapBase += '/';
  }
  return options;
}

std::string RdapQueryName(const std::string& name) {
  // A name that cannot become A-labels is left as typed: it then matches no
  // bootstrap entry and gets the no-service line, like any unusable name.
  try {
    return ToWireName(name);
  } catch (const EIdnNameRefused&) {
    return name;
  }
}

int RunRdap(const std::string& name, const TRdapOptions& options, std::FILE* out) {
  try {
    return Lookup(name, options, out);
  } catch (const EOperationInterrupted&) {
    // Ctrl-C: the lookup ends here and writes nothing more.
    std::fflush(out);
    return 1;
  } catch (const ERdapError& e) {
    return Fail(out, OneLine(e.what()));
  } catch (const std::bad_alloc&) {
    return Fail(out, "out of memory");
  } catch (...) {
    // Failures of the exchanges arrive as ERdapError; what else comes here
    // is not for users to read.
    return Fail(out, "unexpected failure");
  }
}

}  // namespace quillon
