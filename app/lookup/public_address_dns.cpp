// The DNS public-address sources: the question asked of the source's own
// server over IPv4 (its answer is read by public_address_answer.h); see
// public_address_ask.h.
#include <algorithm>

#include "app/lookup/idn.h"
#include "app/lookup/public_address_answer.h"
#include "app/lookup/public_address_ask.h"
#include "net/dns/dns_exchange.h"
#include "net/socket/component.h"
#include "net/socket/stack.h"

namespace quillon {

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
