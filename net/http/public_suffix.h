// Whether a domain is a public suffix ("com", "co.uk", "github.io"), under
// which anyone may register names: a cookie must never be set for one.
// Backed by the Public Suffix List compiled into libpsl.
#pragma once

#include <string>

namespace quillon {

// `domain` without a leading dot, any letter case. A single label that the
// list does not know ("localhost", "test") is not taken for a suffix.
bool IsPublicSuffix(const std::string& domain);

}  // namespace quillon
