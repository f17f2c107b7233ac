#include "net/http/http_head.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(HttpHeadTest, StatusCodes) {
  const std::pair<const char*, int> cases[] = {{"HTTP/1.1 200 OK", 200},
                                               {"HTTP/1.0 404 Not Found", 404},
                                               {"HTTP/1.1  302", 302},
                                               {"", -1},
                                               {"garbage", -1},
                                               {"HTTP/1.1 abc OK", -1},
                                               {"HTTP/1.1 99999999999 x", -1},
                                               {"HTTP/1.1 -5 x", -5}};
  for (const auto& [line, code] : cases) EXPECT_EQ(StatusCodeOf(line), code) << line;
}

TEST(HttpHeadTest, ChunkSizes) {
  const std::pair<const char*, int64_t> good[] = {{"0", 0},
                                                  {"5", 5},
                                                  {"1a", 26},
                                                  {"FF ", 255},
                                                  {"10;name=value", 16},
                                                  {" 7 ; ext", 7},
                                                  {"4000000000000000", int64_t{1} << 62}};
  for (const auto& [line, size] : good) EXPECT_EQ(ParseChunkSize(line), size) << line;
  for (const char* line : {"", "x", "5x", "-1", "4000000000000001", "10000000000000000", ";a"}) {
    try {
      ParseChunkSize(line);
      ADD_FAILURE() << line;
    } catch (const EIdHTTPInvalidChunkSize& e) {
      EXPECT_EQ(std::string(e.what()), std::string(msg::kInvalidChunkSize) + "\"" + line + "\"");
    }
  }
}

TEST(HttpHeadTest, HeadLimit) {
  TIdHeadLimit lines;
  for (size_t i = 0; i < TIdHeadLimit::MaxLines; ++i) lines.Count(1);
  EXPECT_THROW(lines.Count(1), EIdHTTPHeaderTooLarge);
  TIdHeadLimit bytes;
  bytes.Count(TIdHeadLimit::MaxBytes - 2);
  EXPECT_THROW(bytes.Count(0), EIdHTTPHeaderTooLarge);
}

}  // namespace
}  // namespace quillon
