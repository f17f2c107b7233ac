// Table tests of the name routines: top-level label, registered domain,
// whois server choice, the configured DNS server and the reverse name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/lookup/domain_helpers.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

struct Row {
  const char* input;
  const char* expected;
};

TEST(Nowww, EveryRowOfTheTable) {
  const Row rows[] = {
      {"host.example.com", "example.com"},
      {"example.com", "example.com"},
      {"mail.host.example.com.fr", "example.com.fr"},
      {"example.com.fr", "example.com.fr"},
      {"host.example.co.uk", "co.uk"},
      {"example", "example."},
      {".com", ".com"},
      // One final dot is the same name without it (not its top-level label).
      {"example.com.", "example.com"},
      {"host.example.com.fr.\t", "example.com.fr"},
      {"example.", "example."},
      {".", "."},
      {"", ""},
      // com.fr is compared exactly: capitals do not keep the third label.
      {"www.example.COM.fr", "COM.fr"},
      {"a.b.c.com.fr", "c.com.fr"},
      {"com.fr", "com.fr"},
  };
  for (const Row& row : rows) EXPECT_EQ(nowww(row.input), row.expected) << row.input;
}

TEST(Domaineext, LastLabelTrimmed) {
  const Row rows[] = {
      {"example.com", "com"},
      {"example.com ", "com"},
      {"example", "example"},
      {" example\t", "example"},
      {"example.fr.", "fr"},
      {"example.fr. ", "fr"},
      {".", ""},
      {"example.fr..", ""},
      {"", ""},
      {"host.EXAMPLE.COM", "COM"},
      {"a.b.\x01info\r", "info"},
  };
  for (const Row& row : rows) EXPECT_EQ(domaineext(row.input), row.expected) << row.input;
}

TEST(WhoisServer, ChosenByTopLevelLabel) {
  const Row rows[] = {
      {"fr", "whois.nic.fr"},           {"biz", "whois.nic.biz"},
      {"info", "whois.nic.info"},       {"name", "whois.nic.name"},
      {"com", "whois.internic.net"},    {"aero", "whois.internic.net"},
      {"arpa", "whois.internic.net"},   {"coop", "whois.internic.net"},
      {"edu", "whois.internic.net"},    {"int", "whois.internic.net"},
      {"museum", "whois.internic.net"}, {"net", "whois.internic.net"},
      {"org", "whois.internic.net"},    {"COM", "whois.ripe.net"},
      {"", "whois.ripe.net"},           {"de", "whois.ripe.net"},
      {"fr ", "whois.ripe.net"},
  };
  for (const Row& row : rows) EXPECT_EQ(WhoisServerFor(row.input), row.expected) << row.input;
  // The whole chain for a name ending in a dot: that of the name without it.
  EXPECT_EQ(WhoisServerFor(domaineext("example.fr.")), "whois.nic.fr");
}

TEST(AddressLiteral, AddressesAndNames) {
  const struct {
    const char* input;
    std::optional<std::string> address;
  } rows[] = {
      {"192.0.2.1", "192.0.2.1"},
      {" 198.51.100.7\t", "198.51.100.7"},
      {"2001:db8::1", "2001:db8::1"},
      {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
      {"fe80::1%eth0", "fe80::1"},
      {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
      {"192.0.2", std::nullopt},
      {"192.0.2.1.", std::nullopt},
      {"192.0.2.256", std::nullopt},
      {"example.com", std::nullopt},
      {"2001:db8::1::2", std::nullopt},
      {"[2001:db8::1]", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(AddressLiteral(row.input), row.address) << row.input;
}

class Getdns : public ::testing::Test {
 protected:
  std::string Write(const std::string& content) {
    const std::string path =
        (std::filesystem::temp_directory_path() / test::UniqueName("quillon-resolv")).string();
    std::ofstream(path, std::ios::binary) << content;
    files_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const auto& f : files_) std::filesystem::remove(f);
  }
  std::vector<std::string> files_;
};

TEST_F(Getdns, FirstNameserverWithAnAddressOfEitherFamily) {
  const Row rows[] = {
      {"nameserver 192.0.2.53\nnameserver 192.0.2.54\n", "192.0.2.53"},
      {"# comment\nsearch example.com\noptions ndots:2\n  nameserver\t198.51.100.1  \n",
       "198.51.100.1"},
      {"nameserver 2001:db8::1\nnameserver 203.0.113.9\n", "2001:db8::1"},
      {"nameserver 2001:DB8:0:0:0:0:0:53\n", "2001:db8::53"},
      {"nameserver 203.0.113.9\nnameserver 2001:db8::1\n", "203.0.113.9"},
      {"nameserver fe80::1%eth0\n", "fe80::1%eth0"},
      {"nameserver 2001:db8::1::2\nnameserver 192.0.2.9\n", "192.0.2.9"},
      {"; nameserver 192.0.2.1\n#nameserver 192.0.2.2\n", ""},
      {"nameserver 192.0.2.300\nnameserver 192.0.2.7", "192.0.2.7"},
      {"nameserver192.0.2.1\n", ""},
      {"nameservers 192.0.2.1\n", ""},
      {"nameserver 192.0.2.5\r\n", "192.0.2.5"},
      {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(getdns(Write(row.input)), row.expected) << row.input;
}

TEST_F(Getdns, UnreadableFileGivesEmptyText) {
  EXPECT_EQ(getdns("/nonexistent/quillon/resolv.conf"), "");
  EXPECT_EQ(getdns(std::filesystem::temp_directory_path().string()), "");  // a folder
  // A very long line is skipped without harm.
  EXPECT_EQ(getdns(Write(std::string(100000, 'x') + "\nnameserver 192.0.2.8\n")), "192.0.2.8");
}

TEST(LowerAsciiLetters, OnlyAToZChange) {
  EXPECT_EQ(LowerAsciiLetters("WWW.Example.COM"), "www.example.com");
  // UTF-8 "ÉCOLE.fr": the accented capital keeps its bytes.
  EXPECT_EQ(LowerAsciiLetters("\xC3\x89"
                              "COLE.FR"),
            "\xC3\x89"
            "cole.fr");
  EXPECT_EQ(LowerAsciiLetters("@[`{09"), "@[`{09");
}

// ip2dns in a namespace of the test's own, whose resolver configuration
// points at a loopback port where nothing answers, and whose hosts file
// names one address: no query leaves the namespace.
TEST(Ip2dns, ReverseNameOrInputUnchanged) {
  if (!std::getenv("QUILLON_IP2DNS_CHILD")) {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root for a network namespace";
    test::NetNs ns("qip2dns");
    const std::filesystem::path etc = "/etc/netns/" + ns.name();
    std::filesystem::create_directories(etc);
    std::ofstream(etc / "resolv.conf") << "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n";
    std::ofstream(etc / "hosts") << "127.0.0.1 localhost\n198.18.7.7 named.quillon.test\n"
                                 << "2001:db8:7::7 named6.quillon.test\n";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string output;
    const int status = ns.Exec("QUILLON_IP2DNS_CHILD=1 " + self +
                                   " --gtest_filter=Ip2dns.ReverseNameOrInputUnchanged 2>&1",
                               &output);
    std::filesystem::remove_all(etc);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    return;
  }
  EXPECT_EQ(ip2dns("198.18.7.7"), "named.quillon.test");
  EXPECT_EQ(ip2dns("198.18.7.8"), "198.18.7.8");  // no reverse entry
  EXPECT_EQ(ip2dns("not an address"), "not an address");
  EXPECT_EQ(ip2dns("198.18.7"), "198.18.7");
  EXPECT_EQ(ip2dns(""), "");
  EXPECT_EQ(ip2dns("2001:db8:7::7"), "named6.quillon.test");
  EXPECT_EQ(ip2dns("2001:db8:7::8"), "2001:db8:7::8");  // no reverse entry
  EXPECT_EQ(ip2dns("2001:db8:7::7::"), "2001:db8:7::7::");
}

}  // namespace
}  // namespace quillon
