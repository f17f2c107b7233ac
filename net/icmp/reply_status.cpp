#include "net/icmp/reply_status.h"

#include "net/icmp/icmp_headers.h"
#include "net/socket/byte_reader.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

struct EchoIds {
  uint16_t identifier;
  uint16_t sequence;
};

// Identifier and sequence number of the echo message at `at`.
EchoIds ReadEchoIds(ByteReader& reader, size_t at) {
  reader.seek(at + icmp_header::kIdentifier);
  const uint16_t identifier = reader.readLe16();
  const uint16_t sequence = reader.readLe16();
  return {identifier, sequence};
}

// The echo request quoted by an error message whose ICMP part starts at
// `at`: the quoted IP header (with its own length) and then the request.
// Nothing when the quote is cut short or its header length is impossible:
// such a message cannot be shown to be about our request.
std::optional<EchoIds> ReadQuotedEchoIds(ByteReader& reader, size_t at) {
  try {
    const size_t quoted = at + icmp_header::kData;
    reader.seek(quoted + ip_header::kVersionAndLength);
    const size_t quotedLength = size_t{reader.readU8() & 0x0Fu} * 4;
    if (quotedLength < ip_header::kMinimumSize) return std::nullopt;
    return ReadEchoIds(reader, quoted + quotedLength);
  } catch (const ByteReaderShort&) {
    return std::nullopt;
  }
}

}  // namespace

TReplyStatus TimedOutStatus(uint16_t sequence) {
  TReplyStatus status;
  status.ByteCount = 0;
  status.SourceAddress = "0.0.0.0";
  status.IcmpType = 0;
  status.Sequence = sequence;
  status.ReceivedTtl = 0;
  status.Outcome = roTimedOut;
  return status;
}

bool ClassifyReply(std::span<const uint8_t> message, uint16_t sequence,
                   std::optional<uint16_t> identifier, TReplyStatus& status) {
  if (message.empty()) {
    status = TimedOutStatus(sequence);
    return true;
  }
  status = TReplyStatus{};
  status.Outcome = roError;
  ByteReader reader(message);
  const size_t headerLength = size_t{reader.readU8() & 0x0Fu} * 4;
  // A message that cannot hold an IPv4 header and a whole ICMP header says
  // nothing about our request. On a raw socket anything may arrive, so it is
  // passed over like any other stranger rather than ending the wait.
  if (headerLength < ip_header::kMinimumSize || headerLength + icmp_header::kSize > message.size())
    return false;

  reader.seek(headerLength + icmp_header::kType);
  const uint8_t type = reader.readU8();
  ReplyOutcome outcome;
  std::optional<EchoIds> ids;
  switch (type) {
    case icmpEchoReply:
    case icmpEchoRequest:  // our own request, as a raw socket sees it on loopback
      outcome = roEchoReply;
      ids = ReadEchoIds(reader, headerLength);
      break;
    case icmpDestinationUnreachable:
      outcome = roUnreachable;
      ids = ReadQuotedEchoIds(reader, headerLength);
      break;
    case icmpTimeExceeded:
      outcome = roTtlExpired;
      ids = ReadQuotedEchoIds(reader, headerLength);
      break;
    default:
      // Timestamp and information requests, redirects, parameter problems:
      // none of them answers an echo, even when it quotes ours.
      return false;
  }
  status.Outcome = outcome;
  if (!ids || ids->sequence != sequence || (identifier && ids->identifier != *identifier))
    return false;

  reader.seek(ip_header::kTimeToLive);
  const uint8_t ttl = reader.readU8();
  reader.seek(ip_header::kSourceAddress);
  const auto source = reader.readBytes(4);
  status.ByteCount = static_cast<int32_t>(message.size());
  status.SourceAddress = Sprintf("%u.%u.%u.%u", source[0], source[1], source[2], source[3]);
  status.IcmpType = type;
  status.Sequence = ids->sequence;
  status.ReceivedTtl = ttl;
  return true;
}

}  // namespace quillon
