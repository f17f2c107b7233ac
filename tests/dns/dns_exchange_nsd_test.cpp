// The generic exchange against a real authoritative server (Debian's nsd on
// 127.0.0.1): a TXT set of several kilobytes comes truncated over UDP and
// whole over TCP; NXDOMAIN and no-data answers come back as messages.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/dns/dns_exchange.h"
#include "tests/dns/dns_test_util.h"

namespace quillon {
namespace {

std::string BigTxtZone() {
  std::string zone =
      "$ORIGIN big.test.\n$TTL 300\n"
      "@ IN SOA ns1 hostmaster 1 3600 900 604800 86400\n@ IN NS ns1\nns1 IN A 127.0.0.1\n";
  // 24 records of 200 bytes: about 5 KB, well past 1232.
  for (int i = 0; i < 24; ++i)
    zone += "txt IN TXT \"" + std::to_string(100 + i) + std::string(197, 'k') + "\"\n";
  return zone;
}

TEST(DnsExchangeNsd, BigTxtSetComesOverTcpAndErrorsAreAnswers) {
  test::NsdServer nsd({{"big.test", BigTxtZone()}});
  if (!nsd.ready()) GTEST_SKIP() << nsd.why();
  const TDnsServer server{"127.0.0.1", nsd.port()};

  TDnsExchangeOptions udpOnly;
  udpOnly.tcp = false;
  const TDnsMessage m = AskDns(server, {"txt.big.test", kDnsTypeTXT}, udpOnly);
  EXPECT_FALSE(m.Truncated());
  ASSERT_EQ(m.answers.size(), 24u);
  size_t total = 0;
  for (const TDnsRecord& r : m.answers) {
    const auto strings = DnsTxtStrings(m, r);
    ASSERT_EQ(strings.size(), 1u);
    EXPECT_EQ(strings[0].size(), 200u);
    total += strings[0].size();
  }
  EXPECT_EQ(total, 4800u);
  EXPECT_GT(m.bytes.size(), 1232u);

  const TDnsMessage nx = AskDns(server, {"missing.big.test", kDnsTypeA}, {});
  EXPECT_EQ(nx.rcode, kDnsNxDomain);
  EXPECT_TRUE(nx.answers.empty());
  ASSERT_EQ(nx.authority.size(), 1u);
  EXPECT_EQ(nx.authority[0].type, kDnsTypeSOA);
  EXPECT_TRUE(nx.hasEdns);

  const TDnsMessage nodata = AskDns(server, {"NS1.Big.Test", kDnsTypeMX}, {});
  EXPECT_EQ(nodata.rcode, kDnsNoError);
  EXPECT_TRUE(nodata.answers.empty());
  EXPECT_TRUE(nodata.flags & kDnsFlagAA);
}

}  // namespace
}  // namespace quillon
