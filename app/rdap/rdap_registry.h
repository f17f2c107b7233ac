// The bootstrap registries as a lookup gets them: from the cache while it is
// fresh, else fetched (and kept). Lookups that run at the same time in one
// process (the workers of a list) share one fetch of a registry: the first
// fetches, the others wait for its result.
#pragma once

#include <cstdint>
#include <string>

#include "app/rdap/rdap_fetcher.h"
#include "app/rdap/rdap_lookup.h"

namespace quillon {

// The registry `file` ("dns.json", "asn.json", ...) under the options'
// bootstrap base. Raises as TRdapFetcher::Get does, and ERdapError for a
// document that is not a registry.
std::string BootstrapRegistry(TRdapFetcher& fetcher, const TRdapOptions& options,
                              const std::string& file);

// Seconds since 1970 by the options' clock.
int64_t RdapNow(const TRdapOptions& options);

}  // namespace quillon
