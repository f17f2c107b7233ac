// Fuzz target: the bytes read as a DNS reply to each kind of public-address
// source (the question's name taken from the reply, so that its records are
// read), as an answer text, as a list of sources and as quillon.conf.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/lookup/public_address_answer.h"
#include "app/lookup/public_address_sources.h"
#include "app/lookup/quillon_conf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)AddressFromText(text);
  std::vector<std::string> skipped;
  (void)ParsePublicAddressSources(text, &skipped);
  TQuillonConf conf;
  conf.Parse(text);
  (void)conf.Value(kPublicAddressSection, kPublicAddressKey);
  (void)conf.Section("history");
  try {
    const TDnsMessage message = ParseDnsMessage({data, size});
    for (const auto kind : {TSourceKind::DnsA, TSourceKind::DnsTxt, TSourceKind::DnsChaos}) {
      TPublicAddressSource source;
      source.kind = kind;
      source.name = message.questions.empty() ? "myip.example" : message.questions[0].name;
      (void)ReadPublicAddressAnswer(message, PublicAddressQuestion(source));
    }
  } catch (const EDnsMalformedMessage&) {
  }
  return 0;
}
