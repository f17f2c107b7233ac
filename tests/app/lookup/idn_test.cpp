// Internationalised names on their way out: the A-label of names in several
// scripts, ASCII left byte for byte, and the names that must be refused
// (before anything could be sent with them).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/lookup/idn.h"
#include "tests/support/support.h"

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

// libidn2 is loaded at the first international name, never before and
// never for ASCII names; where it cannot be loaded, international names are
// refused and ASCII names pass as ever. Each case runs in a fresh process
// of this program (which links nothing that needs libidn2), the second with
// the library hidden behind an empty file in a mount namespace of its own.
TEST(Idn2Library, LoadedAtTheFirstInternationalNameOnly) {
  const char* child = std::getenv("QUILLON_IDN2_CHILD");
  const auto mapped = [] {
    void* handle = ::dlopen("libidn2.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (handle) ::dlclose(handle);  // drops only the reference NOLOAD took
    return handle != nullptr;
  };
  if (child && std::string(child) == "present") {
    ASSERT_FALSE(mapped()) << "loaded at start-up";
    EXPECT_EQ(ToWireName("example.com"), "example.com");
    EXPECT_FALSE(mapped()) << "loaded for an ASCII name";
    EXPECT_EQ(ToWireName("bücher.de"), "xn--bcher-kva.de");
    EXPECT_TRUE(mapped());
    return;
  }
  if (child && std::string(child) == "hidden") {
    EXPECT_THROW(ToWireName("bücher.de"), EIdnNameRefused);
    EXPECT_THROW(ToWireName("пример.рф"), EIdnNameRefused);
    EXPECT_EQ(ToWireName("example.com"), "example.com");
    EXPECT_FALSE(mapped());
    return;
  }
  test::RerunWithLibraryAndWithout("Idn2Library.*", "QUILLON_IDN2_CHILD", "libidn2.so.0");
}

}  // namespace
}  // namespace quillon
