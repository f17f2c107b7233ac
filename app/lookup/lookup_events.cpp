// Failure kinds and their texts, and the kinds of unreachable replies; see
// lookup_events.h.
#include "app/lookup/lookup_events.h"

#include <array>

#include "app/lookup/idn.h"
#include "app/lookup/interruptible.h"
#include "net/dns/dns_error.h"
#include "net/dns/dns_names.h"
#include "net/icmp/icmp_headers.h"
#include "net/tcp/tcp_exceptions.h"

namespace quillon {
namespace {

// The QR bit of a DNS header's flags: set in every reply.
constexpr uint16_t kDnsReplyFlag = 0x8000;

}  // namespace

std::string DnsStatusName(int rcode) {
  static constexpr std::array<const char*, 12> kNames = {
      "NOERROR", "FORMERR",  "SERVFAIL", "NXDOMAIN", "NOTIMP",  "REFUSED",
      "YXDOMAIN", "YXRRSET", "NXRRSET",  "NOTAUTH",  "NOTZONE", "DSOTYPENI"};
  if (rcode >= 0 && static_cast<size_t>(rcode) < kNames.size())
    return kNames[static_cast<size_t>(rcode)];
  return "RCODE" + std::to_string(rcode);
}

std::string FailureText(TLookupFailure failure, int dnsStatus) {
  switch (failure) {
    case TLookupFailure::NameRefused:
      return "the name is not a valid domain name";
    case TLookupFailure::WhoisConnection:
      return "the connection to the whois server failed";
    case TLookupFailure::WhoisNoAnswer:
      return "the whois server did not answer in time";
    case TLookupFailure::WhoisTooLong:
      return "the whois answer is too long";
    case TLookupFailure::WhoisFailed:
      return "the whois query failed";
    case TLookupFailure::NoDnsServer:
      return "no DNS server is configured";
    case TLookupFailure::DnsStatus: {
      std::string text = "the DNS server answered " + DnsStatusName(dnsStatus);
      if (dnsStatus == 3) text += " (the domain does not exist)";
      if (dnsStatus == 2) text += " (server failure)";
      if (dnsStatus == 5) text += " (query refused)";
      return text;
    }
    case TLookupFailure::DnsNoAnswer:
      return "no answer from the DNS server";
    case TLookupFailure::DnsFailed:
      return "the DNS query failed";
    case TLookupFailure::HostNotFound:
      return "host not found";
    case TLookupFailure::EchoFailed:
      return "the echo request could not be sent";
    case TLookupFailure::IcmpNotAllowed:
      return "not allowed to send ICMP echo requests";
    case TLookupFailure::IcmpSocketFailed:
      return "an ICMP socket could not be opened";
  }
  return "failed";
}

TLookupFailure WhoisFailureOf(std::exception_ptr failure) {
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const EIdnNameRefused&) {
    return TLookupFailure::NameRefused;
  } catch (const EIdReadTimeout&) {
    return TLookupFailure::WhoisNoAnswer;
  } catch (const EIdReplyTooLong&) {
    return TLookupFailure::WhoisTooLong;
  } catch (const EIdSocketError&) {
    return TLookupFailure::WhoisConnection;
  } catch (const EIdConnectException&) {
    return TLookupFailure::WhoisConnection;
  } catch (const EIdConnectTimeout&) {
    return TLookupFailure::WhoisConnection;
  } catch (const EIdClosedSocket&) {
    return TLookupFailure::WhoisConnection;
  } catch (...) {
  }
  return TLookupFailure::WhoisFailed;
}

TLookupFailure DnsFailureOf(std::exception_ptr failure, TIdDNSResolver& resolver,
                            const std::string& domain, int& dnsStatus) {
  dnsStatus = 0;
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const EIdnNameRefused&) {
    return TLookupFailure::NameRefused;
  } catch (const EIdDnsResolverError&) {
    if (resolver.Host.empty()) return TLookupFailure::NoDnsServer;
    const TDNSHeader& header = resolver.Header();
    if ((header.FlagWord & kDnsReplyFlag) != 0) {
      dnsStatus = header.ResponseCode();
      return dnsStatus != 0 ? TLookupFailure::DnsStatus : TLookupFailure::DnsFailed;
    }
    // No reply was read: the question never left (a name DNS cannot carry)
    // or nothing matching came back in time.
    try {
      std::string scratch;
      EncodeQueryName(scratch, domain, false);
    } catch (const EIdDnsResolverError&) {
      return TLookupFailure::NameRefused;
    }
    return TLookupFailure::DnsNoAnswer;
  } catch (...) {
    if (resolver.Host.empty()) return TLookupFailure::NoDnsServer;
  }
  return TLookupFailure::DnsFailed;
}

TLookupFailure HostFailureOf(std::exception_ptr failure) {
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const EIdnNameRefused&) {
    return TLookupFailure::NameRefused;
  } catch (...) {
  }
  return TLookupFailure::HostNotFound;
}

std::string UnreachableKind(const TReplyStatus& status) {
  const int code = status.IcmpCode;
  if (status.IcmpType == icmp6DestinationUnreachable) {
    static constexpr std::array<const char*, 7> kKinds = {
        "network", "prohibited", "beyond-scope", "host", "port", "source-policy", "reject-route"};
    return code >= 0 && static_cast<size_t>(code) < kKinds.size() ? kKinds[static_cast<size_t>(code)]
                                                                  : "other";
  }
  static constexpr std::array<const char*, 16> kKinds = {
      "network",    "host",       "protocol",   "port",       "fragmentation-needed",
      "source-route-failed", "network", "host",  "other",      "prohibited",
      "prohibited", "network",    "host",       "prohibited", "prohibited",
      "prohibited"};
  return code >= 0 && static_cast<size_t>(code) < kKinds.size() ? kKinds[static_cast<size_t>(code)]
                                                                : "other";
}

}  // namespace quillon
