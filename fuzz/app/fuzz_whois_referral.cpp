// Fuzz target: a whois answer searched for its referrals, each of its lines
// read as one server value, and the same bytes judged as an address.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/whois/whois_referral.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& referral : quillon::WhoisReferrals(text))
    (void)quillon::IsLocalAddress(referral.Host);
  (void)quillon::ParseWhoisServerValue(text);
  (void)quillon::IsLocalAddress(text);
  return 0;
}
