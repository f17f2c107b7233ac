// quillon-cli rdap: the registration data of a domain name, an IP address or
// an AS number from its RDAP service, found through the IANA bootstrap
// registries (kept in a cache), fetched over https with the certificate
// verified; for a domain, then the registrar's record it links to.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

namespace quillon {

struct TRdapOptions {
  // Print the server's JSON document instead of the summary lines.
  bool json = false;
  // Stop at the registry's answer: no registrar step.
  bool noFollow = false;
  // For a domain whose top-level domain has no RDAP service: what
  // `whois --follow NAME` does (its lines, its exit status). Empty: the
  // "no RDAP service" line instead.
  std::function<int(const std::string& name, std::FILE* out)> whoisFallback;
  // Where dns.json, ipv4.json and ipv6.json are fetched from.
  std::string bootstrapBase = "https://data.iana.org/rdap/";
  // Empty: no cache at all.
  std::string cacheDir;
  // Test worlds only: host names connected to these addresses (the
  // certificate is still verified against the name).
  std::map<std::string, std::string> hostAddresses;
  // Test worlds only: resolves a host name to an address text in place of
  // the system's resolver (raising on failure).
  std::function<std::string(const std::string& host)> resolveHost;
  // Seconds since 1970; empty: the system clock.
  std::function<int64_t()> clock;
  int requestTimeoutMs = 10000;
  size_t maxDocument = size_t{4} << 20;
  // Set from another thread to end the lookup at once.
  const std::atomic<bool>* interrupted = nullptr;
};

// The options quillon-cli starts from: the cache in DefaultRdapCacheDir();
// the environment variable QUILLON_RDAP_BOOTSTRAP (for test worlds) replaces
// the bootstrap base URL, which must still be https.
TRdapOptions DefaultRdapOptions();

// The name as it goes into the RDAP URL: an international name as its
// A-labels (as for whois and DNS); a name that cannot be converted as typed.
std::string RdapQueryName(const std::string& name);

// Writes the lines of one lookup to `out`: a domain name, an IP address or
// an AS number ("AS64496", any letter case). A domain's answer is followed
// by the registrar's record when the registry links to it (unless
// noFollow), after an empty line. Returns 0 done (a failed registrar step
// included: it writes "Error RDAP: registrar service: ..."), 1 after one
// "Error RDAP: ..." line, or when interrupted (then nothing more is
// written); the whois fallback returns its own status.
int RunRdap(const std::string& name, const TRdapOptions& options, std::FILE* out);

}  // namespace quillon
