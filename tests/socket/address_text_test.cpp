// IPv6 address text: the RFC 4291 input forms (and what is refused), the
// RFC 5952 output form, and the family an address text belongs to.
#include <gtest/gtest.h>

#include <string>

#include "net/socket/address_text.h"

namespace quillon {
namespace {

TEST(AddressText, Rfc4291FormsReadAndRfc5952FormsWritten) {
  struct Case {
    const char* text;
    const char* canonical;  // RFC 5952
    const char* zone;
  };
  const Case cases[] = {
      {"2001:DB8:0:0:8:800:200C:417A", "2001:db8::8:800:200c:417a", ""},
      {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1", ""},
      {"2001:db8::1", "2001:db8::1", ""},
      {"::1", "::1", ""},
      {"::", "::", ""},
      {"1::", "1::", ""},
      {"FF01::101", "ff01::101", ""},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1", ""},  // one zero group is not "::"
      {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1", ""},           // the longest run wins
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1", ""},     // the first of equal runs
      {"0:0:0:0:0:0:13.1.68.3", "::d01:4403", ""},
      {"::13.1.68.3", "::d01:4403", ""},
      {"0:0:0:0:0:FFFF:129.144.52.38", "::ffff:129.144.52.38", ""},
      {"::ffff:198.18.1.2", "::ffff:198.18.1.2", ""},
      {"fe80::1%eth0", "fe80::1%eth0", "eth0"},
      {"fe80::1%2", "fe80::1%2", "2"},
      {"2001:db8:3::2", "2001:db8:3::2", ""},
      {"2001:db8:1:0:0:0:0:0", "2001:db8:1::", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = ParseIPv6(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->Zone, c.zone);
    EXPECT_EQ(IPv6ToText(parsed->Bytes, parsed->Zone), c.canonical);
    EXPECT_EQ(AddressFamilyOf(c.text), Id_PF_INET6);
    // The written form reads back to the same bytes.
    const auto again = ParseIPv6(c.canonical);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->Bytes, parsed->Bytes);
  }
  const auto full = ParseIPv6("2001:db8::8:800:200c:417a");
  ASSERT_TRUE(full);
  const TIdIPv6Bytes expected = {0x20, 0x01, 0x0d, 0xb8, 0,    0,    0,    0,
                                 0,    0x08, 0x08, 0x00, 0x20, 0x0c, 0x41, 0x7a};
  EXPECT_EQ(full->Bytes, expected);
}

TEST(AddressText, TextsThatAreNoIPv6Address) {
  for (const char* text : {"",
                           ":",
                           ":::",
                           "1:2:3:4:5:6:7",
                           "1:2:3:4:5:6:7:8:9",
                           "1::2::3",
                           "1:2:3:4:5:6:7::8",
                           "::1:2:3:4:5:6:7:8",
                           "12345::",
                           "g::1",
                           ":1::",
                           "1::2:",
                           "1:2:3:4:5:6:7:8::",
                           "::1.2.3",
                           "::1.2.3.256",
                           "::01.2.3.4",
                           "1.2.3.4",
                           "::1.2.3.4:5",
                           "1.2.3.4::",
                           "fe80::1%",
                           "fe80::1%e th0",
                           "fe80::1%averyveryverylongname",
                           "::1%%x",
                           "localhost",
                           "2001:db8::-1",
                           "0x1::",
                           " ::1",
                           "::1 "}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseIPv6(text).has_value());
    EXPECT_EQ(AddressFamilyOf(text), 2);
  }
  // A long run of characters is refused before any parsing.
  EXPECT_FALSE(ParseIPv6(std::string(10000, ':')).has_value());
}

}  // namespace
}  // namespace quillon
