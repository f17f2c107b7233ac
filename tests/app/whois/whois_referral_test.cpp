// The referral fields of whois answers: which field wins, the forms of a
// server's value, and the values that must be passed over.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

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
      {"an IPv6 address in brackets with a port", "ReferralServer: whois://[2001:DB8::1]:4343\n",
       TWhoisReferral{"2001:db8::1", 4343}},
      {"an IPv6 address in brackets", "whois: [2001:db8:0:0::2]\n",
       TWhoisReferral{"2001:db8::2", 43}},
      {"an IPv6 address alone", "refer: 2001:db8::3\n", TWhoisReferral{"2001:db8::3", 43}},
      {"a port other than 43 only under ReferralServer",
       "Registrar WHOIS Server: r.test:4343\nwhois: [2001:db8::4]:25\nrefer: f.test\n",
       TWhoisReferral{"f.test", 43}},
      {"port 43 written out", "whois: w.test:43\n", TWhoisReferral{"w.test", 43}},
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
      "[2001:db8::1",
      "[2001:db8::1]x",
      "[2001:db8::1]:",
      "[fe80::1%eth0]:43",
      "fe80::1%eth0",
      "[w.test]",
      "[192.0.2.1]",
      "[]:43",
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

// Every usable referral in order of preference, at most as many as asked.
TEST(WhoisReferrals, InOrderOfPreferenceAndBounded) {
  const std::string answer =
      "refer: r.test\nwhois: w1.test\nReferralServer: whois://s.test:4343\nwhois: w2.test\n"
      "Registrar WHOIS Server: g.test\n";
  EXPECT_EQ(
      WhoisReferrals(answer),
      (std::vector<TWhoisReferral>{
          {"g.test", 43}, {"s.test", 4343}, {"w1.test", 43}, {"w2.test", 43}, {"r.test", 43}}));
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "whois: s" + std::to_string(i) + ".test\n";
  const auto bounded = WhoisReferrals(many);
  ASSERT_EQ(bounded.size(), kMaxReferralCandidates);
  EXPECT_EQ(bounded.back().Host, "s7.test");
}

TEST(IsLocalAddress, TheClientsOwnMachineAndNetwork) {
  const char* local[] = {"127.0.0.1",     "127.8.9.10",       "0.0.0.0",
                         "10.1.2.3",      "100.64.0.1",       "169.254.1.1",
                         "172.16.0.1",    "172.31.255.255",   "192.168.1.1",
                         "224.0.0.1",     "255.255.255.255",  "::",
                         "::1",           "fe80::1",          "febf::1",
                         "fec0::1",       "fc00::1",          "fd12:3456::1",
                         "ff02::1",       "::ffff:127.0.0.1", "::ffff:10.0.0.1",
                         "::192.168.0.1", "64:ff9b::a00:1"};
  for (const char* a : local) EXPECT_TRUE(IsLocalAddress(a)) << a;
  const char* remote[] = {"192.0.2.1",        "198.18.4.140",
                          "8.8.8.8",          "100.128.0.1",
                          "172.32.0.1",       "172.15.0.1",
                          "169.253.0.1",      "2001:db8::1",
                          "2001:db8:4::16",   "fec0x::1",
                          "::ffff:192.0.2.1", "64:ff9b::c000:201",
                          "whois.test",       ""};
  for (const char* a : remote) EXPECT_FALSE(IsLocalAddress(a)) << a;
}

}  // namespace
}  // namespace quillon
