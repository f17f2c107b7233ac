#include "net/dns/dns_message.h"

#include <algorithm>

#include "net/dns/dns_names.h"
#include "net/socket/byte_reader.h"
#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

constexpr size_t kHeaderLength = 12;
// Fixed fields of a record after its owner: type, class, TTL, rdata length.
constexpr size_t kRecordFixedLength = 10;

[[noreturn]] void Malformed() {
  throw EDnsMalformedMessage(Sprintf("Taille de paquet incorrecte %d", 3));
}

void PutBe16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}

// Walks the name at `offset`, handing each label to `label`, and moves
// `offset` past the name's own bytes. Every pointer must point before the
// labels that led to it, so each jump goes strictly backwards and the walk
// ends; the wire length is held to 255 bytes.
template <typename OnLabel>
void WalkName(std::span<const uint8_t> bytes, size_t& offset, OnLabel label) {
  ByteReader reader(bytes);
  size_t resume = 0;
  bool jumped = false;
  size_t segmentStart = offset;
  size_t encoded = 1;
  try {
    reader.seek(offset);
    for (;;) {
      const uint8_t b = reader.readU8();
      if (b >= 0xC0) {
        const size_t target = size_t{b & 0x3Fu} << 8 | reader.readU8();
        if (target >= segmentStart) Malformed();
        if (!jumped) {
          resume = reader.position();
          jumped = true;
        }
        segmentStart = target;
        reader.seek(target);
        continue;
      }
      if (b == 0) break;
      // 0x40-0xBF are label types nobody sends (RFC 6891 retired them).
      if (b > kMaxLabelLength) Malformed();
      encoded += b + 1u;
      if (encoded > kMaxEncodedNameLength) Malformed();
      label(reader.readBytes(b));
    }
  } catch (const ByteReaderShort&) {
    Malformed();
  }
  offset = jumped ? resume : reader.position();
}

bool NeedsBackslash(uint8_t c) {
  switch (c) {
    case '"': case '(': case ')': case '.': case ';': case '\\': case '@': case '$':
      return true;
    default:
      return false;
  }
}

TDnsQuestion ReadQuestion(std::span<const uint8_t> bytes, size_t& p) {
  TDnsQuestion q;
  q.name = ReadDnsName(bytes, p);
  ByteReader reader(bytes);
  try {
    reader.seek(p);
    q.type = reader.readBe16();
    q.qclass = reader.readBe16();
  } catch (const ByteReaderShort&) {
    Malformed();
  }
  p = reader.position();
  return q;
}

TDnsRecord ReadRecord(std::span<const uint8_t> bytes, size_t& p) {
  TDnsRecord r;
  r.owner = ReadDnsName(bytes, p);
  ByteReader reader(bytes);
  try {
    reader.seek(p);
    r.type = reader.readBe16();
    r.rclass = reader.readBe16();
    r.ttl = reader.readBe32();
    r.rdataLength = reader.readBe16();
    r.rdataOffset = reader.position();
    reader.skip(r.rdataLength);
  } catch (const ByteReaderShort&) {
    Malformed();
  }
  p = reader.position();
  return r;
}

}  // namespace

std::vector<uint8_t> BuildDnsQuery(uint16_t id, const TDnsQuestion& q, bool edns,
                                   uint16_t ednsUdpSize, bool recursionDesired) {
  std::string name;
  EncodeQueryName(name, q.name.empty() ? std::string_view(".") : std::string_view(q.name));
  std::vector<uint8_t> out;
  out.reserve(kHeaderLength + name.size() + 4 + (edns ? 11 : 0));
  PutBe16(out, id);
  PutBe16(out, recursionDesired ? kDnsFlagRD : 0);
  PutBe16(out, 1);              // QDCOUNT
  PutBe16(out, 0);              // ANCOUNT
  PutBe16(out, 0);              // NSCOUNT
  PutBe16(out, edns ? 1 : 0);   // ARCOUNT
  out.insert(out.end(), name.begin(), name.end());
  PutBe16(out, q.type);
  PutBe16(out, q.qclass);
  if (edns) {
    // OPT: root owner, the payload size in the class field, extended rcode,
    // version 0 and no flags in the TTL, no options.
    out.push_back(0);
    PutBe16(out, kDnsTypeOPT);
    PutBe16(out, ednsUdpSize);
    PutBe16(out, 0);
    PutBe16(out, 0);
    PutBe16(out, 0);
  }
  return out;
}

TDnsMessage ParseDnsMessage(std::span<const uint8_t> bytes) {
  if (bytes.size() < kHeaderLength) Malformed();
  TDnsMessage m;
  m.bytes.assign(bytes.begin(), bytes.end());
  const std::span<const uint8_t> all(m.bytes);
  ByteReader reader(all);
  m.id = reader.readBe16();
  m.flags = reader.readBe16();
  m.rcode = m.flags & 0x0F;
  const uint16_t qd = reader.readBe16();
  const uint16_t an = reader.readBe16();
  const uint16_t ns = reader.readBe16();
  const uint16_t ar = reader.readBe16();
  // Counts come from the sender: every entry takes at least 5 (question) or
  // 11 (record) bytes, so a count past what the message can hold is refused
  // before anything is reserved.
  const size_t room = all.size() - kHeaderLength;
  if (size_t{qd} * 5 + (size_t{an} + ns + ar) * (kRecordFixedLength + 1) > room) Malformed();

  size_t p = kHeaderLength;
  m.questions.reserve(qd);
  for (int i = 0; i < qd; ++i) m.questions.push_back(ReadQuestion(all, p));
  const auto readSection = [&](std::vector<TDnsRecord>& section, int count) {
    section.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) section.push_back(ReadRecord(all, p));
  };
  readSection(m.answers, an);
  readSection(m.authority, ns);
  readSection(m.additional, ar);

  // The OPT pseudo-record (RFC 6891 6.1.3): the upper 8 bits of the response
  // code in the TTL's first byte, the payload size in the class field. It is
  // taken out of the additional records. A message may carry at most one
  // (6.1.1): with two, neither the response code nor the payload size can be
  // trusted, so such a message is refused.
  const auto isOpt = [](const TDnsRecord& r) { return r.type == kDnsTypeOPT; };
  if (std::count_if(m.additional.begin(), m.additional.end(), isOpt) > 1) Malformed();
  const auto opt = std::find_if(m.additional.begin(), m.additional.end(), isOpt);
  if (opt != m.additional.end()) {
    m.hasEdns = true;
    m.ednsUdpSize = opt->rclass;
    m.rcode |= static_cast<int>(opt->ttl >> 24) << 4;
    m.additional.erase(opt);
  }
  return m;
}

std::string ReadDnsName(std::span<const uint8_t> bytes, size_t& offset) {
  std::string text;
  WalkName(bytes, offset, [&](std::span<const uint8_t> label) {
    for (uint8_t c : label) {
      if (NeedsBackslash(c)) {
        text.push_back('\\');
        text.push_back(static_cast<char>(c));
      } else if (c > 0x20 && c < 0x7F) {
        text.push_back(static_cast<char>(c));
      } else {
        text += Sprintf("\\%03u", static_cast<unsigned>(c));
      }
    }
    text.push_back('.');
  });
  if (!text.empty()) text.pop_back();
  return text;
}

std::span<const uint8_t> TDnsMessage::Rdata(const TDnsRecord& r) const {
  if (r.rdataOffset > bytes.size() || r.rdataLength > bytes.size() - r.rdataOffset) Malformed();
  return std::span<const uint8_t>(bytes).subspan(r.rdataOffset, r.rdataLength);
}

std::string ReadDnsName(const TDnsMessage& m, size_t& offset) {
  return ReadDnsName(std::span<const uint8_t>(m.bytes), offset);
}

std::string ReadDnsWireName(std::span<const uint8_t> bytes, size_t& offset) {
  std::string wire;
  WalkName(bytes, offset, [&](std::span<const uint8_t> label) {
    wire.push_back(static_cast<char>(label.size()));
    wire.append(reinterpret_cast<const char*>(label.data()), label.size());
  });
  wire.push_back('\0');
  return wire;
}

std::vector<std::string> DnsTxtStrings(const TDnsMessage& m, const TDnsRecord& r) {
  std::vector<std::string> strings;
  ByteReader reader(m.Rdata(r));
  try {
    while (reader.remaining() > 0) {
      const uint8_t length = reader.readU8();
      const auto text = reader.readBytes(length);
      strings.emplace_back(reinterpret_cast<const char*>(text.data()), text.size());
    }
  } catch (const ByteReaderShort&) {
    Malformed();
  }
  return strings;
}

}  // namespace quillon
