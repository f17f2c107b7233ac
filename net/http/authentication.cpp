// Basic authentication: the credentials "user:password" in base64 (RFC 4648
// section 4, with padding).
#include "net/http/authentication.h"

#include <algorithm>
#include <cstdint>

namespace quillon {

std::string EncodeBase64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  auto byteAt = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[k])); };
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = byteAt(i) << 16 | byteAt(i + 1) << 8 | byteAt(i + 2);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = byteAt(i) << 16;
    if (rest == 2) v |= byteAt(i + 1) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

TIdAuthentication::TIdAuthentication() {
  // Parameters are "Name=value" entries, never folded.
  Params.Separator = "=";
  Params.FoldOnSet = false;
}

std::string TIdAuthentication::RawParam(std::string_view name) const {
  const long i = Params.IndexOfHeader(name);
  if (i < 0) return {};
  const std::string& line = Params.Strings(static_cast<size_t>(i));
  return line.substr(std::min(line.size(), name.size() + 1));
}

std::string TIdBasicAuthentication::Authentication() {
  ++CurrentStep;
  return "Basic " + EncodeBase64(Username() + ":" + Password());
}

}  // namespace quillon
