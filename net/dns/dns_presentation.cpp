#include "net/dns/dns_presentation.h"

#include <array>
#include <charconv>
#include <utility>

#include "net/socket/address_text.h"
#include "net/socket/byte_reader.h"
#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

struct TTypeName {
  uint16_t code;
  const char* name;
  bool askable;  // a user may ask for it by name
};

constexpr TTypeName kTypeNames[] = {
    {1, "A", true},        {2, "NS", true},         {5, "CNAME", true},  {6, "SOA", true},
    {12, "PTR", true},     {13, "HINFO", false},    {15, "MX", true},    {16, "TXT", true},
    {28, "AAAA", true},    {33, "SRV", true},       {35, "NAPTR", true}, {39, "DNAME", false},
    {43, "DS", true},      {44, "SSHFP", true},     {48, "DNSKEY", true}, {52, "TLSA", true},
    {64, "SVCB", true},    {65, "HTTPS", true},     {99, "SPF", false},  {257, "CAA", true},
};

constexpr const char* kRcodeNames[] = {
    "NOERROR", "FORMERR",  "SERVFAIL", "NXDOMAIN", "NOTIMP",     "REFUSED",
    "YXDOMAIN", "YXRRSET", "NXRRSET",  "NOTAUTH",  "NOTZONE",    "RESERVED11",
    "RESERVED12", "RESERVED13", "RESERVED14", "RESERVED15", "BADVERS", "BADKEY",
    "BADTIME", "BADMODE", "BADNAME", "BADALG", "BADTRUNC", "BADCOOKIE"};

// Long hex and base64 fields are cut into pieces of this many characters,
// separated by a blank, as dig does by default.
constexpr size_t kSplitWidth = 56;

std::string Split(const std::string& text, size_t width = kSplitWidth) {
  std::string out;
  out.reserve(text.size() + text.size() / width);
  for (size_t i = 0; i < text.size(); i += width) {
    if (i > 0) out.push_back(' ');
    out.append(text, i, width);
  }
  return out;
}

std::string Hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

std::string Base64(std::span<const uint8_t> bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kAlphabet[v >> shift & 0x3F]);
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v = uint32_t{bytes[i]} << 16 | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
    out.push_back(kAlphabet[v >> 18 & 0x3F]);
    out.push_back(kAlphabet[v >> 12 & 0x3F]);
    out.push_back(two ? kAlphabet[v >> 6 & 0x3F] : '=');
    out.push_back('=');
  }
  return out;
}

// A character-string's bytes between double quotes: " and \ after a
// backslash, bytes outside 0x20-0x7E as \DDD.
std::string Quoted(std::span<const uint8_t> text) {
  std::string out = "\"";
  for (uint8_t c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      out += Sprintf("\\%03u", static_cast<unsigned>(c));
    }
  }
  out.push_back('"');
  return out;
}

std::string Quoted(std::string_view text) {
  return Quoted(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()),
                                         text.size()));
}

std::string Dotted(std::span<const uint8_t> four) {
  return Sprintf("%u.%u.%u.%u", four[0], four[1], four[2], four[3]);
}

// Raised inside when rdata does not hold what its type says.
struct TBadRdata {};

// Reads the fields of one record's rdata. The bytes end with the rdata, so
// nothing past it can be read; names may still point back into the message.
class TRdataReader {
 public:
  TRdataReader(const TDnsMessage& m, const TDnsRecord& r)
      : bytes_(std::span<const uint8_t>(m.bytes).first(r.rdataOffset + r.rdataLength)),
        reader_(bytes_) {
    reader_.seek(r.rdataOffset);
  }

  uint8_t U8() { return reader_.readU8(); }
  uint16_t U16() { return reader_.readBe16(); }
  uint32_t U32() { return reader_.readBe32(); }
  std::span<const uint8_t> Bytes(size_t n) { return reader_.readBytes(n); }
  std::span<const uint8_t> Rest() { return reader_.readBytes(reader_.remaining()); }
  bool AtEnd() const { return reader_.remaining() == 0; }
  size_t Remaining() const { return reader_.remaining(); }

  std::string Name() {
    size_t p = reader_.position();
    std::string name = ReadDnsName(bytes_, p);
    reader_.seek(p);
    return AbsoluteDnsName(name);
  }
  std::span<const uint8_t> CharacterString() { return reader_.readBytes(reader_.readU8()); }

 private:
  std::span<const uint8_t> bytes_;
  ByteReader reader_;
};

std::string Number(uint32_t value) {
  return std::to_string(value);
}

std::string SvcKeyName(uint16_t key) {
  static constexpr const char* kNames[] = {"mandatory", "alpn", "no-default-alpn", "port",
                                           "ipv4hint",  "ech",  "ipv6hint"};
  if (key < std::size(kNames)) return kNames[key];
  return "key" + Number(key);
}

// One SvcParam (RFC 9460 section 2.1): `key=value`, or the key alone.
std::string SvcParamText(uint16_t key, std::span<const uint8_t> value) {
  ByteReader reader(value);
  std::string out = SvcKeyName(key);
  switch (key) {
    case 0: {  // mandatory: key names
      if (value.empty() || value.size() % 2 != 0) throw TBadRdata{};
      out += '=';
      while (reader.remaining() > 0) {
        if (out.back() != '=') out += ',';
        out += SvcKeyName(reader.readBe16());
      }
      return out;
    }
    case 1: {  // alpn: ids joined by commas; a comma or backslash in an id escaped
      if (value.empty()) throw TBadRdata{};
      std::string list;
      while (reader.remaining() > 0) {
        const auto id = reader.readBytes(reader.readU8());
        if (id.empty()) throw TBadRdata{};
        if (!list.empty()) list += ',';
        for (uint8_t c : id) {
          if (c == ',' || c == '\\') list += '\\';
          list += static_cast<char>(c);
        }
      }
      return out + "=" + Quoted(list);
    }
    case 2:  // no-default-alpn: no value
      if (!value.empty()) throw TBadRdata{};
      return out;
    case 3:
      if (value.size() != 2) throw TBadRdata{};
      return out + "=" + Number(reader.readBe16());
    case 4: {
      if (value.empty() || value.size() % 4 != 0) throw TBadRdata{};
      out += '=';
      for (size_t i = 0; i < value.size(); i += 4)
        out += (i ? "," : "") + Dotted(value.subspan(i, 4));
      return out;
    }
    case 5:
      return out + "=" + Base64(value);
    case 6: {
      if (value.empty() || value.size() % 16 != 0) throw TBadRdata{};
      out += '=';
      for (size_t i = 0; i < value.size(); i += 16)
        out += (i ? "," : "") + DnsIPv6Text(value.subspan(i).first<16>());
      return out;
    }
    default:
      if (value.empty()) return out;
      return out + "=" + Quoted(value);
  }
}

std::string RdataText(uint16_t type, TRdataReader& in) {
  std::string out;
  const auto sep = [&out] {
    if (!out.empty()) out += ' ';
  };
  switch (type) {
    case 1:  // A
      if (in.Remaining() != 4) throw TBadRdata{};
      return Dotted(in.Bytes(4));
    case 28:  // AAAA
      if (in.Remaining() != 16) throw TBadRdata{};
      return DnsIPv6Text(in.Bytes(16).first<16>());
    case 2: case 5: case 12: case 39:  // NS, CNAME, PTR, DNAME
      return in.Name();
    case 6: {  // SOA
      out = in.Name();
      out += ' ' + in.Name();
      for (int i = 0; i < 5; ++i) out += ' ' + Number(in.U32());
      return out;
    }
    case 15: {  // MX
      out = Number(in.U16());
      return out + ' ' + in.Name();
    }
    case 13: {  // HINFO
      out = Quoted(in.CharacterString());
      return out + ' ' + Quoted(in.CharacterString());
    }
    case 16: case 99:  // TXT, SPF: at least one character-string
      do {
        sep();
        out += Quoted(in.CharacterString());
      } while (!in.AtEnd());
      return out;
    case 33: {  // SRV
      out = Number(in.U16());
      out += ' ' + Number(in.U16());
      out += ' ' + Number(in.U16());
      return out + ' ' + in.Name();
    }
    case 35: {  // NAPTR
      out = Number(in.U16());
      out += ' ' + Number(in.U16());
      for (int i = 0; i < 3; ++i) out += ' ' + Quoted(in.CharacterString());
      return out + ' ' + in.Name();
    }
    case 43: {  // DS: key tag, algorithm, digest type, digest in hex
      out = Number(in.U16());
      out += ' ' + Number(in.U8());
      out += ' ' + Number(in.U8());
      if (in.AtEnd()) throw TBadRdata{};
      return out + ' ' + Split(Hex(in.Rest()));
    }
    case 44: {  // SSHFP: algorithm, fingerprint type, fingerprint in hex
      out = Number(in.U8());
      out += ' ' + Number(in.U8());
      if (in.AtEnd()) throw TBadRdata{};
      return out + ' ' + Split(Hex(in.Rest()));
    }
    case 48: {  // DNSKEY: flags, protocol, algorithm, key in base64
      out = Number(in.U16());
      out += ' ' + Number(in.U8());
      out += ' ' + Number(in.U8());
      if (in.AtEnd()) throw TBadRdata{};
      return out + ' ' + Split(Base64(in.Rest()));
    }
    case 52: {  // TLSA: usage, selector, matching type, data in hex
      out = Number(in.U8());
      out += ' ' + Number(in.U8());
      out += ' ' + Number(in.U8());
      if (in.AtEnd()) throw TBadRdata{};
      return out + ' ' + Split(Hex(in.Rest()));
    }
    case 64: case 65: {  // SVCB, HTTPS: priority, target, parameters
      out = Number(in.U16());
      out += ' ' + in.Name();
      while (!in.AtEnd()) {
        const uint16_t key = in.U16();
        const auto value = in.Bytes(in.U16());
        out += ' ' + SvcParamText(key, value);
      }
      return out;
    }
    case 257: {  // CAA: flags, tag (letters and digits), value
      out = Number(in.U8());
      const auto tag = in.Bytes(in.U8());
      if (tag.empty()) throw TBadRdata{};
      out += ' ';
      for (uint8_t c : tag) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) throw TBadRdata{};
        out += static_cast<char>(c);
      }
      return out + ' ' + Quoted(in.Rest());
    }
    default:
      throw TBadRdata{};
  }
}

// Moves `column` to `to` as dig does: tabs to the tab stops (every 8),
// then blanks; at least one character even when `to` is already reached.
void IndentTo(std::string& line, size_t& column, size_t to) {
  if (to < column + 1) to = column + 1;
  const size_t tabs = to / 8 - column / 8;
  if (tabs > 0) {
    line.append(tabs, '\t');
    column = to / 8 * 8;
  }
  line.append(to - column, ' ');
  column = to;
}

}  // namespace

std::string DnsTypeName(uint16_t type) {
  for (const TTypeName& t : kTypeNames)
    if (t.code == type) return t.name;
  return "TYPE" + Number(type);
}

std::optional<uint16_t> DnsTypeFromText(std::string_view text) {
  const std::string upper = UpperCase(std::string(text));
  for (const TTypeName& t : kTypeNames)
    if (t.askable && upper == t.name) return t.code;
  if (upper.size() > 4 && upper.size() <= 9 && upper.compare(0, 4, "TYPE") == 0) {
    const std::string_view digits = std::string_view(upper).substr(4);
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc() && end == digits.data() + digits.size() && value <= 0xFFFF &&
        digits[0] != '+')
      return static_cast<uint16_t>(value);
  }
  return std::nullopt;
}

std::string DnsClassName(uint16_t rclass) {
  switch (rclass) {
    case 1: return "IN";
    case 3: return "CH";
    case 4: return "HS";
    case 254: return "NONE";
    case 255: return "ANY";
    default: return "CLASS" + Number(rclass);
  }
}

std::string DnsRcodeName(int rcode) {
  if (rcode >= 0 && static_cast<size_t>(rcode) < std::size(kRcodeNames))
    return kRcodeNames[rcode];
  return "RCODE" + std::to_string(rcode);
}

std::vector<std::string> DnsFlagNames(uint16_t flags) {
  static constexpr std::pair<uint16_t, const char*> kFlags[] = {
      {kDnsFlagQR, "qr"}, {kDnsFlagAA, "aa"}, {kDnsFlagTC, "tc"}, {kDnsFlagRD, "rd"},
      {kDnsFlagRA, "ra"}, {kDnsFlagAD, "ad"}, {kDnsFlagCD, "cd"}};
  std::vector<std::string> names;
  for (const auto& [bit, name] : kFlags)
    if (flags & bit) names.emplace_back(name);
  return names;
}

std::string AbsoluteDnsName(const std::string& name) {
  return name.empty() ? "." : name + ".";
}

std::string DnsIPv6Text(std::span<const uint8_t, 16> bytes) {
  TIdIPv6Bytes b;
  std::copy(bytes.begin(), bytes.end(), b.begin());
  // ::a.b.c.d (IPv4-compatible, RFC 4291 2.5.5.1): six zero groups and a
  // non-zero seventh; ::1 and ::2 stay as they are.
  bool compat = b[12] != 0 || b[13] != 0;
  for (size_t i = 0; i < 12 && compat; ++i) compat = b[i] == 0;
  if (compat) return "::" + Dotted(std::span<const uint8_t>(b).subspan(12, 4));
  return IPv6ToText(b);
}

std::string DnsGenericRdataText(std::span<const uint8_t> rdata) {
  std::string out = "\\# " + Number(static_cast<uint32_t>(rdata.size()));
  if (!rdata.empty()) out += ' ' + Split(Hex(rdata));
  return out;
}

std::string DnsRdataText(const TDnsMessage& m, const TDnsRecord& r) {
  const std::span<const uint8_t> rdata = m.Rdata(r);
  try {
    TRdataReader in(m, r);
    std::string text = RdataText(r.type, in);
    if (!in.AtEnd()) throw TBadRdata{};
    return text;
  } catch (const TBadRdata&) {
  } catch (const ByteReaderShort&) {
  } catch (const EDnsMalformedMessage&) {
  }
  return DnsGenericRdataText(rdata);
}

std::string DnsRecordLine(const std::string& owner, uint32_t ttl, const std::string& rclass,
                          const std::string& type, const std::string& data) {
  std::string line = owner;
  size_t column = owner.size();
  const std::string ttlText = Number(ttl);
  IndentTo(line, column, 24);
  line += ttlText;
  column += ttlText.size();
  IndentTo(line, column, 32);
  line += rclass;
  column += rclass.size();
  IndentTo(line, column, 40);
  line += type;
  column += type.size();
  IndentTo(line, column, 48);
  line += data;
  return line;
}

std::string DnsRecordLine(const TDnsMessage& m, const TDnsRecord& r) {
  return DnsRecordLine(AbsoluteDnsName(r.owner), r.ttl, DnsClassName(r.rclass),
                       DnsTypeName(r.type), DnsRdataText(m, r));
}

}  // namespace quillon
