// What the lookup operations find, reported as data beside the lines they
// write (quillon-cli --json builds its objects from it), and why one failed.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "net/icmp/reply_status.h"

namespace quillon {

class TIdDNSResolver;

// Why an operation wrote its failure line. Each kind has one plain English
// text (FailureText); the exception's own text never reaches a user.
enum class TLookupFailure {
  NameRefused,       // the name has no A-label form: nothing was sent
  WhoisConnection,   // the whois server could not be reached, or the connection broke
  WhoisNoAnswer,     // the whois server stayed silent past the read time-out
  WhoisTooLong,      // the whois answer went over the size bound
  WhoisFailed,       // any other failure of the whois exchange
  NoDnsServer,       // no nameserver line in the resolver configuration
  DnsStatus,         // the DNS server answered with an error status
  DnsNoAnswer,       // no (matching) answer from the DNS server in time
  DnsFailed,         // any other failure of the DNS question (unreadable answer, socket)
  HostNotFound,      // the host of a ping or trace route has no address
  EchoFailed,        // an echo request could not be sent
  IcmpNotAllowed,    // no ICMP socket: no permission
  IcmpSocketFailed,  // no ICMP socket for another reason (descriptors, buffers)
};

// The failure in plain English; `dnsStatus` is the response code of a
// DnsStatus failure (NXDOMAIN, SERVFAIL ...).
std::string FailureText(TLookupFailure failure, int dnsStatus = 0);

// The name of a DNS response code (RFC 1035, RFC 6895): "NXDOMAIN", or
// "RCODE12" for a code without a name.
std::string DnsStatusName(int rcode);

// The kind of failure a whois exchange ended with, from the exception it
// raised.
TLookupFailure WhoisFailureOf(std::exception_ptr failure);

// The kind of failure a DNS question for `domain` ended with, from the
// exception and the resolver's state (its server, the header of a reply it
// read); `dnsStatus` gets the response code of a DnsStatus failure. The
// header's flags must be cleared before the question.
TLookupFailure DnsFailureOf(std::exception_ptr failure, TIdDNSResolver& resolver,
                            const std::string& domain, int& dnsStatus);

// A ping's or trace route's host that could not be looked up: a refused
// name, or no address.
TLookupFailure HostFailureOf(std::exception_ptr failure);

// What a destination-unreachable reply reports, from its ICMP (type 3) or
// ICMPv6 (type 1) code: "network", "host", "protocol", "port",
// "fragmentation-needed", "source-route-failed", "prohibited",
// "beyond-scope", "source-policy", "reject-route", or "other".
std::string UnreachableKind(const TReplyStatus& status);

// Receives the operations' findings, each right after the line it stands
// beside (or, for the failure, beside the failure line), on the operation's
// thread. Nothing is reported once the operation has been interrupted.
class TLookupEvents {
 public:
  virtual ~TLookupEvents() = default;
  // Whois: the server and port asked, and the query sent (without CR LF).
  virtual void WhoisAsked(const std::string& /*server*/, int /*port*/, const std::string& /*query*/) {}
  // The whole answer, every line break one LF.
  virtual void WhoisAnswered(const std::string& /*answer*/) {}
  // DNS MX: the registered domain asked (A-labels) and the DNS server.
  virtual void MxAsked(const std::string& /*domain*/, const std::string& /*server*/) {}
  // One MX record of the answer, beside its "Found #" line.
  virtual void MxExchanger(const std::string& /*host*/, uint16_t /*preference*/) {}
  // Ping and trace route: the address the echo requests go to.
  virtual void EchoTarget(const std::string& /*address*/) {}
  // One reply reported by a line: the reply, the time-to-live its request
  // carried, and the replier's name (empty when the line shows none).
  virtual void EchoReported(const TReplyStatus& /*status*/, int /*ttl*/, const std::string& /*name*/) {}
  // The operation wrote its failure line.
  virtual void Failed(TLookupFailure /*failure*/, int /*dnsStatus*/) {}
};

}  // namespace quillon
