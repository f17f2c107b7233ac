// Fuzz target for reading the origin AS service's TXT answer: any strings
// give an AS number from 1 to 2^32-1 or nothing; no exception may escape.
// The same bytes are also read as an address to make the service's name of.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/trace/origin_txt.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input cut into strings at each 0 byte, as a record of several.
  std::vector<std::string> strings(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      strings.emplace_back();
    else
      strings.back() += static_cast<char>(data[i]);
  }
  const std::optional<uint32_t> as = quillon::OriginAsOf(strings);
  if (as) Check(*as != 0);
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (const std::optional<std::string> name = quillon::OriginQueryName(text)) {
    Check(name->size() <= 128);
    Check(name->find(".origin") != std::string::npos);
  }
  return 0;
}
