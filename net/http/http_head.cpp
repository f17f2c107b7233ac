// Status code, body framing, chunk size and head bounds.
#include "net/http/http_head.h"

#include <vector>

#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

[[noreturn]] void InvalidFraming(const std::string& what) {
  throw EIdHTTPInvalidFraming(msg::kInvalidFraming + what.substr(0, 128));
}

// The comma-separated items of every line of header `name`, trimmed, empty
// ones left out (RFC 9110 section 5.6.1).
std::vector<std::string> ListItems(const TIdHeaderList& headers, const char* name) {
  std::vector<std::string> lines;
  headers.CollectValues(name, &lines);
  std::vector<std::string> items;
  for (std::string& line : lines) {
    while (!line.empty()) {
      const std::string item = Trim(SplitOff(line, ","));
      if (!item.empty()) items.push_back(item);
    }
  }
  return items;
}

bool HasHeader(const TIdHeaderList& headers, const char* name) {
  return headers.IndexOfHeader(name) >= 0;
}

}  // namespace

int32_t StatusCodeOf(const std::string& statusLine) {
  std::string rest = statusLine;
  SplitOff(rest, " ");
  rest = Trim(rest);
  return StrToIntDef(SplitOff(rest, " ", false), -1);
}

TIdResponseFraming FramingOf(const TIdHeaderList& headers) {
  TIdResponseFraming framing;
  if (HasHeader(headers, "Transfer-Encoding")) {
    const std::vector<std::string> codings = ListItems(headers, "Transfer-Encoding");
    if (codings.empty()) InvalidFraming("Transfer-Encoding vide");
    size_t chunked = 0;
    bool finalChunked = false;
    for (const std::string& item : codings) {
      std::string coding = item;
      finalChunked = UpperCase(Trim(SplitOff(coding, ";"))) == "CHUNKED";
      chunked += finalChunked ? 1 : 0;
    }
    if (finalChunked && chunked > 1) InvalidFraming("chunked appliqué plusieurs fois");
    framing.Kind = finalChunked ? TIdBodyFraming::Chunked : TIdBodyFraming::UntilClose;
    // A message framed both ways may be read differently by the server and
    // by us: nothing more goes over that connection.
    framing.CloseAfter = !finalChunked || HasHeader(headers, "Content-Length");
    return framing;
  }
  if (!HasHeader(headers, "Content-Length")) {
    framing.CloseAfter = true;
    return framing;
  }
  const std::vector<std::string> lengths = ListItems(headers, "Content-Length");
  if (lengths.empty()) InvalidFraming("Content-Length vide");
  for (const std::string& length : lengths) {
    const bool digits = !length.empty() && length.size() <= 18 &&
                        length.find_first_not_of("0123456789") == std::string::npos;
    if (!digits) InvalidFraming("Content-Length \"" + length + "\"");
    if (length != lengths.front()) {
      // Repeats must name the same count (leading zeros aside).
      if (std::stoll(length) != std::stoll(lengths.front()))
        InvalidFraming("Content-Length différents");
    }
  }
  framing.Kind = TIdBodyFraming::Length;
  framing.Length = std::stoll(lengths.front());
  return framing;
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
