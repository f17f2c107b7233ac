// The whois that follows referrals; see whois_follow.h.
#include "app/whois/whois_follow.h"

#include <set>
#include <utility>

#include "app/lookup/idn.h"
#include "app/lookup/interruptible.h"
#include "app/lookup/lookup_operations.h"
#include "app/whois/whois_referral.h"
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
  return client.QueryWhois(query);
}

std::string Heading(const TWhoisReferral& server) {
  std::string line = "% whois server: ";
  line += server.Host;
  if (server.Port != kWhoisPort) {
    line += ':';
    line += std::to_string(server.Port);
  }
  return line;
}

std::string KeyOf(const TWhoisReferral& server) {
  return LowerAsciiLetters(server.Host) + ":" + std::to_string(server.Port);
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

}  // namespace

int RunWhoisFollow(const std::string& name, std::FILE* out, const TWhoisFollowSettings& settings) {
  std::string wire;
  try {
    wire = ToWireName(LowerAsciiLetters(name));
  } catch (const EIdnNameRefused&) {
    WriteLine(out, kErrorWhois);
    if (settings.Events) settings.Events->Failed(TLookupFailure::NameRefused, 0);
    Flush(out);
    return 1;
  }
  const std::string topLevel = domaineext(wire);
  const std::string domain = Trim(nowww(wire));

  // A top-level label that only the table's catch-all row covers goes to
  // IANA first, which names the label's own registry.
  TWhoisReferral server;
  std::string query = domain;
  if (WhoisServerFor(topLevel) == kWhoisServerDefault) {
    server = {settings.IanaServer, settings.Port};
    query = topLevel;
  } else {
    server = {settings.WhoisServerOf(topLevel), settings.Port};
  }

  std::set<std::string> asked;
  for (int referrals = 0;; ++referrals) {
    if (!asked.empty()) WriteLine(out, "");
    WriteLine(out, Heading(server));
    Flush(out);
    asked.insert(KeyOf(server));
    if (settings.Events) settings.Events->WhoisAsked(server.Host, server.Port, query);
    std::string answer;
    try {
      answer = settings.Query ? settings.Query(server.Host, server.Port, query)
                              : QueryWithClient(server.Host, server.Port, query, settings);
    } catch (const EOperationInterrupted&) {
      return 1;
    } catch (...) {
      WriteLine(out, kErrorWhois);
      Flush(out);
      if (settings.Events)
        settings.Events->Failed(WhoisFailureOf(std::current_exception()), 0);
      return 1;
    }
    const std::string text = NormaliseLineBreaks(answer);
    WriteAnswer(out, text);
    Flush(out);
    if (settings.Events) settings.Events->WhoisAnswered(text);
    if (referrals == kMaxWhoisReferrals) return 0;
    const auto next = FindWhoisReferral(answer);
    // A server asked already (the one just asked included) ends the chain.
    if (!next || asked.count(KeyOf(*next)) != 0) return 0;
    server = *next;
    query = domain;
  }
}

}  // namespace quillon
