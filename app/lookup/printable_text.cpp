// Terminal-safe server text; see printable_text.h.
#include "app/lookup/printable_text.h"

#include <cstdint>

namespace quillon {

namespace {

// The length of the well-formed UTF-8 sequence at text[at] and its code
// point; 0 when the bytes there are not one (overlong forms, surrogates and
// values past U+10FFFF included).
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t& codePoint) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  size_t length;
  uint32_t value;
  uint32_t lowest;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  codePoint = value;
  return length;
}

bool Unsafe(uint32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      out += Unsafe(byte) ? '?' : static_cast<char>(byte);
      ++at;
      continue;
    }
    uint32_t codePoint = 0;
    const size_t length = Utf8Sequence(text, at, codePoint);
    if (length == 0) {
      // Not UTF-8: kept as it is, unless a Latin-1 terminal would take it
      // for a C1 control.
      out += byte <= 0x9F ? '?' : static_cast<char>(byte);
      ++at;
      continue;
    }
    if (Unsafe(codePoint))
      out += '?';
    else
      out.append(text.substr(at, length));
    at += length;
  }
  return out;
}

}  // namespace quillon
