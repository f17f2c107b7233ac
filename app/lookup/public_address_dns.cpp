// The DNS public-address sources: the question asked of the source's own
// server over IPv4, and its answer read strictly; see public_address_ask.h
// and public_address_answer.h.
#include <algorithm>

#include "app/lookup/idn.h"
#include "app/lookup/public_address_answer.h"
#include "app/lookup/public_address_ask.h"
#include "net/dns/dns_exchange.h"
#include "net/socket/component.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

std::string RcodeName(int rcode) {
  switch (rcode) {
    case kDnsFormErr:
      return "FORMERR";
    case kDnsServFail:
      return "SERVFAIL";
    case kDnsNxDomain:
      return "NXDOMAIN";
    case kDnsNotImp:
      return "NOTIMP";
    case kDnsRefused:
      return "REFUSED";
    default:
      return std::to_string(rcode);
  }
}

}  // namespace

TDnsQuestion PublicAddressQuestion(const TPublicAddressSource& source) {
  TDnsQuestion question;
  question.name = source.name;
  question.type = source.kind == TSourceKind::DnsA ? kDnsTypeA : kDnsTypeTXT;
  question.qclass = source.kind == TSourceKind::DnsChaos ? kDnsClassCH : kDnsClassIN;
  return question;
}

TSourceReading ReadPublicAddressAnswer(const TDnsMessage& message, const TDnsQuestion& question) {
  if (message.Truncated()) return {{}, "truncated answer"};
  if (message.rcode != kDnsNoError) return {{}, "DNS status " + RcodeName(message.rcode)};
  const std::string name = LowerCase(question.name);
  const char* type = question.type == kDnsTypeA ? "A" : "TXT";
  // Only records of the name, type and class asked count; an address must
  // be the only one given (the same one twice is still one).
  std::vector<std::string> addresses;
  bool ofThisType = false;
  bool otherClass = false;
  bool unreadable = false;
  try {
    for (const TDnsRecord& record : message.answers) {
      if (LowerCase(record.owner) != name || record.type != question.type) continue;
      if (record.rclass != question.qclass) {
        otherClass = true;
        continue;
      }
      ofThisType = true;
      std::optional<std::string> address;
      if (question.type == kDnsTypeA) {
        const auto rdata = message.Rdata(record);
        if (rdata.size() == 4)
          address = Sprintf("%u.%u.%u.%u", rdata[0], rdata[1], rdata[2], rdata[3]);
      } else {
        // One string that is the address; a record of several strings is
        // no address, however they would join.
        const std::vector<std::string> strings = DnsTxtStrings(message, record);
        if (strings.size() == 1) address = AddressFromText(strings[0]);
      }
      if (!address) {
        unreadable = true;
        continue;
      }
      if (std::find(addresses.begin(), addresses.end(), *address) == addresses.end())
        addresses.push_back(*address);
    }
  } catch (const EDnsMalformedMessage&) {
    return {{}, "malformed answer"};
  }
  if (addresses.size() == 1) return {addresses[0], {}};
  if (addresses.size() > 1) return {{}, "several addresses in the answer"};
  if (unreadable) return {{}, "not an IPv4 address"};
  if (otherClass && !ofThisType) return {{}, "answer of another class"};
  return {{}, std::string("no ") + type + " record for " + question.name};
}

TSourceReading AskDnsSource(const TPublicAddressSource& source, TSourceControl& control) {
  try {
    // The stack lives while this source uses it, whatever else ends.
    const TIdComponent stackOwner;
    // The server is found as ping finds a host, and asked over IPv4.
    std::string address = source.server;
    if (!IsDottedIPv4(address))
      address = SharedStack().ResolveHostName(ToWireName(source.server), Id_PF_INET);
    if (control.Stopped()) return {{}, kNoAnswerInTime};
    const TDnsQuestion question = PublicAddressQuestion(source);
    TDnsExchangeOptions options;
    options.interrupted = &control.StopFlag();
    // Two tries over UDP and a TCP fallback, all within the time left (the
    // run stops the exchange at its end in any case).
    const auto left = control.TimeLeft();
    options.udpTry = std::max(left / 2, std::chrono::milliseconds(1));
    options.udpTries = 2;
    options.tcpLimit = left;
    return ReadPublicAddressAnswer(AskDns({address, source.port}, question, options), question);
  } catch (const EDnsNoAnswer&) {
    return {{}, kNoAnswerInTime};
  } catch (const EDnsInterrupted&) {
    return {{}, kNoAnswerInTime};
  } catch (const EDnsMalformedMessage&) {
    return {{}, "malformed answer"};
  } catch (...) {
    return {{}, FailureText(std::current_exception(), control)};
  }
}

}  // namespace quillon
