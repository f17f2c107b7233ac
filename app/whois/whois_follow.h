// `quillon-cli whois --follow`: a whois that follows referrals from server to
// server (whois.iana.org first for top-level labels the server table does not
// know) and prints every answer under a heading naming its server.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "app/lookup/domain_helpers.h"
#include "app/lookup/lookup_events.h"
#include "app/lookup/lookup_operations.h"
#include "app/whois/whois_referral.h"

namespace quillon {

inline constexpr const char* kIanaWhoisServer = "whois.iana.org";
inline constexpr int kMaxWhoisReferrals = 3;

struct TWhoisFollowSettings {
  // The first server by top-level label, and the port of it and of IANA.
  std::function<std::string(std::string_view topLevelLabel)> WhoisServerOf = WhoisServerFor;
  std::string IanaServer = kIanaWhoisServer;
  int Port = 43;
  int ReadTimeoutMs = 5000;
  // The longest one exchange (connect, query, whole answer) may take.
  std::chrono::milliseconds TimeLimit = kWhoisTimeLimit;
  // The address a referral's host is reached at (raises when it has none);
  // the default asks the socket stack. The exchange then goes to that very
  // address.
  std::function<std::string(const std::string& host)> ResolveReferral;
  // Addresses no referral may lead to (the client's own machine and
  // network); a referral to one is passed over. Tests on loopback clear it.
  std::function<bool(std::string_view address)> RefusedAddress = IsLocalAddress;
  // When set and true, the exchange in flight ends within a wait slice and
  // nothing more is written (Ctrl-C during a list).
  const std::atomic<bool>* Interrupted = nullptr;
  // One whois exchange (host, port, query → answer); raises on failure. The
  // default connects with TIdWhois.
  std::function<std::string(const std::string& host, int port, const std::string& query)> Query;
  // Told of each server asked (WhoisAsked), then of its answer
  // (WhoisAnswered, line breaks normalised) or failure (Failed); a refused
  // name is a Failed alone. nullptr: nobody.
  TLookupEvents* Events = nullptr;
};

// Writes `% whois server: HOST` (`[HOST]:PORT` for an IPv6 address with a
// port) and the answer of each server asked, an empty line between two
// answers, and "Error Whois" under the heading of a server that failed.
// An IPv4 or IPv6 address is asked as it is, of whois.iana.org first. The
// referrals followed are the usable ones (WhoisReferrals) whose host is not,
// and does not resolve to, a refused address. Returns 0 when every server
// asked answered, 1 when one failed or the name was refused. With `out`
// nullptr nothing is written (the events alone tell what happened).
int RunWhoisFollow(const std::string& name, std::FILE* out,
                   const TWhoisFollowSettings& settings = {});

}  // namespace quillon
