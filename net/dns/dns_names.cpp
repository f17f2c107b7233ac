#include "net/dns/dns_names.h"

#include <algorithm>
#include <vector>

#include "net/dns/dns_error.h"
#include "net/socket/byte_reader.h"
#include "net/socket/text_helpers.h"

namespace quillon {

void RaiseMalformedReply() {
  throw EIdDnsResolverError(Sprintf("Taille de paquet incorrecte %d", 3));
}

void RaiseBadQueryName(const std::string& name) {
  throw EIdDnsResolverError(Sprintf("Nom de requête incorrect : %s", name.c_str()));
}

void EncodeQueryName(std::string& out, std::string_view name, bool reversed) {
  std::string_view body = name;
  if (body == ".")
    body = {};
  else if (!body.empty() && body.back() == '.')
    body.remove_suffix(1);
  else if (body.empty())
    RaiseBadQueryName(std::string(name));

  // An empty label would be written as a 0 byte, which ends the name early;
  // a length of 64 or more would be read as a compression pointer (top bits
  // set). Either turns the rest of the question into garbage, so such names
  // are refused before anything is sent.
  std::vector<std::string_view> labels;
  size_t encoded = 1;  // the final 0 byte
  while (!body.empty()) {
    const size_t dot = body.find('.');
    const std::string_view label = body.substr(0, dot);
    if (label.empty() || label.size() > kMaxLabelLength) RaiseBadQueryName(std::string(name));
    labels.push_back(label);
    encoded += label.size() + 1;
    if (dot == std::string_view::npos) break;
    body.remove_prefix(dot + 1);
    if (body.empty()) RaiseBadQueryName(std::string(name));  // two dots at the end
  }
  if (reversed) {
    std::reverse(labels.begin(), labels.end());
    labels.push_back("in-addr");
    labels.push_back("arpa");
    encoded += 8 + 5;
  }
  if (encoded > kMaxEncodedNameLength) RaiseBadQueryName(std::string(name));

  out.reserve(out.size() + encoded);
  for (std::string_view label : labels) {
    out.push_back(static_cast<char>(label.size()));
    out.append(label);
  }
  out.push_back('\0');
}

std::string DecodeName(std::span<const uint8_t> message, size_t& position) {
  const size_t length = message.size();
  ByteReader reader(message);
  // The text is gathered here: at most 254 bytes once the 255-byte limit of
  // the wire form holds.
  char text[kMaxEncodedNameLength];
  size_t used = 0;
  size_t p = position;
  // Where the reading goes on after the name, once a pointer was followed.
  size_t resume = 0;
  bool jumped = false;
  int jumps = 0;
  // Start of the labels being read: a pointer must point before it, so that
  // every jump goes strictly backwards and the labels read never repeat.
  size_t segmentStart = p;
  size_t encoded = 1;

  try {
    reader.seek(p);
    uint8_t b = reader.readU8();
    for (;;) {
      while (b >= 0xC0) {
        const size_t target = size_t{b & 0x3Fu} << 8 | reader.readU8();
        if (target >= segmentStart || ++jumps > kMaxPointerJumps) RaiseMalformedReply();
        if (!jumped) {
          resume = p + 2;
          jumped = true;
        }
        p = segmentStart = target;
        reader.seek(p);
        b = reader.readU8();
      }
      if (b == 0) break;
      // A label is at most 63 bytes (RFC 1035 2.3.4); the prefixes 01 and 10
      // of lengths 64 to 191 name label types nobody sends, so such a byte
      // marks a corrupt or hostile reply. The label must lie inside the
      // message.
      if (b > kMaxLabelLength || p + b >= length) RaiseMalformedReply();
      encoded += b + 1u;
      if (encoded > kMaxEncodedNameLength) RaiseMalformedReply();
      const std::span<const uint8_t> label = reader.readBytes(b);
      std::copy(label.begin(), label.end(), text + used);
      used += label.size();
      text[used++] = '.';
      p += b + 1u;
      // A name that runs into the last byte of the message ends there.
      if (p + 1 >= length) break;
      b = reader.readU8();
      if (b == 0) break;
    }
  } catch (const ByteReaderShort&) {
    RaiseMalformedReply();
  }
  if (used > 0) --used;  // the final dot
  position = jumped ? resume : p + 1;
  return std::string(text, used);
}

std::string ReadCharacterString(std::span<const uint8_t> message, size_t& position) {
  const size_t p = position;
  if (p + 1 >= message.size()) return {};
  ByteReader reader(message);
  reader.seek(p);
  const uint8_t b = reader.readU8();
  if (b == 0) {
    position = p + 1;
    return {};
  }
  const std::span<const uint8_t> text = reader.readBytes(std::min<size_t>(b, reader.remaining()));
  position = p + b + 1u;
  return {reinterpret_cast<const char*>(text.data()), text.size()};
}

}  // namespace quillon
