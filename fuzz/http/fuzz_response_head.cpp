// Fuzz target: a response head read from bytes as the client reads it:
// status line, header lines (bounded), header fields, the body's framing,
// then chunk-size lines.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "net/http/header_info.h"
#include "net/http/http_head.h"
#include "net/socket/byte_reader.h"

namespace {

// One line up to LF (a CR before it dropped); false at the end of the data.
bool NextLine(quillon::ByteReader& reader, std::string& line) {
  if (reader.remaining() == 0) return false;
  line.clear();
  while (reader.remaining() > 0) {
    const char c = static_cast<char>(reader.readU8());
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    if (line.size() >= 16384) return false;  // the connection's line limit
    line.push_back(c);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quillon::ByteReader reader(std::span<const uint8_t>(data, size));
  std::string line;
  quillon::TIdHeadLimit limit;
  quillon::TIdResponseHeaderInfo response;
  try {
    do {
      if (!NextLine(reader, line)) return 0;
      limit.Count(line.size());
      const int32_t code = quillon::StatusCodeOf(line);
      response.HeaderLines.Clear();
      while (NextLine(reader, line) && !line.empty()) {
        limit.Count(line.size());
        response.HeaderLines.Add(line);
      }
      response.ReadHeaderFields();
      if (code < 100 || code > 199 || code == 101) break;
    } while (true);
    const quillon::TIdResponseFraming framing = quillon::FramingOf(response.HeaderLines);
    if (framing.Kind == quillon::TIdBodyFraming::Length && framing.Length < 0) __builtin_trap();
    while (NextLine(reader, line)) {
      const int64_t chunk = quillon::ParseChunkSize(line);
      if (chunk == 0) break;
      const size_t skip =
          static_cast<size_t>(std::min<int64_t>(chunk, static_cast<int64_t>(reader.remaining())));
      reader.skip(skip);
      NextLine(reader, line);
    }
  } catch (const quillon::EIdException&) {
    // Bounds, bad chunk sizes, bad Content-Range: all reported as exceptions.
  }
  return 0;
}
