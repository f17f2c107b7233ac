// Domain names on the wire (RFC 1035 sections 3.1 and 4.1.4): writing a name
// into a question, reading a possibly compressed name and a character-string
// out of a reply. Reading never looks past the end of the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillon {

// RFC 1035 section 2.3.4.
constexpr size_t kMaxLabelLength = 63;
constexpr size_t kMaxEncodedNameLength = 255;
// Compression pointers followed for one name before the reply is refused.
constexpr int kMaxPointerJumps = 64;

// Appends `name` in wire form (labels and the final 0 byte). The bytes are
// taken as they are; a final "." is dropped and "." alone is the root. With
// `reversed` the labels are written last first and followed by in-addr.arpa
// (a reverse-lookup name for an IPv4 address). Raises EIdDnsResolverError for
// an empty label, a label over 63 bytes or a name over 255 bytes.
void EncodeQueryName(std::string& out, std::string_view name, bool reversed = false);

// Reads the name at `position` and moves `position` past it (past the first
// compression pointer when there is one). Labels are joined with "." and the
// result has no final dot; the root name is the empty text. A pointer must
// point before the labels that lead to it and at most kMaxPointerJumps are
// followed. A label running past the message, a pointer outside it or going
// forwards, or a name over 255 bytes raises EIdDnsResolverError.
std::string DecodeName(std::span<const uint8_t> message, size_t& position);

// Reads one character-string (a length byte and that many bytes, fewer when
// the message ends first). At the last byte of the message or beyond, gives
// the empty text and leaves `position` alone.
std::string ReadCharacterString(std::span<const uint8_t> message, size_t& position);

// The bytes of a text as a span, for the readers above.
inline std::span<const uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace quillon
