// Fuzz target for the reading of DNS messages of any type: the header, every
// question and record of the three sections, the OPT record, names in
// presentation form and TXT character-strings. A message may be refused with
// EDnsMalformedMessage; anything else escaping, a read past the input or a
// broken invariant of what was read is a failure.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "net/dns/dns_message.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckSection(const quillon::TDnsMessage& m, const std::vector<quillon::TDnsRecord>& section) {
  for (const quillon::TDnsRecord& r : section) {
    Check(r.rdataOffset + r.rdataLength <= m.bytes.size());
    Check(r.type != quillon::kDnsTypeOPT || &section != &m.additional);
    // Escaped names are at most four characters a byte.
    Check(r.owner.size() <= 4 * 255);
    try {
      if (r.type == quillon::kDnsTypeTXT)
        for (const std::string& s : quillon::DnsTxtStrings(m, r)) Check(s.size() <= 255);
      size_t p = r.rdataOffset;
      const std::string name = quillon::ReadDnsName(m, p);
      Check(p > r.rdataOffset && p <= m.bytes.size());
    } catch (const quillon::EDnsMalformedMessage&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  try {
    const quillon::TDnsMessage m = quillon::ParseDnsMessage(bytes);
    Check(m.bytes.size() == size);
    Check(m.rcode >= 0 && m.rcode < 4096);
    CheckSection(m, m.answers);
    CheckSection(m, m.authority);
    CheckSection(m, m.additional);
  } catch (const quillon::EDnsMalformedMessage&) {
  }
  return 0;
}
