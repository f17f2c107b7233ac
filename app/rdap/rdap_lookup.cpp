// The RDAP lookup; see rdap_lookup.h. One fetcher (HTTP over TLS) serves the
// bootstrap fetch, the registry's answer and the registrar's; each request is
// bounded in time and bytes.
#include "app/rdap/rdap_lookup.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "app/lookup/idn.h"
#include "app/lookup/interruptible.h"
#include "app/lookup/domain_helpers.h"
#include "app/lookup/printable_text.h"
#include "app/rdap/rdap_bootstrap.h"
#include "app/rdap/rdap_cache.h"
#include "app/rdap/rdap_document.h"
#include "app/rdap/rdap_fetcher.h"
#include "app/rdap/rdap_registry.h"

namespace quillon {

namespace {

// A URL in one spelling, to tell whether two name the same document: scheme
// and host in lower case, no default port, no fragment.
std::string SameUrlKey(const std::string& url) {
  const TIdURI u(url);
  std::string key = LowerAsciiLetters(u.Protocol) + "://" + LowerAsciiLetters(u.Host);
  if (!u.Port.empty() && !(LowerAsciiLetters(u.Protocol) == "https" && u.Port == "443")) key += ":" + u.Port;
  return key + u.Path + u.Document + u.Params;
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

// What is asked of which services.
struct TQuery {
  TRdapObjectKind kind = TRdapObjectKind::Domain;
  std::string path;  // "domain/NAME", "ip/ADDRESS", "autnum/N"
  std::vector<std::string> services;
};

// The block of one answer: its document as served (--json), or its summary
// lines and "RDAP server:". A document that cannot be read raises, naming
// the server.
std::string AnswerBlock(const TFetched& answer, TRdapObjectKind kind, bool json) {
  std::string block;
  try {
    if (json) {
      CheckRdapJson(answer.body);
      block = answer.body;
      if (block.empty() || block.back() != '\n') block += '\n';
      return block;
    }
    for (const std::string& line : RdapSummaryLines(answer.body, kind)) block += line + "\n";
  } catch (const ERdapError& e) {
    throw ERdapError(std::string(e.what()) + " from " + PrintableText(answer.host));
  }
  return block + "RDAP server: " + PrintableText(answer.url) + "\n";
}

void Write(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

// The registry → registrar step: the first related RDAP link over https that
// names no document already asked for, fetched with the same bounds. Its
// failure is reported after the registry's block and does not fail the
// lookup.
void FollowRegistrar(TRdapFetcher& fetcher, const TFetched& registry,
                     const std::set<std::string>& asked, const TRdapOptions& options,
                     std::FILE* out) {
  std::string link;
  for (const std::string& href : RdapRelatedLinks(registry.body)) {
    if (IsHttps(href) && asked.count(SameUrlKey(href)) == 0) {
      link = href;
      break;
    }
  }
  if (link.empty()) return;
  // Blocks are apart by an empty line; JSON documents follow one another.
  const std::string gap = options.json ? "" : "\n";
  std::string block;
  try {
    block = AnswerBlock(fetcher.Get(link, "application/rdap+json"), TRdapObjectKind::Domain,
                        options.json);
  } catch (const ERdapError& e) {
    block = "Error RDAP: registrar service: " + OneLine(e.what()) + "\n";
  }
  Write(out, gap + block);
}

// The top-level domain as typed, for the whois fallback's line.
std::string TypedTopLevel(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

int Lookup(const std::string& input, const TRdapOptions& options, std::FILE* out) {
  if (!IsHttps(options.bootstrapBase)) throw ERdapError("the bootstrap URL must be https");
  TRdapFetcher fetcher(options);
  TQuery query;
  if (const std::optional<uint32_t> asn = ParseAsNumber(input)) {
    query.kind = TRdapObjectKind::Autnum;
    query.services = AsnServiceUrls(BootstrapRegistry(fetcher, options, "asn.json"), *asn);
    query.path = "autnum/" + std::to_string(*asn);
    if (query.services.empty()) return Fail(out, "no RDAP service for AS" + std::to_string(*asn));
  } else if (const std::optional<TRdapAddress> address = ParseRdapAddress(input)) {
    query.kind = TRdapObjectKind::Network;
    query.services = AddressServiceUrls(
        BootstrapRegistry(fetcher, options, address->v6 ? "ipv6.json" : "ipv4.json"), *address);
    query.path = "ip/" + address->text;
    if (query.services.empty()) return Fail(out, "no RDAP service for " + PrintableText(input));
  } else {
    std::string name = LowerAsciiLetters(RdapQueryName(input));
    if (!name.empty() && name.back() == '.') name.pop_back();
    // Only a host name's characters go into the URL.
    const bool hostName = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
    });
    if (!hostName) return Fail(out, "no RDAP service for " + PrintableText(input));
    query.services = DomainServiceUrls(BootstrapRegistry(fetcher, options, "dns.json"), name);
    query.path = "domain/" + name;
    if (query.services.empty()) {
      if (!options.whoisFallback) return Fail(out, "no RDAP service for " + PrintableText(input));
      // Top-level domains without RDAP still have whois.
      std::fprintf(out, "%% no RDAP service for .%s, whois instead\n",
                   PrintableText(TypedTopLevel(input)).c_str());
      std::fflush(out);
      return options.whoisFallback(input, out);
    }
  }

  const std::string url = query.services.front() + query.path;
  TFetched answer;
  try {
    answer = fetcher.Get(url, "application/rdap+json");
  } catch (const ERdapStatusError& e) {
    if (e.Code == 404) return Fail(out, "not found");
    throw;
  }
  Write(out, AnswerBlock(answer, query.kind, options.json));
  if (query.kind != TRdapObjectKind::Domain || options.noFollow) return 0;
  FollowRegistrar(fetcher, answer, {SameUrlKey(url), SameUrlKey(answer.url)}, options, out);
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
