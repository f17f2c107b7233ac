#include "net/http/string_stream.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

// The moves a body read makes: grow in advance, write over the grown part
// and past it, cut back, and reset to a mark.
TEST(StringStreamTest, WritesOverAndPastTheEnd) {
  TIdStringStream s;
  s.Write("abc", 3);
  s.SetSize(10);  // grown in advance with zeros, position kept
  EXPECT_EQ(s.Position(), 3);
  s.Write("defghijklmno", 12);
  EXPECT_EQ(s.Size(), 15);
  s.SetPosition(1);
  char two[3] = {};
  EXPECT_EQ(s.Read(two, 2), 2u);
  EXPECT_STREQ(two, "bc");
  s.SetSize(5);
  EXPECT_EQ(s.Position(), 3);
  s.SetPosition(99);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.Read(two, 2), 0u);
  EXPECT_EQ(s.Take(), "abcde");
  EXPECT_EQ(s.Size(), 0);
}

TEST(StringStreamTest, LargeReserveKeepsContent) {
  TIdStringStream s;
  s.Write("head", 4);
  s.Reserve(size_t{8} << 20);
  std::string block(1 << 20, 'z');
  for (int i = 0; i < 9; ++i) s.Write(block.data(), block.size());  // past the reserve
  const std::string all = s.Take();
  ASSERT_EQ(all.size(), 4 + (size_t{9} << 20));
  EXPECT_EQ(all.substr(0, 5), "headz");
  EXPECT_EQ(all.back(), 'z');
}

}  // namespace
}  // namespace quillon
