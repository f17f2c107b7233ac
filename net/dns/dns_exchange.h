// One question to one DNS server and its answer: UDP with EDNS, the same
// question over TCP when the answer comes truncated, and once more without
// EDNS when the server does not understand it (FORMERR or NOTIMP).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "net/dns/dns_message.h"

namespace quillon {

struct TDnsServer {
  std::string address;  // IPv4 or IPv6 address text (a zone allowed), or a host name
  int port = 53;
};

struct TDnsExchangeOptions {
  bool tcp = false;   // TCP from the start
  bool edns = true;   // advertise 1232 bytes with an OPT record
  std::chrono::milliseconds udpTry{2500};
  int udpTries = 2;
  std::chrono::milliseconds tcpLimit{5000};  // connect, send and the whole answer
  // Set from another thread: the exchange ends within about 100 ms and
  // raises EDnsInterrupted.
  const std::atomic<bool>* interrupted = nullptr;
  // Called before every message sent (each try, each fallback): where a
  // caller paces its questions.
  std::function<void()> beforeSend;
};

// Nothing (that matched the question) came back in time, or a TCP server
// closed the connection before its answer was whole.
QUILLON_EXCEPTION(EDnsNoAnswer, EIdDnsResolverError);
QUILLON_EXCEPTION(EDnsInterrupted, EIdDnsResolverError);

// Asks `q` of `server`. Each message carries a random 16-bit id and leaves
// from a fresh socket (a random source port, RFC 6056); a datagram from
// another address or port, with another id, another question or no QR bit,
// or malformed, is ignored and the wait goes on (RFC 5452). Raises
// EDnsNoAnswer when no answer came in time, EDnsInterrupted, and the socket
// layer's exceptions (EIdSocketError: a refused port, no route, a server
// name that is not found).
TDnsMessage AskDns(const TDnsServer& server, const TDnsQuestion& q,
                   const TDnsExchangeOptions& options);

// True when `reply` answers `query` (a message BuildDnsQuery made): QR set,
// the same id, opcode and question (the name compared without regard to
// ASCII case). A reply without a question section is taken only when it
// reports an error (an old server's FORMERR or NOTIMP).
bool DnsReplyMatches(const TDnsMessage& reply, std::span<const uint8_t> query);

}  // namespace quillon
