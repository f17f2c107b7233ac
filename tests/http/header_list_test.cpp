#include "net/http/header_list.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TIdHeaderList Make(std::initializer_list<const char*> lines) {
  TIdHeaderList list;
  for (const char* l : lines) list.Add(l);
  return list;
}

TEST(HeaderListTest, NamesAndValues) {
  TIdHeaderList list = Make({"Content-Type: text/html", "content-length: 5", "no colon here",
                             "X-A: one", "  two", "\tthree", "X-B:  spaced  "});
  EXPECT_EQ(list.ValueOf("content-type"), "text/html");
  EXPECT_EQ(list.NameAt(1), "CONTENT-LENGTH");
  EXPECT_EQ(list.NameAt(2), "");
  EXPECT_EQ(list.ValueOf("X-A"), "one two three");
  EXPECT_EQ(list.ValueOf("x-b"), "spaced");
  EXPECT_EQ(list.ValueOf("absent"), "");
  EXPECT_EQ(list.ValueAt(-1), "");
  EXPECT_EQ(list.ValueAt(99), "");
  list.UnfoldContinuations = false;
  EXPECT_EQ(list.ValueOf("X-A"), "one");
  list.CaseSensitiveNames = true;
  EXPECT_EQ(list.NameAt(1), "content-length");
  EXPECT_EQ(list.IndexOfHeader("CONTENT-LENGTH"), 1);
}

TEST(HeaderListTest, SetValueOf) {
  TIdHeaderList list = Make({"Host: a", " cont", "X: 1", "x: 2"});
  list.SetValueOf("Host", "");
  EXPECT_EQ(list.Lines, (std::vector<std::string>{"X: 1", "x: 2"}));
  list.SetValueOf("Absent", "");
  EXPECT_EQ(list.Count(), 2u);
  list.SetValueOf("x", "9");
  EXPECT_EQ(list.Lines, (std::vector<std::string>{"x: 9", "x: 2"}));
  list.SetValueOf("New", "v");
  EXPECT_EQ(list.Lines.back(), "New: v");

  // A folded value replaces the old line and its continuation lines in place.
  TIdHeaderList folded = Make({"A: 1", "B: old", " old2", "C: 3"});
  folded.FoldWidth = 10;
  folded.SetValueOf("B", "aaa bbb ccc");
  EXPECT_EQ(folded.Lines, (std::vector<std::string>{"A: 1", "B: aaa", " bbb ccc", "C: 3"}));
  EXPECT_EQ(folded.ValueOf("B"), "aaa bbb ccc");

  TIdHeaderList plain = Make({"B: old", " old2"});
  plain.FoldOnSet = false;
  plain.SetValueOf("B", "new");
  EXPECT_EQ(plain.Lines, (std::vector<std::string>{"B: new", " old2"}));
}

TEST(HeaderListTest, FoldingExamples) {
  TIdHeaderList list;
  std::string accept = "Accept: ";
  for (int i = 0; i < 12; ++i) {
    if (i > 0) accept += ", ";
    accept += "text/x" + std::string(i < 10 ? "0" : "") + std::to_string(i);
  }
  const auto pieces = list.FoldText(accept);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0],
            "Accept: text/x00, text/x01, text/x02, text/x03, text/x04, text/x05, text/x06,");
  EXPECT_EQ(pieces[0].size(), 77u);
  EXPECT_EQ(pieces[1], " text/x07, text/x08, text/x09, text/x10, text/x11");

  const std::string letters(200, 'q');
  const auto two = list.FoldText("X: " + letters);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0], "X:");
  EXPECT_EQ(two[1], " " + letters);

  // No break point at all: one piece however long.
  EXPECT_EQ(list.FoldText(std::string(300, 'z')).size(), 1u);
}

TEST(HeaderListTest, QuotedCommaIsNoBreak) {
  TIdHeaderList list;
  list.FoldWidth = 10;
  const auto pieces = list.FoldText("K: \"a,b,c,d,e,f,g\" z");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], "K:");
  EXPECT_EQ(pieces[1], " \"a,b,c,d,e,f,g\" z");
}

TEST(HeaderListTest, WrapKeepsExistingBreaksAndEveryCharacter) {
  EXPECT_EQ(WrapAtBreaks("ab\r\n cd", "\r\n ", " ,", 78), "ab\r\n cd");
  // Two commas in a row: the second stays in the output.
  const std::string wrapped = WrapAtBreaks("aaaa,,bbbb", "\r\n ", ",", 5);
  std::string stripped;
  for (char c : wrapped) {
    if (c != '\r' && c != '\n' && c != ' ') stripped += c;
  }
  EXPECT_EQ(stripped, "aaaa,,bbbb");
}

TEST(HeaderListTest, CollectAndText) {
  TIdHeaderList list = Make({"Set-Cookie: a=1", "X: y", "set-cookie: b=2"});
  std::vector<std::string> values;
  list.CollectValues("SET-COOKIE", &values);
  EXPECT_EQ(values, (std::vector<std::string>{"a=1", "b=2"}));
  list.CollectValues("x", static_cast<std::vector<std::string>*>(nullptr));
  EXPECT_EQ(list.Text(), "Set-Cookie: a=1\r\nX: y\r\nset-cookie: b=2\r\n");
  TIdHeaderList other;
  other.SetText("a\r\nb\rc\nd");
  EXPECT_EQ(other.Lines, (std::vector<std::string>{"a", "b", "c", "d"}));
}

}  // namespace
}  // namespace quillon
