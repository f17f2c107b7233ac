// Internationalised names on their way out: the A-label of names in several
// scripts, ASCII left byte for byte, and the names that must be refused
// (before anything could be sent with them).
#include <gtest/gtest.h>

#include <string>

#include "app/lookup/idn.h"

namespace quillon {
namespace {

struct Converted {
  std::string typed;
  std::string wire;
};

TEST(ToWireName, ConvertsEveryScriptToItsALabels) {
  const Converted rows[] = {
      {"bücher.de", "xn--bcher-kva.de"},
      {"www.bücher.fr", "www.xn--bcher-kva.fr"},
      {"Bücher.DE", "xn--bcher-kva.de"},       // UTS #46 maps the case
      {"faß.de", "xn--fa-hia.de"},             // non-transitional: ß stays
      {"пример.рф", "xn--e1afmkfd.xn--p1ai"},  // Cyrillic
      {"ПРИМЕР.РФ", "xn--e1afmkfd.xn--p1ai"},  // and its capitals
      {"例え.jp", "xn--r8jz45g.jp"},           // Japanese
      {"中文\xE3\x80\x82"
       "com",
       "xn--fiq228c.com"},                       // ideographic full stop
      {"bücher.", "xn--bcher-kva."},             // a final dot stays
      {" bücher.test\t", "xn--bcher-kva.test"},  // blanks around are cut
      {"u\xCC\x88"
       "ber.de",
       "xn--ber-goa.de"},  // decomposed ü: normalised
  };
  for (const Converted& row : rows) EXPECT_EQ(ToWireName(row.typed), row.wire) << row.typed;
}

TEST(ToWireName, AsciiNamesPassByteForByte) {
  const std::string rows[] = {"example.com",    "WWW.Example.COM",
                              " example.org\t", "",
                              "localhost",      "under_score.fr",
                              "a b.com",        "xn--zz.de",
                              "example.com.",   std::string(300, 'a') + ".com"};
  for (const std::string& name : rows) {
    EXPECT_TRUE(IsAsciiName(name)) << name;
    EXPECT_EQ(ToWireName(name), name) << name;
  }
  EXPECT_FALSE(IsAsciiName("bücher.de"));
}

TEST(ToWireName, RefusesWhatUts46Refuses) {
  const std::string rows[] = {
      "a\xE2\x98\x83"
      "b.de",   // snowman: disallowed
      "ü-.de",  // hyphen at the end
      "a\xE2\x80\x8D"
      "b\xC3\xBC.de",  // zero-width joiner out of context
      "b\xFF"
      "cher.de",                                  // no UTF-8
      "\xC3\xBC" + std::string(58, 'a') + ".de",  // label over 63 bytes once converted
      "ü." + std::string(70, 'a') + ".de",        // an ASCII label over 63 bytes
      "ü.xn--zz.de",                              // a broken A-label beside
      // Blanks and other characters host names cannot hold: libidn2 would
      // drop the blank and ask for another name.
      "bü cher.de",
      "bü_cher.de",
      "bü/cher.de",
      "bü:43.de",
  };
  for (const std::string& name : rows) EXPECT_THROW(ToWireName(name), EIdnNameRefused) << name;
  std::string tooLong = "ü";
  while (tooLong.size() < 300) tooLong += ".abcdefghi";
  EXPECT_THROW(ToWireName(tooLong), EIdnNameRefused);
  EXPECT_THROW(ToWireName("ü" + std::string(5000, 'a')), EIdnNameRefused);
}

}  // namespace
}  // namespace quillon
