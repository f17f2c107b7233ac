// Fuzz target: Set-Cookie / Set-Cookie2 values stored and sent back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http/cookie_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quillon::TIdCookieManager manager;
  for (auto kind : {quillon::TIdCookieKind::Rfc2109, quillon::TIdCookieKind::Rfc2965}) {
    try {
      manager.StoreCookie(text, "www.example.test", kind);
      manager.StoreCookie(text, "10.1.2.3", kind);
    } catch (const quillon::EIdException&) {
      // A quoted port that is not a number.
    }
  }
  (void)manager.CookieHeaderFor(quillon::TIdURI("http://www.example.test/a/b"), true);
  return 0;
}
