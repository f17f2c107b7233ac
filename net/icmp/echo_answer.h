// Reading one received ICMP or ICMPv6 message as the answer to some echo
// request, whichever it was: when many requests are in flight on one socket,
// the answer names its request by the identifier and sequence number it
// carries (an echo reply) or quotes (an error about the request).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "net/icmp/reply_status.h"

namespace quillon {

struct TEchoAnswer {
  ReplyOutcome Outcome = roEchoReply;  // roEchoReply, roUnreachable or roTtlExpired
  uint8_t IcmpType = 0;
  uint8_t IcmpCode = 0;
  uint16_t Identifier = 0;  // of the request, as answered or quoted
  uint16_t Sequence = 0;
  std::string SourceAddress;  // dotted IPv4, or the RFC 5952 form
  uint8_t ReceivedTtl = 0;    // the answer's time-to-live (hop limit)
};

// `message` is laid out as a raw socket of `family` (Id_PF_INET or
// Id_PF_INET6) delivers it, or as the echo client rebuilds it: the IP header,
// then the ICMP message. An echo reply (type 0, or 129) gives its own
// identifier and sequence number; a destination-unreachable (3, or 1) or
// time-exceeded (11, or 3) message gives those of the echo request it quotes.
// Everything else (echo requests, other types, errors quoting anything but an
// echo request, messages cut short) gives nothing.
std::optional<TEchoAnswer> ReadEchoAnswer(std::span<const uint8_t> message, int family);

}  // namespace quillon
