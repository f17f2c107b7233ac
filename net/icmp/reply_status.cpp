#include "net/icmp/reply_status.h"

#include <algorithm>

#include "net/icmp/icmp_headers.h"
#include "net/socket/address_text.h"
#include "net/socket/byte_reader.h"

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

// The echo request quoted by an ICMPv6 error whose ICMPv6 part starts at
// `at`: an IPv6 header whose next header is ICMPv6 (our requests carry no
// extension headers), then the request itself.
std::optional<EchoIds> ReadQuotedEcho6Ids(ByteReader& reader, size_t at) {
  try {
    const size_t quoted = at + kIcmp6ErrorHeaderSize;
    reader.seek(quoted + ip6_header::kVersion);
    if (reader.readU8() >> 4 != 6) return std::nullopt;
    reader.seek(quoted + ip6_header::kNextHeader);
    if (reader.readU8() != Id_IPPROTO_ICMPV6) return std::nullopt;
    reader.seek(quoted + ip6_header::kSize + icmp_header::kType);
    if (reader.readU8() != icmp6EchoRequest) return std::nullopt;
    return ReadEchoIds(reader, quoted + ip6_header::kSize);
  } catch (const ByteReaderShort&) {
    return std::nullopt;
  }
}

// The dotted decimal text of four address bytes, written by hand: it is
// made for every answer, and formatting through printf cost more than the
// rest of the classification.
std::string DottedText(std::span<const uint8_t> b) {
  std::string text;
  text.reserve(15);
  for (size_t i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    const unsigned v = b[i];
    if (v >= 100) text += static_cast<char>('0' + v / 100);
    if (v >= 10) text += static_cast<char>('0' + v / 10 % 10);
    text += static_cast<char>('0' + v % 10);
  }
  return text;
}

}  // namespace

TReplyStatus TimedOutStatus(uint16_t sequence, const char* noAddress) {
  TReplyStatus status;
  status.ByteCount = 0;
  status.SourceAddress = noAddress;
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
  const uint8_t code = reader.readU8();
  ReplyOutcome outcome;
  std::optional<EchoIds> ids;
  switch (type) {
    // Only a reply answers: a raw socket also sees requests, our own (to a
    // local address, even one that does not answer) and anyone's that carry
    // our identifier and sequence.
    case icmpEchoReply:
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
      // Echo, timestamp and information requests, redirects, parameter
      // problems: none of them answers an echo, even when it quotes ours.
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
  status.SourceAddress = DottedText(source);
  status.IcmpType = type;
  status.IcmpCode = code;
  status.Sequence = ids->sequence;
  status.ReceivedTtl = ttl;
  return true;
}

bool ClassifyReply6(std::span<const uint8_t> message, uint16_t sequence,
                    std::optional<uint16_t> identifier, TReplyStatus& status) {
  if (message.empty()) {
    status = TimedOutStatus(sequence, "::");
    return true;
  }
  status = TReplyStatus{};
  status.Outcome = roError;
  // Too short for the IPv6 header and an ICMPv6 header, or not ICMPv6 right
  // after the header: nothing can be shown to be about our request.
  if (message.size() < ip6_header::kSize + icmp_header::kSize) return false;
  ByteReader reader(message);
  const uint8_t version = reader.readU8() >> 4;
  reader.seek(ip6_header::kNextHeader);
  if (version != 6 || reader.readU8() != Id_IPPROTO_ICMPV6) return false;
  reader.seek(ip6_header::kSize + icmp_header::kType);
  const uint8_t type = reader.readU8();
  const uint8_t code = reader.readU8();
  ReplyOutcome outcome;
  std::optional<EchoIds> ids;
  switch (type) {
    case icmp6EchoReply:  // a request (128) answers nothing, as over IPv4
      outcome = roEchoReply;
      ids = ReadEchoIds(reader, ip6_header::kSize);
      break;
    case icmp6DestinationUnreachable:
    case icmp6TimeExceeded:
      outcome = type == icmp6TimeExceeded ? roTtlExpired : roUnreachable;
      ids = ReadQuotedEcho6Ids(reader, ip6_header::kSize);
      break;
    default:
      // Echo requests, packet too big, parameter problems, neighbour
      // discovery, router advertisements, multicast listener messages: no
      // answer to an echo.
      return false;
  }
  status.Outcome = outcome;
  if (!ids || ids->sequence != sequence || (identifier && ids->identifier != *identifier))
    return false;

  reader.seek(ip6_header::kHopLimit);
  const uint8_t hopLimit = reader.readU8();
  reader.seek(ip6_header::kSourceAddress);
  const auto source = reader.readBytes(16);
  TIdIPv6Bytes bytes;
  std::copy(source.begin(), source.end(), bytes.begin());
  status.ByteCount = static_cast<int32_t>(message.size());
  status.SourceAddress = IPv6ToText(bytes);
  status.IcmpType = type;
  status.IcmpCode = code;
  status.Sequence = ids->sequence;
  status.ReceivedTtl = hopLimit;
  return true;
}

}  // namespace quillon
