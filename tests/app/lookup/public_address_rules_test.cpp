// The public address's rules, without the network: which address is shown
// for which answers and when, what counts as an address, the source list's
// syntax, and where the list comes from (variable, settings file, built-in).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/lookup/public_address_agreement.h"
#include "app/lookup/public_address_answer.h"
#include "app/lookup/public_address_sources.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr const char* kA = "198.51.100.7";
constexpr const char* kB = "203.0.113.9";
constexpr const char* kC = "192.0.2.1";

TEST(PublicAddressAgreement, AnswersAndTheirTimingsGiveWhatIsShown) {
  const auto at = [](const char* address, long ms) { return TTimedAnswer{address, milliseconds(ms)}; };
  const TTimedAnswer never{"", std::nullopt};
  struct Case {
    const char* name;
    std::vector<TTimedAnswer> answers;  // in list order
    TShownAddress shown;
  };
  const Case cases[] = {
      {"two agree at once", {at(kA, 10), at(kA, 20), never, never}, {kA, 20ms}},
      {"the first pair to agree wins, not the larger group",
       {at(kB, 5), at(kA, 10), at(kB, 30), at(kA, 15), at(kA, 40)}, {kA, 15ms}},
      {"a pair that agrees later than another loses",
       {at(kA, 5), at(kB, 6), at(kB, 7), at(kA, 8)}, {kB, 7ms}},
      {"agreement after the limit does not count", {at(kA, 100), at(kA, 3500)}, {kA, 3000ms}},
      {"no agreement, all in: most sources",
       {at(kA, 1), at(kB, 2), at(kC, 3), at(kB, 4)}, {kB, 4ms}},
      {"no agreement, all in: tie to the earlier source",
       {at(kB, 9), at(kA, 1), at("", 2), at("", 3)}, {kB, 9ms}},
      {"tie among singles goes to the first in the list", {at(kC, 1), at(kB, 2), at(kA, 3)},
       {kC, 3ms}},
      {"one answer, the rest silent: shown at the limit", {never, at(kA, 50), never},
       {kA, 3000ms}},
      {"one answer, the rest failed: shown once all are in", {at("", 1), at(kA, 50), at("", 70)},
       {kA, 70ms}},
      {"every source failed", {at("", 1), at("", 2)}, {"", 2ms}},
      {"every source silent", {never, never, never, never}, {"", 3000ms}},
      {"failures never agree", {at("", 1), at("", 2), at(kA, 5)}, {kA, 5ms}},
      {"equal times count in list order", {at(kA, 5), at(kB, 5), at(kB, 5), at(kA, 5)},
       {kB, 5ms}},
      {"no source at all", {}, {"", 0ms}},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplayAnswers(c.answers, 3000ms), c.shown) << c.name;
}

TEST(PublicAddressAgreement, ASourceCountsOnceAndTheFirstAgreementStands) {
  TAddressTally tally(4);
  EXPECT_FALSE(tally.Add(0, kA));
  EXPECT_FALSE(tally.Add(0, kA));  // the same source again: no second vote
  EXPECT_FALSE(tally.Agreed());
  EXPECT_FALSE(tally.Add(9, kA));  // no such source
  EXPECT_TRUE(tally.Add(1, kA));
  EXPECT_FALSE(tally.Add(2, kB));
  EXPECT_FALSE(tally.Add(3, kB));  // a later pair changes nothing
  EXPECT_EQ(tally.Shown(), kA);
  EXPECT_TRUE(tally.AllIn());
}

TEST(PublicAddressAnswer, OnlyADottedIPv4AddressCounts) {
  struct Case {
    std::string text;
    std::optional<std::string> address;
  };
  const Case cases[] = {
      {"198.51.100.7", "198.51.100.7"},
      {"198.51.100.7\n", "198.51.100.7"},
      {"198.51.100.7\r\n", "198.51.100.7"},
      {"198.51.100.7\r", "198.51.100.7"},
      {"198.51.100.7 ", "198.51.100.7"},
      {"0.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"},
      {"198.51.100.7\n\n", std::nullopt},  // one line end only
      {"198.51.100.7 \n", std::nullopt},
      {" 198.51.100.7", std::nullopt},
      {"\"198.51.100.7\"", std::nullopt},
      {"198.51.100.7\n198.51.100.8", std::nullopt},
      {"2001:db8::1", std::nullopt},
      {"::ffff:198.51.100.7", std::nullopt},
      {"<html><body>Please log in</body></html>", std::nullopt},
      {"", std::nullopt},
      {"\n", std::nullopt},
      {"256.1.1.1", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1.2.3.", std::nullopt},
      {"01.2.3.4", std::nullopt},
      {"1.2.3.04", std::nullopt},
      {"+1.2.3.4", std::nullopt},
      {"1.2.3.4x", std::nullopt},
      {"1..3.4", std::nullopt},
      {"1.2.3.1000", std::nullopt},
      {std::string("1.2.3.4\0", 8), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(AddressFromText(c.text), c.address) << "'" << c.text << "'";
}

std::string KindName(TSourceKind kind) {
  switch (kind) {
    case TSourceKind::DnsA:
      return "dns";
    case TSourceKind::DnsTxt:
      return "txt";
    case TSourceKind::DnsChaos:
      return "chaos";
    case TSourceKind::Http:
      return "http";
  }
  return "?";
}

// A source as one line: kind, then name@server:port or the URL.
std::string Describe(const TPublicAddressSource& s) {
  if (s.kind == TSourceKind::Http) return "http " + s.url;
  return KindName(s.kind) + " " + s.name + "@" + s.server + ":" + std::to_string(s.port);
}

TEST(PublicAddressSources, TheListSyntax) {
  struct Case {
    std::string list;
    std::vector<std::string> sources;
    std::vector<std::string> skippedEntries;  // named in the warnings, in order
  };
  const Case cases[] = {
      {kDefaultPublicAddressSources,
       {"dns myip.opendns.com@resolver1.opendns.com:53",
        "txt o-o.myaddr.l.google.com@ns1.google.com:53", "chaos whoami.cloudflare@1.1.1.1:53",
        "http http://api.ipify.org/"},
       {}},
      {"", {}, {}},
      {"  ,  , ", {}, {}},
      {" DNS:MyIP.example.@NS.Example.net:5353 ,http://127.0.0.1:8080/misc/ip.php",
       {"dns myip.example@ns.example.net:5353", "http http://127.0.0.1:8080/misc/ip.php"},
       {}},
      {"bogus, dns:a.example@ns.example, ftp://x/",
       {"dns a.example@ns.example:53"},
       {"bogus", "ftp://x/"}},
      {"dns:no-server, dns:@ns.example, dns:a@b@c, dns-txt:a..b@ns, dns-chaos:x@::1, "
       "dns:x@ns:0, dns:x@ns:70000, dns:x@ns:5x, dns:bad name@ns, https://api.ipify.org/, "
       "http://, http://[2001:db8::1]/, http://u:p@host/, http://host:99999/, http://a b/",
       {},
       {"dns:no-server", "dns:@ns.example", "dns:a@b@c", "dns-txt:a..b@ns", "dns-chaos:x@::1",
        "dns:x@ns:0", "dns:x@ns:70000", "dns:x@ns:5x", "dns:bad name@ns", "https://api.ipify.org/",
        "http://", "http://[2001:db8::1]/", "http://u:p@host/", "http://host:99999/",
        "http://a b/"}},
      {"dns:" + std::string(64, 'a') + ".example@ns", {}, {"dns:" + std::string(64, 'a') + ".example@ns"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> skipped;
    const auto sources = ParsePublicAddressSources(c.list, &skipped);
    std::vector<std::string> described;
    for (const auto& s : sources) described.push_back(Describe(s));
    EXPECT_EQ(described, c.sources) << c.list;
    ASSERT_EQ(skipped.size(), c.skippedEntries.size()) << c.list;
    for (size_t i = 0; i < skipped.size(); ++i)
      EXPECT_EQ(skipped[i].rfind("skipping public-address source \"" + c.skippedEntries[i] + "\": ", 0),
                0u)
          << skipped[i];
  }
}

TEST(PublicAddressSources, EntriesKeepTheirTextAndHostileOnesAreBounded) {
  std::vector<std::string> skipped;
  const auto one = ParsePublicAddressSources("  dns-txt:o-o.myaddr.l.google.com@ns1.google.com  ",
                                             &skipped);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].entry, "dns-txt:o-o.myaddr.l.google.com@ns1.google.com");

  // Control bytes are shown escaped, so a warning cannot drive a terminal.
  skipped.clear();
  ParsePublicAddressSources("a\x1b[31mred", &skipped);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].find('\x1b'), std::string::npos);
  EXPECT_NE(skipped[0].find("\"a\\x1b[31mred\""), std::string::npos);

  // At most 16 sources; an entry over 1 KiB is skipped.
  std::string many;
  for (int i = 0; i < 20; ++i) many += "http://h" + std::to_string(i) + "/,";
  skipped.clear();
  EXPECT_EQ(ParsePublicAddressSources(many, &skipped).size(), kMaxPublicAddressSources);
  EXPECT_EQ(skipped.size(), 4u);
  skipped.clear();
  EXPECT_TRUE(ParsePublicAddressSources("http://" + std::string(2000, 'a') + "/", &skipped).empty());
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_LT(skipped[0].size(), 300u);
}

class PublicAddressSetting : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / test::UniqueName("quillon-conf-");
    std::filesystem::create_directories(dir_ / "quillon");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Conf() const { return (dir_ / "quillon" / "quillon.conf").string(); }
  void WriteConf(const std::string& text) const { std::ofstream(Conf()) << text; }
  std::filesystem::path dir_;
};

TEST_F(PublicAddressSetting, VariableThenFileThenTheBuiltInList) {
  const std::string builtIn = kDefaultPublicAddressSources;
  // No file.
  EXPECT_EQ(PublicAddressSourcesSetting(nullptr, Conf()), builtIn);
  EXPECT_EQ(PublicAddressSourcesSetting(nullptr, ""), builtIn);
  // A file without the key, or with it in another section.
  WriteConf("[history]\nname1 = example.com\n[other]\nsources = http://x/\n");
  EXPECT_EQ(PublicAddressSourcesSetting(nullptr, Conf()), builtIn);
  // The key, in any letter case, blanks around it dropped; the last wins.
  WriteConf("# mine\n[Public-Address]\n  Sources =  http://a/ , dns:b@c  \nsources = http://d/\n");
  EXPECT_EQ(PublicAddressSourcesSetting(nullptr, Conf()), "http://d/");
  // Present but empty: no source at all.
  WriteConf("[public-address]\nsources =\n");
  EXPECT_EQ(PublicAddressSourcesSetting(nullptr, Conf()), "");
  // The variable wins, even empty.
  EXPECT_EQ(PublicAddressSourcesSetting("http://e/", Conf()), "http://e/");
  EXPECT_EQ(PublicAddressSourcesSetting("", Conf()), "");
  // A file that cannot be read: a folder, or one over the size limit.
  std::filesystem::remove(Conf());
  std::filesystem::create_directories(Conf());
  EXPECT_EQ(PublicAddressSourcesSetting(nullptr, Conf()), builtIn);
  std::filesystem::remove(Conf());
  WriteConf("[public-address]\nsources = http://f/\n# " + std::string(70000, 'x') + "\n");
  EXPECT_EQ(PublicAddressSourcesSetting(nullptr, Conf()), builtIn);
}

TEST_F(PublicAddressSetting, BadEntriesAreNamedOnTheWarningStreamAndTheOthersWork) {
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "";
  const char* oldList = std::getenv(kPublicAddressSourcesVariable);
  const std::string savedList = oldList ? oldList : "";
  ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  ::unsetenv(kPublicAddressSourcesVariable);
  WriteConf("[public-address]\nsources = http://127.0.0.1/, nonsense, dns:a.example@192.0.2.53\n");

  std::FILE* warnings = std::tmpfile();
  ASSERT_NE(warnings, nullptr);
  auto sources = ConfiguredPublicAddressSources(warnings, "quillon-test");
  ASSERT_EQ(sources.size(), 2u);
  EXPECT_EQ(sources[1].server, "192.0.2.53");
  // The variable wins over the file.
  ::setenv(kPublicAddressSourcesVariable, "dns-chaos:whoami.example@192.0.2.1, also-bad", 1);
  sources = ConfiguredPublicAddressSources(warnings, "quillon-test");
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_EQ(sources[0].kind, TSourceKind::DnsChaos);
  ::setenv(kPublicAddressSourcesVariable, "", 1);
  EXPECT_TRUE(ConfiguredPublicAddressSources(warnings, "quillon-test").empty());

  std::rewind(warnings);
  char buffer[4096] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, warnings);
  std::fclose(warnings);
  EXPECT_EQ(std::string(buffer, n),
            "quillon-test: skipping public-address source \"nonsense\": not a dns:, dns-txt:, "
            "dns-chaos: or http:// source\n"
            "quillon-test: skipping public-address source \"also-bad\": not a dns:, dns-txt:, "
            "dns-chaos: or http:// source\n");

  if (oldXdg) ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
  if (oldList) ::setenv(kPublicAddressSourcesVariable, savedList.c_str(), 1);
  else ::unsetenv(kPublicAddressSourcesVariable);
}

}  // namespace
}  // namespace quillon
