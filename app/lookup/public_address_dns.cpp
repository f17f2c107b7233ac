// DNS public-address sources (waiting for the generic DNS exchange).
#include "app/lookup/public_address_ask.h"

namespace quillon {

TSourceReading AskDnsSource(const TPublicAddressSource&, TSourceControl&) {
  return {{}, "DNS sources are not built yet"};
}

}  // namespace quillon
