// Queries as bytes on the wire: the header, one question per chosen type in
// ordinal order, name encoding with reverse names, and the names refused
// before anything is sent.
#include <gtest/gtest.h>

#include <string>

#include "net/dns/dns_error.h"
#include "net/dns/dns_names.h"
#include "net/dns/resolver.h"
#include "tests/dns/dns_test_util.h"

namespace quillon {
namespace {

using test::Wire;

class QueryTest : public ::testing::Test {
 protected:
  QueryTest() {
    resolver_.Header().MessageId = 0x1234;
    resolver_.QueryRecords = {qtMX};
  }
  TIdDNSResolver resolver_;
};

TEST_F(QueryTest, TheExampleQueryIsTwentyNineExactBytes) {
  resolver_.BuildQuery("example.com");
  const std::string expected(
      "\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
      "\x07"
      "example"
      "\x03"
      "com"
      "\x00"
      "\x00\x0F\x00\x01",
      29);
  EXPECT_EQ(resolver_.QueryText(), expected);
  EXPECT_EQ(TQueryType{qtMX}.Bits(), 0x4000u);
}

TEST_F(QueryTest, AFinalDotGivesTheSameBytes) {
  resolver_.BuildQuery("example.com");
  const std::string plain = resolver_.QueryText();
  resolver_.BuildQuery("example.com.");
  EXPECT_EQ(resolver_.QueryText(), plain);
}

TEST_F(QueryTest, OneQuestionPerTypeInOrdinalOrderAndNoRecursionWhenNotAllowed) {
  resolver_.QueryRecords = {qtSTAR, qtTXT, qtA, qtMX};
  resolver_.AllowRecursiveQueries = false;
  resolver_.BuildQuery("Ab.c");
  Wire w;
  w.header(0x1234, 0, 4, 0, 0, 0);
  for (int type : {1, 15, 16, 255}) w.name("Ab.c").u16(type).u16(1);  // case kept
  EXPECT_EQ(resolver_.QueryText(), w.bytes);
}

TEST_F(QueryTest, PtrQuestionsAreAskedUnderInAddrArpa) {
  resolver_.QueryRecords = {qtA, qtPTR};
  resolver_.BuildQuery("192.0.2.1");
  Wire w;
  w.header(0x1234, 0x0100, 2, 0, 0, 0);
  w.name("192.0.2.1").u16(1).u16(1);  // only the PTR question is reversed
  w.name("1.2.0.192.in-addr.arpa").u16(12).u16(1);
  EXPECT_EQ(resolver_.QueryText(), w.bytes);

  resolver_.QueryRecords = {qtPTR};
  resolver_.BuildQuery("1.2.0.192.in-addr.arpa");
  Wire same;
  same.header(0x1234, 0x0100, 1, 0, 0, 0).name("1.2.0.192.in-addr.arpa").u16(12).u16(1);
  EXPECT_EQ(resolver_.QueryText(), same.bytes);
}

TEST(EncodeQueryName, LimitsOfRfc1035) {
  const std::string l63(63, 'a'), l64(64, 'a');
  // Four labels of 63 bytes take 4 * 64 + 1 = 257 bytes; 61 in the last gives 255.
  const std::string longest = l63 + "." + l63 + "." + l63 + "." + std::string(61, 'b');
  const std::string tooLong = l63 + "." + l63 + "." + l63 + "." + std::string(62, 'b');

  std::string out;
  EncodeQueryName(out, l63 + ".com");
  EXPECT_EQ(out.size(), 1u + 63 + 1 + 3 + 1);
  out.clear();
  EncodeQueryName(out, longest);
  EXPECT_EQ(out.size(), 255u);
  out.clear();
  EncodeQueryName(out, ".");
  EXPECT_EQ(out, std::string(1, '\0'));  // the root

  struct Case {
    std::string name;
    bool reversed;
  };
  for (const Case& c :
       {Case{l64 + ".com", false}, Case{tooLong, false}, Case{"", false}, Case{".com", false},
        Case{"a..com", false}, Case{"com..", false}, Case{"1.2.3." + l64, true},
        // 243 bytes forward, 256 once in-addr.arpa is added
        Case{l63 + "." + l63 + "." + l63 + "." + std::string(49, '1'), true}}) {
    std::string bytes;
    try {
      EncodeQueryName(bytes, c.name, c.reversed);
      ADD_FAILURE() << "accepted " << c.name;
    } catch (const EIdDnsResolverError& e) {
      EXPECT_EQ(e.message(), "Nom de requête incorrect : " + c.name);
    }
    EXPECT_TRUE(bytes.empty()) << c.name;
  }
}

}  // namespace
}  // namespace quillon
