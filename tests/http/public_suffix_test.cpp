// libpsl is loaded at the first domain a cookie asks to check, never at
// start-up nor for cookies that stay with their host; where it cannot be
// loaded, a cookie is kept only for the host that set it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "net/http/cookie_manager.h"
#include "net/http/public_suffix.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

bool PslMapped() {
  void* handle = ::dlopen(kPublicSuffixLibrary, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) ::dlclose(handle);  // drops only the reference NOLOAD took
  return handle != nullptr;
}

// Stores `cookie` as sent by `host`; whether it was kept.
bool Kept(const std::string& cookie, const std::string& host) {
  TIdCookieManager m;
  m.StoreCookie(cookie, host);
  return m.CookieCollection().Count() == 1;
}

// Each case runs in a fresh process of this program (which links nothing
// that needs libpsl), the second with the library hidden behind an empty
// file in a mount namespace of its own.
TEST(PublicSuffixLibrary, LoadedAtTheFirstWiderDomainOnly) {
  const char* child = std::getenv("QUILLON_PSL_CHILD");
  if (child != nullptr && std::string(child) == "present") {
    ASSERT_FALSE(PslMapped()) << "loaded at start-up";
    EXPECT_TRUE(Kept("k=v; path=/", "www.example.com"));
    EXPECT_TRUE(Kept("k=v; path=/; domain=www.example.com", "www.example.com"));
    EXPECT_FALSE(PslMapped()) << "loaded for a cookie of the host itself";
    EXPECT_TRUE(Kept("k=v; path=/; domain=.example.com", "www.example.com"));
    EXPECT_TRUE(PslMapped());
    EXPECT_FALSE(Kept("k=v; path=/; domain=.co.uk", "shop.co.uk"));
    return;
  }
  if (child != nullptr && std::string(child) == "hidden") {
    EXPECT_TRUE(Kept("k=v; path=/", "www.example.com"));
    EXPECT_TRUE(Kept("k=v; path=/; domain=www.example.com", "www.example.com"));
    EXPECT_FALSE(Kept("k=v; path=/; domain=.example.com", "www.example.com"));
    EXPECT_FALSE(Kept("k=v; path=/; domain=.co.uk", "shop.co.uk"));
    EXPECT_TRUE(IsPublicSuffix("example.com"));
    EXPECT_FALSE(PslMapped());
    return;
  }
  test::RerunWithLibraryAndWithout("PublicSuffixLibrary.*", "QUILLON_PSL_CHILD", "libpsl.so.5");
}

}  // namespace
}  // namespace quillon
