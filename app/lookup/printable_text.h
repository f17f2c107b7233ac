// Text that came from a server, made safe to print on a terminal: every
// character that could move the cursor, end a line, start an escape sequence
// or reorder what is shown is replaced by '?'.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// C0 controls and DEL, C1 controls (U+0080 to U+009F, and stray bytes 0x80 to
// 0x9F that are not part of a UTF-8 sequence, which a Latin-1 terminal takes
// for C1), and the bidirectional embeddings, overrides and isolates (U+202A to
// U+202E, U+2066 to U+2069) each become one '?'. Everything else, valid UTF-8
// or not, is kept byte for byte.
std::string PrintableText(std::string_view text);

}  // namespace quillon
