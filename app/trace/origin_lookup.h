// Asking the Team Cymru origin service for the AS of one hop address: a TXT
// question through the resolver's DNS server (the first nameserver of the
// resolver configuration), answered from the first TXT record.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "net/dns/dns_exchange.h"

namespace quillon {

// The origin AS of `address`; nothing for an address that is never asked
// (origin_txt.h), an answer without a TXT record (NXDOMAIN, no data) or one
// that does not start with an AS number. Raises the exchange's exceptions
// (no answer in the resolver's time, EDnsInterrupted, socket failures).
std::optional<uint32_t> LookUpOriginAs(const std::string& address, const TDnsServer& server,
                                       const std::atomic<bool>* interrupted);

}  // namespace quillon
