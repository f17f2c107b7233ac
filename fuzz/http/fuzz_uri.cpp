// Fuzz target: URL splitting and composing, and resolving one URL against
// another as the HTTP client does.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http/uri.h"
#include "net/socket/text_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quillon::TIdURI uri(text);
  try {
    const std::string composed = uri.ComposeUri(true, true);
    quillon::TIdURI again(composed);
    (void)again.ComposeUri(false, false);
  } catch (const quillon::EIdURIException&) {
  }
  const size_t half = text.size() / 2;
  quillon::TIdURI base(text.substr(0, half));
  quillon::TIdURI relative(text.substr(half));
  (void)quillon::MergePath(base.Path, relative.Path, "/");
  return 0;
}
