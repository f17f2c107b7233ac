// Fuzz target for the text helpers that read text from the network: internet
// dates and zone offsets from HTTP headers and cookies, URL path merging and
// token splitting. Checks that they never crash and keep their invariants.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/socket/exceptions.h"
#include "net/socket/text_helpers.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void SplitRoundTrip(const std::string& input, std::string_view delimiter, bool caseSensitive) {
  std::string rest = input;
  const std::string head = quillon::SplitOff(rest, delimiter, true, caseSensitive);
  if (head.size() == input.size()) {
    Check(head == input && rest.empty());
  } else {
    // head + the delimiter as found + rest is the input again.
    Check(head.size() + delimiter.size() + rest.size() == input.size());
    Check(input.compare(0, head.size(), head) == 0);
    Check(input.compare(input.size() - rest.size(), rest.size(), rest) == 0);
  }
  std::string kept = input;
  quillon::SplitOff(kept, delimiter, false, caseSensitive);
  Check(kept == input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  std::string text = input;
  const quillon::TDateTime date = quillon::ParseInternetDate(text);
  Check(std::isfinite(date));
  Check(text.size() <= input.size());
  if (date != 0) {
    int y, mo, d, h, mi, s, ms;
    quillon::DecodeDateTime(date, y, mo, d, h, mi, s, ms);
    Check(y >= 1 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h < 24);
    try {
      Check(!quillon::FormatInternetDate(date).empty());
    } catch (const quillon::EIdFailedToRetreiveTimeZoneInfo&) {
      // No zone information on this machine: nothing to format with.
    }
  }

  const quillon::TDateTime offset = quillon::ParseZoneOffset(input);
  Check(std::fabs(offset) < 1.0);
  Check(quillon::FormatZoneOffset(offset, false).size() == 5);

  // Base path and path separated by the first line feed.
  const size_t cut = input.find('\n');
  const std::string base = cut == std::string::npos ? input : input.substr(0, cut);
  const std::string path = cut == std::string::npos ? std::string() : input.substr(cut + 1);
  const std::string merged = quillon::MergePath(base, path);
  Check(merged.size() <= base.size() + path.size() + 1);
  if (!path.empty() && path[0] == '/') Check(merged == path);

  // Delimiters taken from the input itself, so that they are found.
  const std::string_view view(input);
  SplitRoundTrip(input, " ", true);
  SplitRoundTrip(input, ": ", true);
  SplitRoundTrip(input, view.substr(0, 1), true);
  SplitRoundTrip(input, view.substr(size / 2, 2), false);

  if (size > 0) {
    const size_t last = quillon::LastPosNoCase(view.substr(size - 1), input);
    Check(last >= 1 && last <= size);
    const size_t first = quillon::FindInMemory(view.substr(size / 2, 3), data, size);
    Check(first >= 1 && first <= size / 2 + 1);
  }
  return 0;
}
