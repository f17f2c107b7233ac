// The RDAP lookup; see rdap_lookup.h. One HTTP client with the TLS transport
// serves the bootstrap fetch and the lookup; each request is bounded in time
// (connect, handshake and reads together) and in bytes.
#include "app/rdap/rdap_lookup.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "app/lookup/idn.h"
#include "app/lookup/interruptible.h"
#include "app/rdap/rdap_bootstrap.h"
#include "app/rdap/rdap_cache.h"
#include "app/rdap/rdap_document.h"
#include "net/http/http.h"
#include "net/tls/ssl_io_handler.h"

namespace quillon {

namespace {

constexpr int64_t kDefaultMaxAge = 24 * 3600;
constexpr int kMaxRedirects = 5;
// Room for the status line and headers beside the document.
constexpr size_t kHeadRoom = 64 * 1024;

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool IsHttps(const std::string& url) {
  return LowerAscii(url.substr(0, 8)) == "https://";
}

// The interruptible transport, connecting the names of a test world to
// their addresses.
class TRdapTransport : public TInterruptibleIOHandler {
 public:
  TRdapTransport(const std::atomic<bool>& interrupted, std::map<std::string, std::string> hosts)
      : TInterruptibleIOHandler(interrupted), hosts_(std::move(hosts)) {}
  void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                 int boundPortMin, int boundPortMax, int timeout) override {
    const auto it = hosts_.find(LowerAscii(host));
    TInterruptibleIOHandler::ConnectTo(it != hosts_.end() ? it->second : host, port, boundIP,
                                       boundPort, boundPortMin, boundPortMax, timeout);
  }

 private:
  std::map<std::string, std::string> hosts_;
};

struct TFetched {
  std::string body;
  std::string url;  // where it finally came from
  std::string cacheControl;
};

class TRdapFetcher {
 public:
  explicit TRdapFetcher(const TRdapOptions& options)
      : options_(options),
        transport_(options.interrupted != nullptr ? *options.interrupted : notInterrupted_,
                   options.hostAddresses),
        tls_(transport_) {
    http_.SetIOHandler(&tls_);
    http_.HandleRedirects = true;
    // RedirectsSoFar counts requests: one more than the redirects followed.
    http_.RedirectMaximum = kMaxRedirects + 1;
    http_.MaxBodySize = static_cast<int64_t>(options.maxDocument);
    http_.AllowCookies = false;
    http_.OnRedirect = [](TIdBaseComponent*, std::string& dest, int&, bool&, TIdHTTPMethod&) {
      // A relative location stays on https; an absolute one must be https.
      if (TIdURI(dest).Protocol.empty() || IsHttps(dest)) return;
      throw ERdapError("redirect to a URL that is not https: " + PrintableText(dest));
    };
  }
  ~TRdapFetcher() {
    try {
      http_.SetIOHandler(nullptr);
    } catch (...) {
      // Nothing to report while going away.
    }
  }
  TRdapFetcher(const TRdapFetcher&) = delete;
  TRdapFetcher& operator=(const TRdapFetcher&) = delete;

  TFetched Get(const std::string& url, const std::string& accept) {
    http_.Request().Accept = accept;
    transport_.Arm(std::chrono::milliseconds(options_.requestTimeoutMs),
                   options_.maxDocument + kHeadRoom);
    TFetched fetched;
    try {
      fetched.body = http_.GetBody(url);
    } catch (const EOperationLimitExceeded& e) {
      transport_.Disarm();
      CloseQuietly();
      // The transport's own words name no host; these do.
      const std::string host = PrintableText(http_.CurrentUri().Host);
      if (std::string(e.what()) == "Time limit") {
        const int ms = options_.requestTimeoutMs;
        throw ERdapError(
            "no complete answer from " + host + " within " +
            (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms"));
      }
      throw ERdapError("answer from " + host + " larger than " +
                       std::to_string(options_.maxDocument >> 20) + " MiB");
    } catch (...) {
      transport_.Disarm();
      CloseQuietly();
      throw;
    }
    transport_.Disarm();
    // Past the last redirect allowed the client ends without a document.
    if (http_.ResponseCode() / 100 != 2) throw ERdapError("too many redirects");
    fetched.url = FinalUrl();
    fetched.cacheControl = http_.Response().HeaderLines.ValueOf("Cache-Control");
    return fetched;
  }

 private:
  void CloseQuietly() {
    try {
      if (http_.IsConnected()) http_.CloseConnection();
    } catch (...) {
      // The fetch's own failure is the one to report.
    }
  }

  std::string FinalUrl() {
    const TIdURI& u = http_.CurrentUri();
    std::string url = LowerAscii(u.Protocol) + "://" + u.Host;
    if (!u.Port.empty() && u.Port != "443") url += ":" + u.Port;
    return url + u.Path + u.Document + u.Params;
  }

  const TRdapOptions& options_;
  std::atomic<bool> notInterrupted_{false};
  TRdapTransport transport_;
  TIdSSLIOHandlerSocketOpenSSL tls_;
  TIdHTTP http_;
};

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
  CheckBootstrapRegistry(fetched.body);
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
  } catch (const EIdHTTPProtocolException& e) {
    if (e.ReplyCode() == 404) return Fail(out, "not found");
    throw;
  }
  if (options.json) {
    CheckRdapJson(answer.body);
    std::fwrite(answer.body.data(), 1, answer.body.size(), out);
    if (answer.body.empty() || answer.body.back() != '\n') std::fputc('\n', out);
  } else {
    for (const std::string& line : RdapSummaryLines(answer.body, kind))
      std::fprintf(out, "%s\n", line.c_str());
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
  } catch (const std::exception& e) {
    return Fail(out, OneLine(e.what()));
  } catch (...) {
    return Fail(out, "unknown failure");
  }
}

}  // namespace quillon
