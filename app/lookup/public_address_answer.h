// What a public-address source answered, read strictly: only an IPv4 address
// in dotted-decimal text counts, whatever else a service, a captive portal or
// a misbehaving server sends.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// Four decimal numbers 0 to 255 separated by dots, without signs, blanks or
// leading zeros ("0" itself excepted).
bool IsDottedIPv4(std::string_view text);

// The address in an answer text (an HTTP body, a TXT string): one trailing
// CR LF, LF, CR or blank is dropped, and the rest must be an address.
std::optional<std::string> AddressFromText(std::string_view text);

}  // namespace quillon
