// The whois that follows referrals; see whois_follow.h.
#include "app/whois/whois_follow.h"

#include <optional>
#include <set>
#include <utility>

#include "app/lookup/idn.h"
#include "app/lookup/interruptible.h"
#include "net/socket/component.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"
#include "net/tcp/whois.h"

namespace quillon {
namespace {

std::string QueryWithClient(const std::string& host, int port, const std::string& query,
                            const TWhoisFollowSettings& settings) {
  static const std::atomic<bool> kNeverInterrupted{false};
  TInterruptibleIOHandler transport(settings.Interrupted != nullptr ? *settings.Interrupted
                                                                    : kNeverInterrupted);
  TIdWhois client;
  client.SetIOHandler(&transport);
  client.SetHost(host);
  client.SetPort(port);
  client.ReadTimeout = settings.ReadTimeoutMs;
  client.MaxLineAction = maException;
  // A server trickling its answer cannot hold the chain (or a list) for
  // longer than this: past it the exchange fails as a silent one does.
  transport.Arm(settings.TimeLimit, 0);
  return client.QueryWhois(query);
}

bool Interrupted(const TWhoisFollowSettings& settings) {
  return settings.Interrupted != nullptr && settings.Interrupted->load();
}

std::string Heading(const TWhoisReferral& server) {
  std::string line = "% whois server: ";
  // An IPv6 address takes brackets when a port follows it.
  const bool brackets = server.Port != kWhoisPort && server.Host.find(':') != std::string::npos;
  if (brackets) line += '[';
  line += server.Host;
  if (brackets) line += ']';
  if (server.Port != kWhoisPort) {
    line += ':';
    line += std::to_string(server.Port);
  }
  return line;
}

std::string KeyOf(const TWhoisReferral& server) {
  return LowerAsciiLetters(server.Host) + ":" + std::to_string(server.Port);
}

// The next server: the first usable referral of `answer` whose host is not,
// and does not resolve to, a refused address, with the address it is to be
// reached at (empty when its name does not resolve: asking it fails).
// Nothing when there is none or it was asked already.
std::optional<std::pair<TWhoisReferral, std::string>> NextServer(
    const std::string& answer, const std::set<std::string>& asked,
    const TWhoisFollowSettings& settings) {
  for (auto& candidate : WhoisReferrals(answer)) {
    // A server asked already (the one just asked included) ends the chain.
    if (asked.count(KeyOf(candidate)) != 0) return std::nullopt;
    std::string address;
    try {
      address = settings.ResolveReferral ? settings.ResolveReferral(candidate.Host)
                                         : SharedStack().ResolveHostName(candidate.Host);
      // The stack reads an IPv4 text its own way (0127.0.0.1 is 127.0.0.1):
      // the address checked and reached is the one it stands for.
      if (TIdStack::IsAddressLiteral(address))
        address = SharedStack().AddressToText(SharedStack().TextToAddress(address));
    } catch (...) {
      return std::make_pair(std::move(candidate), std::string());
    }
    if (settings.RefusedAddress && settings.RefusedAddress(address)) continue;
    return std::make_pair(std::move(candidate), std::move(address));
  }
  return std::nullopt;
}

void WriteLine(std::FILE* out, const std::string& line) {
  if (!out) return;
  std::fwrite(line.data(), 1, line.size(), out);
  std::fputc('\n', out);
}

// The answer as the plain whois prints it (line breaks already one LF each),
// a last line without one ended.
void WriteAnswer(std::FILE* out, const std::string& text) {
  if (!out) return;
  std::fwrite(text.data(), 1, text.size(), out);
  if (!text.empty() && text.back() != '\n') std::fputc('\n', out);
}

void Flush(std::FILE* out) {
  if (out) std::fflush(out);
}

// "Error Whois" under the heading of the server that failed, and the
// failure told to whoever listens.
int FailUnderHeading(std::FILE* out, const TWhoisFollowSettings& settings,
                     TLookupFailure failure) {
  WriteLine(out, kErrorWhois);
  Flush(out);
  if (settings.Events) settings.Events->Failed(failure, 0);
  return 1;
}

}  // namespace

int RunWhoisFollow(const std::string& name, std::FILE* out, const TWhoisFollowSettings& settings) {
  TWhoisReferral server;
  std::string domain;  // what every server after the first is asked
  std::string query;   // what the server in turn is asked
  if (const auto address = AddressLiteral(name)) {
    // An address has no label of its own: IANA names the registry that
    // holds it.
    server = {settings.IanaServer, settings.Port};
    domain = query = *address;
  } else {
    std::string wire;
    try {
      wire = ToWireName(LowerAsciiLetters(name));
    } catch (const EIdnNameRefused&) {
      return FailUnderHeading(out, settings, TLookupFailure::NameRefused);
    }
    const std::string topLevel = domaineext(wire);
    domain = query = Trim(nowww(wire));
    // A top-level label that only the table's catch-all row covers goes to
    // IANA first, which names the label's own registry.
    if (WhoisServerFor(topLevel) == kWhoisServerDefault) {
      server = {settings.IanaServer, settings.Port};
      query = topLevel;
    } else {
      server = {settings.WhoisServerOf(topLevel), settings.Port};
    }
  }
  // The first server is reached by its name; a referral at the address
  // that was checked.
  std::string reachAt = server.Host;

  // The socket stack lives while a component does: this one keeps it for the
  // referrals' name lookups between two exchanges.
  const TIdComponent stackHolder;
  std::set<std::string> asked;
  for (int referrals = 0;; ++referrals) {
    if (!asked.empty()) WriteLine(out, "");
    WriteLine(out, Heading(server));
    Flush(out);
    asked.insert(KeyOf(server));
    if (settings.Events) settings.Events->WhoisAsked(server.Host, server.Port, query);
    std::string answer;
    try {
      // A referral whose name did not resolve cannot be asked.
      if (reachAt.empty()) return FailUnderHeading(out, settings, TLookupFailure::WhoisConnection);
      answer = settings.Query ? settings.Query(reachAt, server.Port, query)
                              : QueryWithClient(reachAt, server.Port, query, settings);
    } catch (const EOperationInterrupted&) {
      return 1;
    } catch (...) {
      return FailUnderHeading(out, settings, WhoisFailureOf(std::current_exception()));
    }
    const std::string text = NormaliseLineBreaks(answer);
    WriteAnswer(out, text);
    Flush(out);
    if (settings.Events) settings.Events->WhoisAnswered(text);
    if (referrals == kMaxWhoisReferrals) return 0;
    auto next = NextServer(answer, asked, settings);
    if (!next) return 0;
    // Ctrl-C while a referral's name was looked up: nothing more is written.
    if (Interrupted(settings)) return 1;
    server = std::move(next->first);
    reachAt = std::move(next->second);
    query = domain;
  }
}

}  // namespace quillon
