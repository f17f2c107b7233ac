// DNS messages of any type and class (RFC 1035, EDNS from RFC 6891): building
// a query with one question, and reading a whole reply into its sections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "net/dns/dns_error.h"

namespace quillon {

inline constexpr uint16_t kDnsClassIN = 1, kDnsClassCH = 3;

// Type codes the code refers to by name.
inline constexpr uint16_t kDnsTypeA = 1, kDnsTypeNS = 2, kDnsTypeCNAME = 5, kDnsTypeSOA = 6,
                          kDnsTypePTR = 12, kDnsTypeMX = 15, kDnsTypeTXT = 16,
                          kDnsTypeAAAA = 28, kDnsTypeOPT = 41;

// Response codes (the OPT record extends them past 15).
inline constexpr int kDnsNoError = 0, kDnsFormErr = 1, kDnsServFail = 2, kDnsNxDomain = 3,
                     kDnsNotImp = 4, kDnsRefused = 5;

// Header flag bits as they sit in the second 16-bit word.
inline constexpr uint16_t kDnsFlagQR = 0x8000, kDnsFlagAA = 0x0400, kDnsFlagTC = 0x0200,
                          kDnsFlagRD = 0x0100, kDnsFlagRA = 0x0080, kDnsFlagAD = 0x0020,
                          kDnsFlagCD = 0x0010;

// A malformed message: a count, length or pointer leading past its end, a
// compression loop, a name over 255 bytes.
QUILLON_EXCEPTION(EDnsMalformedMessage, EIdDnsResolverError);

struct TDnsQuestion {
  std::string name;  // without trailing dot, A-labels (presentation form when read)
  uint16_t type = kDnsTypeA;
  uint16_t qclass = kDnsClassIN;
};

// One resource record; its rdata stays in the message so that names in it
// (compressed against the rest of the message) can be read.
struct TDnsRecord {
  std::string owner;  // presentation form without trailing dot ("" for the root)
  uint16_t type = 0, rclass = 0;
  uint32_t ttl = 0;
  size_t rdataOffset = 0;
  uint16_t rdataLength = 0;
};

struct TDnsMessage {
  std::vector<uint8_t> bytes;  // the whole message as received
  uint16_t id = 0;
  // The second header word as on the wire: QR, opcode, AA, TC, RD, RA, AD,
  // CD (and the low 4 bits of the response code).
  uint16_t flags = 0;
  int rcode = 0;  // extended by the OPT record when there is one
  bool hasEdns = false;
  uint16_t ednsUdpSize = 0;  // the OPT record's advertised payload size
  std::vector<TDnsQuestion> questions;
  std::vector<TDnsRecord> answers, authority, additional;  // OPT is left out of additional

  bool Truncated() const { return (flags & kDnsFlagTC) != 0; }
  // The rdata of `r` as a span of `bytes` (EDnsMalformedMessage when it
  // does not lie inside them).
  std::span<const uint8_t> Rdata(const TDnsRecord& r) const;
};

// One question, recursion desired unless asked otherwise; with `edns`, an OPT
// record advertising `ednsUdpSize` bytes. The name is taken as A-labels and
// may end in one dot; "" and "." are the root. Raises EIdDnsResolverError for
// a name that cannot be written (empty label, label over 63 bytes, name over
// 255).
std::vector<uint8_t> BuildDnsQuery(uint16_t id, const TDnsQuestion& q, bool edns,
                                   uint16_t ednsUdpSize = 1232, bool recursionDesired = true);

// Reads a whole message: header, every question and every record of the
// three sections, each record's rdata checked to lie inside the message.
// Raises EDnsMalformedMessage on anything malformed. Bytes after the last
// record are ignored.
TDnsMessage ParseDnsMessage(std::span<const uint8_t> bytes);

// The name at `offset` in presentation form (labels joined by ".", no final
// dot, the root as ""; the bytes . " ( ) ; \ @ $ escaped with a backslash,
// those outside 0x21-0x7E as \DDD), `offset` moved past it. Compression
// pointers are followed; each must point before the labels that led to it,
// so no loop can form; a name over 255 bytes or running out of the message
// raises EDnsMalformedMessage.
std::string ReadDnsName(const TDnsMessage& m, size_t& offset);
std::string ReadDnsName(std::span<const uint8_t> bytes, size_t& offset);

// The same name in wire form, uncompressed (length-prefixed labels and the
// final 0 byte), for comparing names.
std::string ReadDnsWireName(std::span<const uint8_t> bytes, size_t& offset);

// The character-strings of a TXT (or SPF) record's rdata, bytes as they are;
// one whose length runs past the rdata raises EDnsMalformedMessage.
std::vector<std::string> DnsTxtStrings(const TDnsMessage& m, const TDnsRecord& r);

}  // namespace quillon
