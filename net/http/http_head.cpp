// Status code, chunk size and head bounds.
#include "net/http/http_head.h"

#include "net/socket/text_helpers.h"

namespace quillon {

int32_t StatusCodeOf(const std::string& statusLine) {
  std::string rest = statusLine;
  SplitOff(rest, " ");
  rest = Trim(rest);
  return StrToIntDef(SplitOff(rest, " ", false), -1);
}

int64_t ParseChunkSize(const std::string& line) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  const size_t first = i;
  uint64_t size = 0;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    if (size > (uint64_t{1} << 58)) {  // one more digit would pass 2^62
      throw EIdHTTPInvalidChunkSize(std::string(msg::kInvalidChunkSize) + "\"" +
                                    line.substr(0, 64) + "\"");
    }
    size = size * 16 + static_cast<uint64_t>(digit);
  }
  const bool hasDigits = i > first;
  // After the digits: nothing, blanks, or an extension.
  size_t j = i;
  while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
  const bool tailOk = j == line.size() || line[j] == ';';
  if (!hasDigits || !tailOk || size > (uint64_t{1} << 62)) {
    throw EIdHTTPInvalidChunkSize(std::string(msg::kInvalidChunkSize) + "\"" + line.substr(0, 64) +
                                  "\"");
  }
  return static_cast<int64_t>(size);
}

void TIdHeadLimit::Count(size_t lineBytes) {
  ++lines_;
  bytes_ += lineBytes + 2;
  if (lines_ > MaxLines || bytes_ > MaxBytes) {
    throw EIdHTTPHeaderTooLarge(msg::kHeaderTooLarge);
  }
}

}  // namespace quillon
