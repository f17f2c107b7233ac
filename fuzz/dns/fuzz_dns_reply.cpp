// Fuzz target for the reading of DNS replies: header checks, the question,
// resource records with compressed names and every RDATA reader. A reply may
// be refused with EIdDnsResolverError; anything else escaping, a read past
// the input or a broken invariant of the decoded records is a failure.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "net/dns/dns_error.h"
#include "net/dns/dns_names.h"
#include "net/dns/resolver.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckRecords(const quillon::TQueryResult& results) {
  Check(results.QuestionName.size() <= 254);
  for (int i = 0; i < results.Count(); ++i) {
    const quillon::TResultRecord& r = results[i];
    Check(r.Collection() == &results);
    Check(r.RawData.size() == static_cast<size_t>(r.RawDataLength));
    Check(r.OwnerName.size() <= 254);
    if (r.Kind == quillon::qtMX) {
      const auto* mx = dynamic_cast<const quillon::TMXRecord*>(&r);
      Check(mx != nullptr && mx->Exchange.size() <= 254);
    }
    if (const auto* a = dynamic_cast<const quillon::TRDATARecord*>(&r))
      Check(a->AddressText.empty() == (r.RawData.size() < 4));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static quillon::TIdDNSResolver resolver;  // keeps the socket stack alive
  const std::span<const uint8_t> reply(data, size);

  // The reply's own ID is expected, so that the reading goes past the header
  // checks; the query sent was the shortest one (19 bytes).
  resolver.Header().MessageId = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
  resolver.QueryRecords = {quillon::qtMX};
  resolver.BuildQuery("a");
  try {
    resolver.ParseReply(reply);
    CheckRecords(resolver.Results());
  } catch (const quillon::EIdDnsResolverError&) {
    CheckRecords(resolver.Results());  // left as it was
  }

  // The name and character-string readers on their own, from a few places.
  for (size_t start : {size_t{0}, size_t{12}, size / 2}) {
    size_t p = start;
    try {
      const std::string name = quillon::DecodeName(reply, p);
      Check(name.size() <= 254);
      Check(p > start && p <= size + 1);
    } catch (const quillon::EIdDnsResolverError&) {
    }
    p = start;
    const std::string text = quillon::ReadCharacterString(reply, p);
    Check(text.size() <= 255 && p >= start);
  }
  return 0;
}
