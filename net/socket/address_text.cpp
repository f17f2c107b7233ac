#include "net/socket/address_text.h"

#include <algorithm>

namespace quillon {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A dotted IPv4 address of exactly four decimal numbers from 0 to 255, each without
// leading zeros (RFC 4291 takes the dotted-decimal form of RFC 791).
bool ParseDottedTail(std::string_view text, uint8_t out[4]) {
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    const size_t begin = at;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 3)
      value = value * 10 + static_cast<unsigned>(text[at++] - '0');
    const size_t digits = at - begin;
    if (digits == 0 || value > 255 || (digits > 1 && text[begin] == '0')) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  return at == text.size();
}

// Up to eight 16-bit groups, in a fixed place (an address is parsed on
// every datagram an echo or query sends; no allocation is needed).
struct Groups {
  uint16_t value[8];
  size_t count = 0;
  bool Add(uint16_t v) {
    if (count == 8) return false;
    value[count++] = v;
    return true;
  }
};

// The groups of one side of "::" (or of the whole address): 16-bit values,
// a dotted tail counting as two. False on any malformed group.
bool ParseGroups(std::string_view text, bool tailAllowed, Groups& out) {
  if (text.empty()) return true;
  size_t at = 0;
  for (;;) {
    const size_t colon = text.find(':', at);
    const std::string_view group =
        text.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at);
    const bool last = colon == std::string_view::npos;
    if (last && tailAllowed && group.find('.') != std::string_view::npos) {
      uint8_t v4[4];
      if (!ParseDottedTail(group, v4)) return false;
      return out.Add(static_cast<uint16_t>(v4[0] << 8 | v4[1])) &&
             out.Add(static_cast<uint16_t>(v4[2] << 8 | v4[3]));
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (char c : group) {
      const int h = HexValue(c);
      if (h < 0) return false;
      value = value << 4 | static_cast<unsigned>(h);
    }
    if (!out.Add(static_cast<uint16_t>(value))) return false;
    if (last) return true;
    at = colon + 1;
  }
}

bool ValidZone(std::string_view zone) {
  if (zone.empty() || zone.size() > 15) return false;
  for (char c : zone) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::optional<TIdIPv6Address> ParseIPv6(std::string_view text) {
  if (text.size() > kMaxIPv6TextLength) return std::nullopt;
  TIdIPv6Address result;
  const size_t percent = text.find('%');
  if (percent != std::string_view::npos) {
    const std::string_view zone = text.substr(percent + 1);
    if (!ValidZone(zone)) return std::nullopt;
    result.Zone = std::string(zone);
    text = text.substr(0, percent);
  }
  if (text.size() > 45 || text.find(':') == std::string_view::npos) return std::nullopt;

  Groups head;
  Groups tail;
  const size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    if (!ParseGroups(text, true, head) || head.count != 8) return std::nullopt;
  } else {
    if (text.find("::", gap + 1) != std::string_view::npos) return std::nullopt;
    // "::" stands for one or more zero groups, so at most seven are written.
    if (!ParseGroups(text.substr(0, gap), false, head) ||
        !ParseGroups(text.substr(gap + 2), true, tail) || head.count + tail.count > 7)
      return std::nullopt;
  }
  uint16_t groups[8] = {};
  std::copy(head.value, head.value + head.count, groups);
  std::copy(tail.value, tail.value + tail.count, groups + 8 - tail.count);
  for (size_t i = 0; i < 8; ++i) {
    result.Bytes[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
    result.Bytes[2 * i + 1] = static_cast<uint8_t>(groups[i] & 0xFF);
  }
  return result;
}

bool IsIPv6Literal(std::string_view text) {
  return ParseIPv6(text).has_value();
}

std::string IPv6ToText(const TIdIPv6Bytes& b, std::string_view zone) {
  uint16_t groups[8];
  for (size_t i = 0; i < 8; ++i) groups[i] = static_cast<uint16_t>(b[2 * i] << 8 | b[2 * i + 1]);
  // Written by hand into one reserved string: the text of every reply's
  // source address is made here.
  std::string out;
  out.reserve(kMaxIPv6TextLength);
  const auto decimal = [&out](unsigned v) {
    if (v >= 100) out += static_cast<char>('0' + v / 100);
    if (v >= 10) out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
  };
  const auto hex = [&out](unsigned v) {
    static constexpr char kDigits[] = "0123456789abcdef";
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = v >> shift & 0xF;
      if (digit == 0 && !started && shift > 0) continue;
      started = true;
      out += kDigits[digit];
    }
  };
  const bool mapped = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 &&
                      groups[4] == 0 && groups[5] == 0xFFFF;
  if (mapped) {
    out = "::ffff:";
    for (size_t i = 12; i < 16; ++i) {
      if (i > 12) out += '.';
      decimal(b[i]);
    }
  } else {
    // The longest run of zero groups, at least two long; the first wins a tie.
    int bestStart = -1, bestLength = 0;
    for (int i = 0; i < 8;) {
      if (groups[i] != 0) {
        ++i;
        continue;
      }
      int j = i;
      while (j < 8 && groups[j] == 0) ++j;
      if (j - i > bestLength) {
        bestStart = i;
        bestLength = j - i;
      }
      i = j;
    }
    if (bestLength < 2) bestStart = -1;
    for (int i = 0; i < 8; ++i) {
      if (i == bestStart) {
        out += "::";
        i += bestLength - 1;
        continue;
      }
      if (!out.empty() && out.back() != ':') out += ':';
      hex(groups[i]);
    }
  }
  if (!zone.empty()) {
    out += '%';
    out += zone;
  }
  return out;
}

int AddressFamilyOf(std::string_view text) {
  constexpr int kIPv4 = 2;  // Id_PF_INET
  return IsIPv6Literal(text) ? Id_PF_INET6 : kIPv4;
}

}  // namespace quillon
