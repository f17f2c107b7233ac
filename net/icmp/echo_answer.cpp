#include "net/icmp/echo_answer.h"

#include <algorithm>

#include "net/icmp/icmp_headers.h"
#include "net/socket/address_text.h"
#include "net/socket/byte_reader.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

// Identifier and sequence number of the echo message at `at`.
void ReadIds(ByteReader& reader, size_t at, TEchoAnswer& answer) {
  reader.seek(at + icmp_header::kIdentifier);
  answer.Identifier = reader.readLe16();
  answer.Sequence = reader.readLe16();
}

// The IPv4 answer: header length from the header itself, the quoted request
// of an error behind a quoted IPv4 header carrying ICMP.
bool ReadAnswer4(ByteReader& reader, TEchoAnswer& answer) {
  const size_t headerLength = size_t{reader.readU8() & 0x0Fu} * 4;
  if (headerLength < ip_header::kMinimumSize) return false;
  reader.seek(headerLength + icmp_header::kType);
  answer.IcmpType = reader.readU8();
  answer.IcmpCode = reader.readU8();
  switch (answer.IcmpType) {
    case icmpEchoReply:
      answer.Outcome = roEchoReply;
      ReadIds(reader, headerLength, answer);
      break;
    case icmpDestinationUnreachable:
    case icmpTimeExceeded: {
      answer.Outcome = answer.IcmpType == icmpTimeExceeded ? roTtlExpired : roUnreachable;
      const size_t quoted = headerLength + icmp_header::kData;
      reader.seek(quoted + ip_header::kVersionAndLength);
      const uint8_t versionAndLength = reader.readU8();
      const size_t quotedLength = size_t{versionAndLength & 0x0Fu} * 4;
      if (versionAndLength >> 4 != 4 || quotedLength < ip_header::kMinimumSize) return false;
      reader.seek(quoted + ip_header::kProtocol);
      if (reader.readU8() != Id_IPPROTO_ICMP) return false;
      reader.seek(quoted + quotedLength + icmp_header::kType);
      if (reader.readU8() != icmpEchoRequest) return false;
      ReadIds(reader, quoted + quotedLength, answer);
      break;
    }
    default:
      return false;
  }
  reader.seek(ip_header::kTimeToLive);
  answer.ReceivedTtl = reader.readU8();
  reader.seek(ip_header::kSourceAddress);
  const auto source = reader.readBytes(4);
  answer.SourceAddress = Sprintf("%u.%u.%u.%u", source[0], source[1], source[2], source[3]);
  return true;
}

// The IPv6 answer: a 40-byte header followed by ICMPv6 (no extension
// headers), an error's quote likewise.
bool ReadAnswer6(ByteReader& reader, TEchoAnswer& answer) {
  if (reader.readU8() >> 4 != 6) return false;
  reader.seek(ip6_header::kNextHeader);
  if (reader.readU8() != Id_IPPROTO_ICMPV6) return false;
  reader.seek(ip6_header::kSize + icmp_header::kType);
  answer.IcmpType = reader.readU8();
  answer.IcmpCode = reader.readU8();
  switch (answer.IcmpType) {
    case icmp6EchoReply:
      answer.Outcome = roEchoReply;
      ReadIds(reader, ip6_header::kSize, answer);
      break;
    case icmp6DestinationUnreachable:
    case icmp6TimeExceeded: {
      answer.Outcome = answer.IcmpType == icmp6TimeExceeded ? roTtlExpired : roUnreachable;
      const size_t quoted = ip6_header::kSize + kIcmp6ErrorHeaderSize;
      reader.seek(quoted + ip6_header::kVersion);
      if (reader.readU8() >> 4 != 6) return false;
      reader.seek(quoted + ip6_header::kNextHeader);
      if (reader.readU8() != Id_IPPROTO_ICMPV6) return false;
      reader.seek(quoted + ip6_header::kSize + icmp_header::kType);
      if (reader.readU8() != icmp6EchoRequest) return false;
      ReadIds(reader, quoted + ip6_header::kSize, answer);
      break;
    }
    default:
      return false;
  }
  reader.seek(ip6_header::kHopLimit);
  answer.ReceivedTtl = reader.readU8();
  reader.seek(ip6_header::kSourceAddress);
  const auto source = reader.readBytes(16);
  TIdIPv6Bytes bytes;
  std::copy(source.begin(), source.end(), bytes.begin());
  answer.SourceAddress = IPv6ToText(bytes);
  return true;
}

}  // namespace

std::optional<TEchoAnswer> ReadEchoAnswer(std::span<const uint8_t> message, int family) {
  TEchoAnswer answer;
  ByteReader reader(message);
  try {
    const bool read =
        family == Id_PF_INET6 ? ReadAnswer6(reader, answer) : ReadAnswer4(reader, answer);
    if (!read) return std::nullopt;
  } catch (const ByteReaderShort&) {
    return std::nullopt;  // cut short: it cannot be shown to answer anything
  }
  return answer;
}

}  // namespace quillon
