// Whether a domain is a public suffix ("com", "co.uk", "github.io"), under
// which anyone may register names: a cookie must never be set for one.
// Backed by the Public Suffix List compiled into libpsl, loaded at the first
// check.
#pragma once

#include <string>

namespace quillon {

// The library that holds the list, by the name the loader knows it by.
inline constexpr const char* kPublicSuffixLibrary = "libpsl.so.5";

// `domain` without a leading dot, any letter case. A single label that the
// list does not know ("localhost", "test") is not taken for a suffix. Where
// the list cannot be read (libpsl missing), every domain is taken for one:
// a cookie is then kept only for the host that set it.
bool IsPublicSuffix(const std::string& domain);

}  // namespace quillon
