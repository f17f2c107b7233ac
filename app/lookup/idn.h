// Internationalised names: what the user typed becomes, for the wire, its
// A-label form (UTS #46, non-transitional, through libidn2). ASCII names are
// left exactly as they are, so everything already ASCII behaves as before.
#pragma once

#include <string>
#include <string_view>

#include "net/socket/exceptions.h"

namespace quillon {

// A name that cannot be put on the wire (a disallowed character, a label
// over 63 bytes after conversion, bytes that are no UTF-8).
QUILLON_EXCEPTION(EIdnNameRefused, EIdException);

// True when every byte is below 0x80.
bool IsAsciiName(std::string_view name);

// The name as it goes out: unchanged when it is ASCII; otherwise trimmed of
// blanks and control characters and converted label by label to A-labels,
// lower-cased by the case mapping of UTS #46. A name that is refused raises
// EIdnNameRefused.
std::string ToWireName(std::string_view name);

}  // namespace quillon
