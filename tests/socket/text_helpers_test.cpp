// Tests of the text, date, path and byte-search helpers and of the tick and
// thread wrappers.
#include "net/socket/text_helpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <ctime>
#include <limits>
#include <thread>

#include "net/socket/exceptions.h"
#include "net/socket/platform.h"

namespace quillon {
namespace {

constexpr double kOneMs = 1.0 / 86400000.0;

// The local zone's offset as a day fraction, computed from the C library.
double LibcLocalOffset() {
  const time_t now = time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<double>(local.tm_gmtoff) / 86400.0;
}

TEST(StrToIntDef, Table) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"42", 42},
      {"  42", 42},
      {"\t7", 7},
      {"+5", 5},
      {"-5", -5},
      {" -12", -12},
      {"$ff", 255},
      {"$7FFFFFFF", 2147483647},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
      {"-$80000000", std::numeric_limits<int32_t>::min()},
      // Everything below gives the fallback.
      {"", -99},
      {"   ", -99},
      {"+", -99},
      {"-", -99},
      {"$", -99},
      {"12 ", -99},
      {"1a", -99},
      {"0x10", -99},
      {"$fg", -99},
      {"--1", -99},
      {"2147483648", -99},
      {"-2147483649", -99},
      {"$80000000", -99},
      {"$FFFFFFFF", -99},
      {"99999999999999999999", -99},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StrToIntDef(c.text, -99), c.expected) << '"' << c.text << '"';
  }
}

TEST(StrToIntDef, Int64AndPlainConversion) {
  EXPECT_EQ(StrToInt64Def("9223372036854775807", 0), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(StrToInt64Def("-9223372036854775808", 0), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(StrToInt64Def("9223372036854775808", 7), 7);
  EXPECT_EQ(StrToInt64Def("$100000000", 0), 4294967296);

  EXPECT_EQ(StrToInt(" -$1F"), -31);
  for (const char* bad : {"", "x", "2147483648", "1 "}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << "no exception for '" << bad << "'";
    } catch (const EIdConvertError& e) {
      EXPECT_EQ(e.message(), "'" + std::string(bad) + "' n'est pas une valeur entière correcte.");
    }
  }
}

TEST(Text, TrimAndCase) {
  EXPECT_EQ(Trim(" \t\r\nab c\x01 "), "ab c");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
  // Bytes above 0x7F are text, not blanks.
  EXPECT_EQ(Trim("\xC3\xA9"), "\xC3\xA9");
  EXPECT_EQ(UpperCase("aZ\xC3\xA9-x"), "AZ\xC3\xA9-X");
  EXPECT_EQ(LowerCase("AbC"), "abc");
  EXPECT_EQ(Pos("b", "abcb"), 2u);
  EXPECT_EQ(Pos("", "abc"), 0u);
  EXPECT_EQ(Pos("x", "abc"), 0u);
}

TEST(Sprintf, FormatsLongAndShortTexts) {
  EXPECT_EQ(Sprintf("%s-%d", "a", 5), "a-5");
  EXPECT_EQ(Sprintf("%s", ""), "");
  const std::string longText(5000, 'x');
  EXPECT_EQ(Sprintf("<%s>", longText.c_str()), "<" + longText + ">");
}

TEST(SplitOff, Table) {
  struct Case {
    const char* text;
    const char* delimiter;
    bool remove;
    bool caseSensitive;
    const char* head;
    const char* rest;
  };
  const Case cases[] = {
      {"abc", ",", true, true, "abc", ""},
      {"abc", ",", false, true, "abc", "abc"},
      {"a: b", ": ", true, true, "a", "b"},
      {"a,b,c", ",", true, true, "a", "b,c"},
      {"a,b,c", ",", false, true, "a", "a,b,c"},
      {",x", ",", true, true, "", "x"},
      {"x,", ",", true, true, "x", ""},
      {"", ",", true, true, "", ""},
      {"abc", "", true, true, "abc", ""},
      // Case-insensitive: the cut is made in the caller's text.
      {"Host: X", "HOST:", true, false, "", " X"},
      {"aXbxc", "x", true, false, "a", "bxc"},
      {"aXbxc", "x", true, true, "aXb", "c"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(SplitOff(text, c.delimiter, c.remove, c.caseSensitive), c.head)
        << '"' << c.text << "\" at \"" << c.delimiter << '"';
    EXPECT_EQ(text, c.rest) << '"' << c.text << "\" at \"" << c.delimiter << '"';
  }
  std::string text = "KeyXXvalue";
  EXPECT_EQ(SplitOffNoCase(text, "xx", true), "Key");
  EXPECT_EQ(text, "value");
  text = "KeyXXvalue";
  EXPECT_EQ(SplitOffNoCase(text, "xx", false), "Key");
  EXPECT_EQ(text, "KeyXXvalue");
}

TEST(LastPosNoCase, Table) {
  struct Case {
    const char* sub;
    const char* text;
    long start;
    size_t expected;
  };
  const Case cases[] = {
      {"/", "a/b/c", -1, 4},    {"/", "a/b/c", 3, 2},   {"/", "a/b/c", 1, 0},
      {"abcdef", "abc", -1, 0}, {"B", "abcb", -1, 4},   {"bC", "aBcBc", -1, 4},
      {"bc", "aBcBc", 3, 2},    {"x", "abc", -1, 0},    {"", "abc", -1, 0},
      {"a", "a", -1, 1},        {"/", "a/b/c", 100, 4}, {"/", "a/b/c", 0, 0},
      {"/", "a/b/c", -7, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LastPosNoCase(c.sub, c.text, c.start), c.expected)
        << c.sub << " in " << c.text << " from " << c.start;
  }
}

TEST(IndexInList, ExactAndCaseInsensitive) {
  const std::vector<std::string> list = {"Alpha", "beta", "BETA", ""};
  EXPECT_EQ(IndexInList("beta", list), 1);
  EXPECT_EQ(IndexInList("BETA", list), 2);
  EXPECT_EQ(IndexInList("Beta", list), -1);
  EXPECT_EQ(IndexInList("Beta", list, false), 1);
  EXPECT_EQ(IndexInList("alpha", list, false), 0);
  EXPECT_EQ(IndexInList("", list), 3);
  EXPECT_EQ(IndexInList("Alph", list, false), -1);
  EXPECT_EQ(IndexInList("x", {}), -1);
}

TEST(NameTables, DaysAndMonths) {
  EXPECT_EQ(DayNameToNumber("sun"), 1);
  EXPECT_EQ(DayNameToNumber("SAT"), 7);
  EXPECT_EQ(DayNameToNumber("Monday"), 0);
  EXPECT_EQ(DayNameToNumber(""), 0);
  EXPECT_EQ(MonthNameToNumber("jan"), 1);
  EXPECT_EQ(MonthNameToNumber("Dec"), 12);
  EXPECT_EQ(MonthNameToNumber("November"), 0);
}

TEST(DateTime, KnownValues) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
  EXPECT_EQ(EncodeDateTime(1970, 1, 1, 0, 0, 0, 0), 25569.0);
  EXPECT_EQ(EncodeDateTime(2000, 3, 1, 12, 0, 0, 0), 36586.5);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);  // date - time before day 0
  EXPECT_EQ(DayOfWeek(0), 7);                                  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDateTime(1994, 11, 6, 8, 49, 37, 0)), 1);
  EXPECT_EQ(DayOfWeek(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999)), 5);
  EXPECT_EQ(DayOfWeek(-1.25), 6);
  EXPECT_THROW(EncodeDateTime(2023, 2, 29, 0, 0, 0, 0), EIdConvertError);
  EXPECT_THROW(EncodeDateTime(2023, 1, 1, 24, 0, 0, 0), EIdConvertError);
}

TEST(DateTime, TryEncodeRejectsImpossibleValues) {
  struct DateCase {
    int y, m, d;
    bool ok;
  };
  const DateCase dates[] = {{2024, 2, 29, true},  {2023, 2, 29, false}, {1900, 2, 29, false},
                            {2000, 2, 29, true},  {2024, 0, 1, false},  {2024, 13, 1, false},
                            {2024, 4, 31, false}, {2024, 1, 0, false},  {0, 1, 1, false},
                            {1, 1, 1, true},      {9999, 12, 31, true}, {10000, 1, 1, false}};
  for (const DateCase& c : dates) {
    TDateTime out = 0;
    EXPECT_EQ(TryEncodeDate(c.y, c.m, c.d, out), c.ok) << c.y << '-' << c.m << '-' << c.d;
  }
  TDateTime out = 0;
  EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, out));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, out));
}

TEST(DateTime, EncodeDecodeRoundTrip) {
  struct Case {
    int y, mo, d, h, mi, s, ms;
  };
  const Case cases[] = {{1899, 12, 30, 0, 0, 0, 0},    {1899, 12, 29, 6, 30, 15, 250},
                        {1800, 1, 1, 23, 59, 59, 999}, {1, 1, 1, 0, 0, 0, 1},
                        {1970, 1, 1, 0, 0, 0, 0},      {1994, 11, 6, 8, 49, 37, 0},
                        {2000, 2, 29, 12, 0, 0, 500},  {2038, 1, 19, 3, 14, 7, 0},
                        {2100, 3, 1, 1, 2, 3, 4},      {9999, 12, 31, 23, 59, 59, 999}};
  for (const Case& c : cases) {
    const TDateTime value = EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms);
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(value, y, mo, d, h, mi, s, ms);
    EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}),
              (std::vector<int>{c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms}))
        << "value " << value;
  }
}

TEST(DateTime, DecodeNeverMisbehaves) {
  int y, mo, d, h, mi, s, ms;
  // Just short of midnight rounds up into the next day, not to 24:00.
  DecodeDateTime(1.0 - kOneMs / 4, y, mo, d, h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}),
            (std::vector<int>{1899, 12, 31, 0, 0, 0, 0}));
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -1e300, 1e300}) {
    DecodeDateTime(bad, y, mo, d, h, mi, s, ms);
    EXPECT_GE(y, 1);
    EXPECT_LE(y, 9999);
    EXPECT_GE(DayOfWeek(bad), 1);
    EXPECT_LE(DayOfWeek(bad), 7);
  }
}

TEST(DateTime, NowUtcAndLocalAgreeWithTheZone) {
  const double utc = NowUtc();
  const double local = NowLocal();
  EXPECT_NEAR(utc, static_cast<double>(time(nullptr)) / 86400.0 + 25569.0, 2.0 / 86400.0);
  EXPECT_NEAR(local - utc, LibcLocalOffset(), 2.0 / 86400.0);
}

struct InternetDateCase {
  const char* text;
  double expected;  // 0: no date
  const char* rest;
};

TEST(ParseInternetDate, Table) {
  const double nov6 = EncodeDateTime(1994, 11, 6, 8, 49, 37, 0);
  const InternetDateCase cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", nov6, "GMT"},
      {"Sunday, 06-Nov-94 08:49:37 GMT", nov6, "GMT"},
      {"Sun Nov  6 08:49:37 1994", nov6, ""},
      {"  Sun, 06 Nov 1994 08:49:37   +0100 ", nov6, "+0100"},
      {"sun, 06 nov 1994 08:49:37 gmt", nov6, "gmt"},
      {"06 Nov 1994 08:49:37 GMT", nov6, "GMT"},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 25569.0, "GMT"},
      {"Wed, 09-Jun-2021 10:18:14 GMT", EncodeDateTime(2021, 6, 9, 10, 18, 14, 0), "GMT"},
      {"Mon, 01 Jan 79 00:00:00 GMT", EncodeDateTime(2079, 1, 1, 0, 0, 0, 0), "GMT"},
      {"Mon, 01 Jan 80 00:00:00 GMT", EncodeDateTime(1980, 1, 1, 0, 0, 0, 0), "GMT"},
      {"Mon, 01 Jan 00 00:00:00 GMT", EncodeDateTime(2000, 1, 1, 0, 0, 0, 0), "GMT"},
      {"Sun, 06 Nov 1994", EncodeDateTime(1994, 11, 6, 0, 0, 0, 0), ""},
      {"Sun, 06 Nov 1994 08:49 GMT", EncodeDateTime(1994, 11, 6, 8, 49, 0, 0), "GMT"},
      {"Thu, 29 Feb 2024 23:59:59 -0500", EncodeDateTime(2024, 2, 29, 23, 59, 59, 0), "-0500"},
      // Unreadable: no date.
      {"", 0, ""},
      {"   ", 0, ""},
      {"06 November 1994", 0, nullptr},
      {"Sun, 00 Nov 1994 08:49:37 GMT", 0, nullptr},
      {"Sun, 31 Nov 1994 08:49:37 GMT", 0, nullptr},
      {"Sun, 06 Foo 1994 08:49:37 GMT", 0, nullptr},
      {"Sun, 06 Nov 1994 24:00:00 GMT", 0, nullptr},
      {"Sun, 06 Nov 1994 08:60:00 GMT", 0, nullptr},
      {"Sun, 06 Nov -5 08:49:37 GMT", 0, nullptr},
      // Numbers that overflow take the field's default: day 1, hour 0, and
      // for the year 1900, which sends the reader to the asctime form.
      {"Sun, 99999999999 Nov 1994 08:49:37 GMT", EncodeDateTime(1994, 11, 1, 8, 49, 37, 0), "GMT"},
      {"Sun, 06 Nov 1994 99999999999:00:00 GMT", EncodeDateTime(1994, 11, 6, 0, 0, 0, 0), "GMT"},
      {"Sun, 06 Nov 99999999999 08:49:37 GMT", EncodeDateTime(1900, 11, 6, 0, 0, 0, 0),
       "99999999999"},
      {"Sun", 0, nullptr},
      {"-", 0, nullptr},
      {"garbage", 0, nullptr},
  };
  for (const InternetDateCase& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(ParseInternetDate(text), c.expected) << '"' << c.text << '"';
    if (c.rest != nullptr) {
      EXPECT_EQ(text, c.rest) << '"' << c.text << '"';
    }
  }
}

TEST(ParseZoneOffset, Table) {
  const double hour = 1.0 / 24;
  const double minute = 1.0 / 1440;
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"+0100", hour},
      {"-0130", -(hour + 30 * minute)},
      {"  +0545 ", 5 * hour + 45 * minute},
      {"+0000", 0},
      {"-1200", -12 * hour},
      {"+01002", hour},  // only five characters count
      {"+01", 0},
      {"GMT", 0},
      {"", 0},
      {"+", 0},
      {"+ab00", 0},
      {"+2400", 0},
      {"+0060", 0},
      {"0100", 0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(ParseZoneOffset(c.text), c.expected, 1e-12) << '"' << c.text << '"';
  }
}

TEST(FormatZoneOffset, Table) {
  const double hour = 1.0 / 24;
  const double minute = 1.0 / 1440;
  EXPECT_EQ(FormatZoneOffset(0, true), "GMT");
  EXPECT_EQ(FormatZoneOffset(0, false), "+0000");
  EXPECT_EQ(FormatZoneOffset(hour, false), "+0100");
  EXPECT_EQ(FormatZoneOffset(hour, true), "+0100");
  EXPECT_EQ(FormatZoneOffset(-5 * hour, false), "-0500");
  EXPECT_EQ(FormatZoneOffset(-(hour + 30 * minute), false), "-0130");
  EXPECT_EQ(FormatZoneOffset(5 * hour + 45 * minute, false), "+0545");
  EXPECT_EQ(FormatZoneOffset(ParseZoneOffset("-0930"), false), "-0930");
}

TEST(LocalZone, MatchesTheCLibrary) {
  const double expected = LibcLocalOffset();
  EXPECT_NEAR(LocalZoneOffset(), expected, 1e-9);

  const double value = EncodeDateTime(2026, 12, 6, 10, 20, 30, 0);
  EXPECT_EQ(FormatInternetDate(value),
            "Sun, 6 Dec 2026 10:20:30 " + FormatZoneOffset(expected, false));
  EXPECT_EQ(FormatInternetDate(EncodeDateTime(1994, 11, 6, 8, 49, 37, 400), false).substr(0, 25),
            "Sun, 6 Nov 1994 08:49:37 ");
  if (expected == 0) {
    EXPECT_EQ(FormatInternetDate(value, true), "Sun, 6 Dec 2026 10:20:30 GMT");
  }
}

TEST(LocalZone, FailedQueryRaises) {
  const char* expected =
      "Echec lors de la tentative de récupération des informations de fuseau horaire.";
  platform::FaultInjector::FailNth(platform::Call::ZoneQuery, 1, EIO);
  try {
    LocalZoneOffset();
    ADD_FAILURE() << "no exception";
  } catch (const EIdFailedToRetreiveTimeZoneInfo& e) {
    EXPECT_STREQ(e.what(), expected);
  }
  platform::FaultInjector::FailNth(platform::Call::ZoneQuery, 1, EIO);
  EXPECT_THROW(FormatInternetDate(1.5), EIdFailedToRetreiveTimeZoneInfo);
  platform::FaultInjector::Reset();
  EXPECT_NO_THROW(LocalZoneOffset());
}

TEST(InternetDateToLocal, MovesFromTheGivenZoneToTheLocalZone) {
  const double local = LibcLocalOffset();
  const double nov6 = EncodeDateTime(1994, 11, 6, 8, 49, 37, 0);
  EXPECT_NEAR(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 GMT"), nov6 + local, kOneMs);
  EXPECT_NEAR(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 +0100"), nov6 - 1.0 / 24 + local,
              kOneMs);
  EXPECT_NEAR(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 -0500"), nov6 + 5.0 / 24 + local,
              kOneMs);
  EXPECT_NEAR(InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 EST"), nov6 + local, kOneMs);
  // Whatever the local zone, an unreadable date stays "no date".
  EXPECT_EQ(InternetDateToLocal("not a date"), 0.0);
  EXPECT_EQ(InternetDateToLocal(""), 0.0);
}

TEST(MergePath, Table) {
  struct Case {
    const char* base;
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"/a/b/", "../c", "/a/c"},
      {"/a/b", "c/", "/a/b/c/"},
      {"", "", ""},
      {"/x/", "/y", "/y"},
      {"/a/b", "c", "/a/b/c"},
      {"/a/b/", "", "/a/b/"},
      {"/a/b", "", "/a/b/"},
      {"/a//b/", "c", "/a/b/c"},
      {"/a/b/c/", "../../d", "/a/d"},
      {"/a/", "../../d", "/d"},
      {"/", "..", "/"},  // never above the root
      {"/a/", "../../../b/", "/b/"},
      {"/a/b/", "..", "/a"},
      {"/a/b/", "../", "/a/"},
      {"/a/", "./b", "/a/./b"},
      {"/a/", "b/..c", "/a/b/..c"},  // "..c" is a name, not the parent
      {"/a/b/", "...", "/a/b/..."},
      {"", "c", "c"},
      {"a", "b", "a/b"},
      {"a/", "..", ""},
      {"", "../a", "../a"},
      {"/a/b/", "c//d", "/a/b/c/d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MergePath(c.base, c.path), c.expected) << '"' << c.base << "\" + \"" << c.path << '"';
  }
  EXPECT_EQ(MergePath("\\a\\b\\", "..\\c", "\\"), "\\a\\c");
  EXPECT_EQ(MergePath("::a::b", "..::c", "::"), "::a::c");
}

TEST(FindInMemory, Table) {
  const char block[] = "ab\r\ncd\r\n\0x";
  const size_t size = sizeof(block) - 1;  // includes the NUL inside
  EXPECT_EQ(FindInMemory("\r\n", block, size), 3u);
  EXPECT_EQ(FindInMemory("a", block, size), 1u);
  EXPECT_EQ(FindInMemory("x", block, size), size);
  EXPECT_EQ(FindInMemory(std::string_view("\0x", 2), block, size), size - 1);
  EXPECT_EQ(FindInMemory("cd\r\n", block, 4), 0u);  // only the first bytes count
  EXPECT_EQ(FindInMemory("", block, size), 0u);
  EXPECT_EQ(FindInMemory("abc", "ab", 2), 0u);
  EXPECT_EQ(FindInMemory("ab", block, 2), 1u);
  EXPECT_EQ(FindInMemory("a", nullptr, 0), 0u);
}

TEST(Hosts, DottedQuadHostNameAndDomain) {
  struct Case {
    const char* text;
    bool dottedQuad;
    bool hostName;
  };
  const Case cases[] = {
      {"1.2.3.4", true, false},         {" 10.0.0.255 ", true, false},
      {"255.255.255.255", true, false}, {"1.2.3.4.5", true, false},
      {"0.0.0.0", true, false},         {"1.2.3.256", false, true},
      {"1.2.3", false, true},           {"1.2..4", false, true},
      {"-1.2.3.4", false, true},        {"a.b.c.d", false, true},
      {"example.com", false, true},     {".example.com", false, false},
      {"localhost", false, true},       {"", false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsDottedQuad(c.text), c.dottedQuad) << '"' << c.text << '"';
    EXPECT_EQ(LooksLikeHostName(c.text), c.hostName) << '"' << c.text << '"';
  }
  EXPECT_EQ(DomainPart("www.example.com"), ".example.com");
  EXPECT_EQ(DomainPart("localhost"), "localhost");
  EXPECT_EQ(DomainPart(".x"), ".x");
  EXPECT_EQ(DomainPart(""), "");
}

TEST(Ticks, ElapsedAcrossTheWrap) {
  EXPECT_EQ(ElapsedTicks(10, 25), 15u);
  EXPECT_EQ(ElapsedTicks(7, 7), 0u);
  EXPECT_EQ(ElapsedTicks(0xFFFFFFFAu, 5), 11u);  // 2^32 - 6 -> 5
  EXPECT_EQ(ElapsedTicks(0xFFFFFFFFu, 0), 1u);
}

TEST(Ticks, PauseAdvancesTheCounter) {
  const uint32_t before = CurrentTicks();
  PauseFor(30);
  const uint32_t elapsed = ElapsedTicks(before, CurrentTicks());
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(System, ProcessAndMainThread) {
  EXPECT_EQ(CurrentProcessNumber(), static_cast<uint32_t>(getpid()));
  // gtest runs the tests on the program's main thread.
  EXPECT_TRUE(IsMainThread());
  bool other = true;
  std::thread([&] { other = IsMainThread(); }).join();
  EXPECT_FALSE(other);
}

}  // namespace
}  // namespace quillon
