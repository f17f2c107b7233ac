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

enum class TRdapObjectKind { Domain, Network };

// Longest document accepted and deepest nesting parsed.
inline constexpr size_t kRdapMaxDocument = size_t{4} << 20;

// Raises ERdapError for a document that is not a JSON object.
void CheckRdapJson(std::string_view document);

// The lines "Domain: ...", "Handle: ...", ... "DNSSEC: ..." for the members
// present (without the final "RDAP server:" line). Raises ERdapError for a
// document that is not a JSON object.
std::vector<std::string> RdapSummaryLines(std::string_view document, TRdapObjectKind kind);

}  // namespace quillon
