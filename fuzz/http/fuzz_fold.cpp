// Fuzz target: header folding and unfolding. The first byte picks the fold
// width; the rest is a header value set, read back and re-parsed as lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http/header_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  quillon::TIdHeaderList list;
  list.FoldWidth = data[0] % 100;
  const std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
  list.Add("First: 1");
  list.SetValueOf("X-Fuzz", value);
  (void)list.ValueOf("x-fuzz");
  list.SetValueOf("X-Fuzz", "");
  (void)quillon::WrapAtBreaks(value, "\r\n ", " ,\t", list.FoldWidth);
  quillon::TIdHeaderList parsed;
  parsed.SetText(value);
  for (size_t i = 0; i < parsed.Count() && i < 64; ++i) {
    (void)parsed.NameAt(i);
    (void)parsed.ValueAt(static_cast<long>(i));
  }
  return 0;
}
