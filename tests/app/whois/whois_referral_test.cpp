// The referral fields of whois answers: which field wins, the forms of a
// server's value, and the values that must be passed over.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/whois/whois_referral.h"

namespace quillon {
namespace {

struct Case {
  const char* what;
  std::string answer;
  std::optional<TWhoisReferral> expected;
};

TEST(FindWhoisReferral, FieldsValuesAndPreference) {
  const Case cases[] = {
      {"thin registry, indented",
       "   Domain Name: X.COM\r\n   Registrar WHOIS Server: whois.reg.test\r\n",
       TWhoisReferral{"whois.reg.test", 43}},
      {"IANA: whois before refer although refer comes first",
       "refer:        a.test\n\ndomain: DE\nwhois:        b.test\n", TWhoisReferral{"b.test", 43}},
      {"IANA without whois", "refer:  whois.nic.test\n", TWhoisReferral{"whois.nic.test", 43}},
      {"ARIN", "ReferralServer:  whois://whois.ripe.net\n", TWhoisReferral{"whois.ripe.net", 43}},
      {"ARIN with port and slash", "ReferralServer: whois://Whois.Example.NET:4343/\n",
       TWhoisReferral{"whois.example.net", 4343}},
      {"rwhois passed over for the next field",
       "ReferralServer: rwhois://rwhois.example.net:4321\nwhois: whois.next.test\n",
       TWhoisReferral{"whois.next.test", 43}},
      {"names without case, value trimmed", "REGISTRAR whois server:\t whois.x.test \t\r\n",
       TWhoisReferral{"whois.x.test", 43}},
      {"registrar wins over whois and refer",
       "refer: r.test\nwhois: w.test\nRegistrar WHOIS Server: g.test\n",
       TWhoisReferral{"g.test", 43}},
      {"ReferralServer wins over whois", "whois: w.test\nReferralServer: whois://s.test\n",
       TWhoisReferral{"s.test", 43}},
      {"an empty registrar value is passed over", "Registrar WHOIS Server: \nwhois: w.test\n",
       TWhoisReferral{"w.test", 43}},
      {"a second occurrence with a usable value",
       "whois: http://www.example.test/\nwhois: whois.example.test.\n",
       TWhoisReferral{"whois.example.test", 43}},
      {"an IPv4 address", "whois: 198.18.4.140\n", TWhoisReferral{"198.18.4.140", 43}},
      {"lone CR line ends", "x\rwhois: w.test\rstatus: ok\r", TWhoisReferral{"w.test", 43}},
      {"last line without a break", "domain: x\nrefer: last.test", TWhoisReferral{"last.test", 43}},
      {"plain answer", "domain: example.com\nregistrar: Example\n", std::nullopt},
      {"comment lines are no fields", "% whois: w.test\n# refer: r.test\n", std::nullopt},
      {"field inside a line", "remarks: see whois: w.test\n", std::nullopt},
      {"longer field name", "whois-server: w.test\nrefers: r.test\n", std::nullopt},
      {"empty answer", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto got = FindWhoisReferral(c.answer);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
      EXPECT_EQ(*got, *c.expected) << got->Host << ":" << got->Port;
    }
  }
}

TEST(ParseWhoisServerValue, UnusableValues) {
  const char* rows[] = {
      "",
      "   ",
      "http://whois.example.test",
      "rwhois://r.test:4321",
      "a b.test",
      "w.test:0",
      "w.test:65536",
      "w.test:99999999999999999999",
      "w.test:",
      "w.test:4x",
      "w_x.test",
      "..test",
      "-",
      "w.test/path",
      "\xE2\x98\x83.test",
  };
  for (const char* value : rows) EXPECT_FALSE(ParseWhoisServerValue(value).has_value()) << value;
  const std::string longLabel = std::string(64, 'a') + ".test";
  EXPECT_FALSE(ParseWhoisServerValue(longLabel).has_value());
  std::string longName;
  while (longName.size() < 260) longName += "abcdefgh.";
  EXPECT_FALSE(ParseWhoisServerValue(longName + "test").has_value());
}

TEST(ParseWhoisServerValue, UsableForms) {
  EXPECT_EQ(ParseWhoisServerValue("whois://w.test:65535"), (TWhoisReferral{"w.test", 65535}));
  EXPECT_EQ(ParseWhoisServerValue("WHOIS://W.TEST"), (TWhoisReferral{"w.test", 43}));
  EXPECT_EQ(ParseWhoisServerValue("w.test:1"), (TWhoisReferral{"w.test", 1}));
  EXPECT_EQ(ParseWhoisServerValue("whois.bücher.test"),
            (TWhoisReferral{"whois.xn--bcher-kva.test", 43}));
}

}  // namespace
}  // namespace quillon
