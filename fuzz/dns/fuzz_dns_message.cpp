// Fuzz target for the reading of DNS messages of any type: the header, every
// question and record of the three sections, the OPT record, names in
// presentation form, TXT character-strings, and each record's data field
// as dig would print it (every type's reader, also over foreign rdata). A message may be refused with
// EDnsMalformedMessage; anything else escaping, a read past the input or a
// broken invariant of what was read is a failure.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "net/dns/dns_message.h"
#include "net/dns/dns_presentation.h"

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
    // Every type's presentation over this rdata, not only its own type's.
    for (uint16_t type : {1, 2, 5, 6, 12, 13, 15, 16, 28, 33, 35, 39, 43, 44, 48, 52, 64, 65,
                          99, 257, 65280}) {
      quillon::TDnsRecord as = r;
      as.type = type;
      const std::string text = quillon::DnsRdataText(m, as);
      Check(!text.empty());
    }
    Check(!quillon::DnsRecordLine(m, r).empty());
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
