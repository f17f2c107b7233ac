// Referral answers of the end-to-end world's whois servers: an IANA-style
// server naming each test top-level label's registry, a thin registry that
// points at a registrar, a loop between two servers, a server that is down
// and a chain longer than any client should follow.
#pragma once

#include <optional>
#include <string>

namespace quillon::e2e {

// The IANA-style server and the servers it and the others refer to. The
// down server has a name and an address but nothing listens there.
inline constexpr const char* kIanaServer = "whois.iana.org";
inline constexpr const char* kDeRegistry = "whois.de-registry.test";
inline constexpr const char* kRegistrar = "whois.registrar.test";
inline constexpr const char* kLoopA = "whois.loop-a.test";
inline constexpr const char* kLoopB = "whois.loop-b.test";
inline constexpr const char* kChain[4] = {"whois.chain1.test", "whois.chain2.test",
                                          "whois.chain3.test", "whois.chain4.test"};
inline constexpr const char* kDownServer = "whois.down.test";
// The query that the thin registry (whois.internic.net) answers with a
// pointer to the registrar.
inline constexpr const char* kThinQuery = "thin.com";

namespace detail {
inline std::string LastLabel(const std::string& query) {
  const auto dot = query.rfind('.');
  return dot == std::string::npos ? query : query.substr(dot + 1);
}
inline std::string IanaAnswer(const std::string& query, const std::string& registry) {
  std::string a = "% IANA WHOIS server\n% This query returned 1 object\n\n";
  a += "refer:        " + registry + "\n\ndomain:       " + query + "\n\n";
  a += "whois:        " + registry + "\n\nstatus:       ACTIVE\n";
  return a;
}
}  // namespace detail

// The referral answer of `server` to `query`, or nothing when the server
// answers with its plain text (whois_answer.h).
inline std::optional<std::string> ReferralAnswer(const std::string& server,
                                                 const std::string& query) {
  const std::string domain = "domain:      " + query + "\r\n";
  if (server == kIanaServer) {
    // IANA is asked for the top-level label (or, by some clients, the
    // whole name): the answer names that label's registry.
    const std::string label = detail::LastLabel(query);
    if (label == "de") return detail::IanaAnswer(label, kDeRegistry);
    if (label == "loop") return detail::IanaAnswer(label, kLoopA);
    if (label == "chain") return detail::IanaAnswer(label, kChain[0]);
    if (label == "down") return detail::IanaAnswer(label, kDownServer);
    return "% IANA WHOIS server\n% This query returned 0 objects.\n";
  }
  if (server == "whois.internic.net" && query == kThinQuery)
    return "   Domain Name: THIN.COM\r\n   Registry Domain ID: 1_DOMAIN\r\n"
           "   Registrar WHOIS Server: " +
           std::string(kRegistrar) + "\r\n   Registrar URL: http://www.registrar.test\r\n";
  if (server == kLoopA) return domain + "whois:       " + kLoopB + "\r\n";
  if (server == kLoopB) return domain + "ReferralServer: whois://" + kLoopA + "\r\n";
  if (server == kChain[0])
    return domain + "ReferralServer: rwhois://" + kChain[3] + ":4321\r\nrefer: " + kChain[1] +
           "\r\n";
  if (server == kChain[1]) return domain + "ReferralServer: whois://" + kChain[2] + ":43\r\n";
  if (server == kChain[2]) return domain + "Registrar WHOIS Server: " + kChain[3] + "\r\n";
  if (server == kChain[3]) return domain + "whois: " + kIanaServer + "\r\n";
  return std::nullopt;
}

}  // namespace quillon::e2e
