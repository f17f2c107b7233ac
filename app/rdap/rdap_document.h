// Reading RDAP answers (JSON documents of registration data): the summary
// lines of a domain or IP network object. Every member is read defensively:
// a missing or wrongly typed one is skipped. No network, no Qt.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/lookup/printable_text.h"

namespace quillon {

// A lookup that cannot go on; the text is shown after "Error RDAP: ".
class ERdapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TRdapObjectKind { Domain, Network, Autnum };

// Longest document accepted and deepest nesting parsed.
inline constexpr size_t kRdapMaxDocument = size_t{4} << 20;

// Raises ERdapError for a document that is not a JSON object.
void CheckRdapJson(std::string_view document);

// The lines for the members present (without the final "RDAP server:"
// line), each when present:
//   domain:  Domain, Handle, Status, Registrar, Abuse, Registered, Expires,
//            Last changed, Name servers, DNSSEC
//   network: Network (start - end), Name, Handle, Status, Registrant, Abuse,
//            Registered, Expires, Last changed
//   AS:      AS number (or AS numbers: start - end), Name, Handle, Status,
//            Registrant, Abuse, Registered, Last changed
// Abuse is the email of an entity with the role "abuse" at any depth under
// the object's entities, else its telephone. Raises ERdapError for a
// document that is not a JSON object.
std::vector<std::string> RdapSummaryLines(std::string_view document, TRdapObjectKind kind);

// The href of each of the object's links with "rel": "related" and "type":
// "application/rdap+json", in order (from a registry's domain answer: the
// registrar's record). Raises ERdapError as RdapSummaryLines does.
std::vector<std::string> RdapRelatedLinks(std::string_view document);

}  // namespace quillon
