// What a public-address source answered, read strictly: only an IPv4 address
// in dotted-decimal text counts, whatever else a service, a captive portal or
// a misbehaving server sends.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/lookup/public_address_sources.h"
#include "net/dns/dns_message.h"

namespace quillon {

// What one source gave.
struct TSourceReading {
  std::string address;  // a dotted IPv4 address, or empty
  std::string error;    // when `address` is empty: what went wrong, plain English
};

// Four decimal numbers 0 to 255 separated by dots, without signs, blanks or
// leading zeros ("0" itself excepted).
bool IsDottedIPv4(std::string_view text);

// The address in an answer text (an HTTP body, a TXT string): one trailing
// CR LF, LF, CR or blank is dropped, and the rest must be an address.
std::optional<std::string> AddressFromText(std::string_view text);

// The DNS question of a DNS source: its name, type A or TXT, class IN or CH.
TDnsQuestion PublicAddressQuestion(const TPublicAddressSource& source);
// A DNS source's reading of the answer to `question`: the one address of
// the records of the name, type and class asked (an A record's address, or a
// TXT record's single string); anything else fails.
TSourceReading ReadPublicAddressAnswer(const TDnsMessage& message, const TDnsQuestion& question);

}  // namespace quillon
