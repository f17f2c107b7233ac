// The outcome of one ICMP echo (TReplyStatus, ReplyOutcome) and the
// classification of a received message as the answer to our request or not.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "net/socket/exceptions.h"

namespace quillon {

QUILLON_EXCEPTION(EIdIcmpException, EIdException);

enum ReplyOutcome : uint8_t {
  roEchoReply = 0,
  roError = 1,
  roTimedOut = 2,
  roUnreachable = 3,
  roTtlExpired = 4,
};

struct TReplyStatus {
  int32_t ByteCount = 0;      // bytes received, IP header included
  std::string SourceAddress;  // address of the host or router that answered (text)
  uint8_t IcmpType = 0;
  uint8_t IcmpCode = 0;  // what an error message says more precisely (kind of unreachable)
  uint16_t Sequence = 0;
  uint32_t RoundTripMs = 0;
  uint8_t ReceivedTtl = 0;
  ReplyOutcome Outcome = roEchoReply;
};

// The status of a wait that ended without an answer; its source address is
// `noAddress` ("0.0.0.0", or "::" for IPv6).
TReplyStatus TimedOutStatus(uint16_t sequence, const char* noAddress = "0.0.0.0");

// Classifies one received message laid out as a raw ICMP socket delivers it
// (IPv4 header, then the ICMP message). An empty message means nothing came
// in time and yields the time-out status. Returns true when the message is
// provably the answer to the request carrying `sequence` (and, when given,
// `identifier`): an echo reply (type 0) with them, or an unreachable or
// time-exceeded message quoting them; `status` is then filled. Every other
// message (too short for its headers, of another type, an echo request even
// with our identifier and sequence, about another request) gives false and
// the wait goes on.
bool ClassifyReply(std::span<const uint8_t> message, uint16_t sequence,
                   std::optional<uint16_t> identifier, TReplyStatus& status);

// The same for ICMPv6, the message laid out as an IPv6 header (40 bytes,
// no extension headers) and the ICMPv6 message: an echo reply (129) with our
// identifier and sequence, or a destination-unreachable (1) or time-exceeded
// (3) message quoting our echo request (128), counts; SourceAddress is
// written in its RFC 5952 form and ReceivedTtl is the hop limit.
bool ClassifyReply6(std::span<const uint8_t> message, uint16_t sequence,
                    std::optional<uint16_t> identifier, TReplyStatus& status);

}  // namespace quillon
