// Fuzz target: an RDAP answer read as a domain, a network and an AS (with its
// related links), and the same bytes read as a bootstrap registry for a name,
// two addresses and an AS number, and checked for a registry's shape.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/rdap/rdap_bootstrap.h"
#include "app/rdap/rdap_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const auto kind : {quillon::TRdapObjectKind::Domain, quillon::TRdapObjectKind::Network,
                          quillon::TRdapObjectKind::Autnum}) {
    try {
      (void)quillon::RdapSummaryLines(text, kind);
    } catch (const quillon::ERdapError&) {
    }
  }
  try {
    (void)quillon::RdapRelatedLinks(text);
  } catch (const quillon::ERdapError&) {
  }
  try {
    quillon::CheckBootstrapRegistry(text);
  } catch (const quillon::ERdapError&) {
  }
  try {
    (void)quillon::DomainServiceUrls(text, "www.example.com");
    for (const char* address : {"192.0.2.1", "2001:db8::1"})
      (void)quillon::AddressServiceUrls(text, *quillon::ParseRdapAddress(address));
    (void)quillon::AsnServiceUrls(text, 64500);
  } catch (const quillon::ERdapError&) {
  }
  (void)quillon::ParseAsNumber(text);
  return 0;
}
