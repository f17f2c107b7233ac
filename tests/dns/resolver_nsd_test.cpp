// The resolver against a real authoritative server (Debian's nsd) started on
// 127.0.0.1 at a free port with zones of the test's own.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "net/dns/dns_error.h"
#include "net/dns/resolver.h"
#include "tests/dns/dns_test_util.h"

namespace quillon {
namespace {

using test::NsdServer;

const char* const kZone = R"($ORIGIN quillon.test.
$TTL 300
@      IN SOA ns1 hostmaster 2024010101 3600 900 604800 86400
@      IN NS  ns1
@      IN NS  ns2.quillon.test.
ns1    IN A   127.0.0.1
ns2    IN A   127.0.0.2
@      IN MX  10 mail1
@      IN MX  20 mail2.quillon.test.
mail1  IN A   192.0.2.10
www    IN CNAME @
nomx   IN A   192.0.2.20
txt    IN TXT "hello" "world" "a;b"
)";

const char* const kReverseZone = R"($ORIGIN 2.0.192.in-addr.arpa.
$TTL 300
@   IN SOA ns1.quillon.test. hostmaster.quillon.test. 7 3600 900 604800 86400
@   IN NS  ns1.quillon.test.
10  IN PTR mail1.quillon.test.
)";

class NsdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<NsdServer>(std::vector<NsdServer::Zone>{
        {"quillon.test", kZone}, {"2.0.192.in-addr.arpa", kReverseZone}});
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    if (!server_->ready()) GTEST_SKIP() << server_->why();
    resolver_.Host = "127.0.0.1";
    resolver_.Port = server_->port();
    resolver_.ReceiveTimeout = 3000;
  }
  void Ask(TQueryRecordTypes kind, const std::string& name) {
    resolver_.QueryRecords = {kind};
    resolver_.RunQuery(name);
  }
  const TQueryResult& R() const { return resolver_.Results(); }
  int Answers() { return resolver_.Header().AnswerCount; }

  static std::unique_ptr<NsdServer> server_;
  TIdDNSResolver resolver_;
};

std::unique_ptr<NsdServer> NsdTest::server_;

TEST_F(NsdTest, MxOfACnamedNameGivesTheCnameThenTheMxRecords) {
  Ask(qtMX, "www.quillon.test");
  EXPECT_EQ(R().QuestionName, "www.quillon.test");
  EXPECT_EQ(R().QuestionType, 15);
  ASSERT_EQ(Answers(), 3);
  const auto& cname = dynamic_cast<const TNAMERecord&>(R()[0]);
  EXPECT_EQ(cname.Kind, qtName);
  EXPECT_EQ(cname.OwnerName, "www.quillon.test");
  EXPECT_EQ(cname.TargetName, "quillon.test");
  EXPECT_EQ(cname.TtlSeconds, 300u);
  std::set<std::pair<int, std::string>> mx;
  for (int i = 1; i < 3; ++i) {
    const auto& r = dynamic_cast<const TMXRecord&>(R()[i]);
    EXPECT_EQ(r.Kind, qtMX);
    EXPECT_EQ(r.OwnerName, "quillon.test");
    mx.insert({r.MxPreference, r.Exchange});
  }
  EXPECT_EQ(mx, (std::set<std::pair<int, std::string>>{{10, "mail1.quillon.test"},
                                                       {20, "mail2.quillon.test"}}));
  // Only the MX records of the answer carry the kind the lookup lists.
  for (int i = 3; i < R().Count(); ++i) EXPECT_NE(R()[i].Kind, qtMX) << i;
}

TEST_F(NsdTest, ANameWithoutMxHasNoAnswerButTheZonesSoa) {
  Ask(qtMX, "nomx.quillon.test");
  EXPECT_EQ(Answers(), 0);
  ASSERT_GE(R().Count(), 1);
  const auto& soa = dynamic_cast<const TSOARecord&>(R()[0]);
  EXPECT_EQ(soa.OwnerName, "quillon.test");
  for (int i = 0; i < R().Count(); ++i) EXPECT_NE(R()[i].Kind, qtMX);
}

TEST_F(NsdTest, AMissingNameIsANameError) {
  resolver_.QueryRecords = {qtMX};
  try {
    resolver_.RunQuery("missing.quillon.test");
    ADD_FAILURE() << "no error";
  } catch (const EIdDnsResolverError& e) {
    EXPECT_EQ(e.message(), "Le serveur DNS signale une erreur de nom de requête");
  }
}

TEST_F(NsdTest, TxtSoaNsAndPtrAnswers) {
  Ask(qtTXT, "txt.quillon.test");
  ASSERT_EQ(Answers(), 1);
  EXPECT_EQ(dynamic_cast<const TTextRecord&>(R()[0]).Strings,
            (std::vector<std::string>{"hello", "world", "a;b"}));

  Ask(qtSOA, "quillon.test.");
  ASSERT_EQ(Answers(), 1);
  const auto& soa = dynamic_cast<const TSOARecord&>(R()[0]);
  EXPECT_EQ(soa.PrimaryServer, "ns1.quillon.test");
  EXPECT_EQ(soa.ResponsibleMailbox, "hostmaster.quillon.test");
  EXPECT_EQ(soa.SerialNumber, 2024010101u);
  EXPECT_EQ(soa.RefreshSeconds, 3600u);
  EXPECT_EQ(soa.RetrySeconds, 900u);
  EXPECT_EQ(soa.ExpireSeconds, 604800u);
  EXPECT_EQ(soa.MinimumSeconds, 86400u);

  Ask(qtNS, "quillon.test");
  ASSERT_EQ(Answers(), 2);
  std::set<std::string> ns;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(R()[i].Kind, qtNS);
    ns.insert(dynamic_cast<const TNSRecord&>(R()[i]).TargetName);
  }
  EXPECT_EQ(ns, (std::set<std::string>{"ns1.quillon.test", "ns2.quillon.test"}));

  Ask(qtPTR, "192.0.2.10");
  EXPECT_EQ(R().QuestionName, "10.2.0.192.in-addr.arpa");
  ASSERT_EQ(Answers(), 1);
  EXPECT_EQ(R()[0].Kind, qtPTR);
  EXPECT_EQ(dynamic_cast<const TPTRRecord&>(R()[0]).TargetName, "mail1.quillon.test");

  Ask(qtA, "mail1.quillon.test");
  ASSERT_EQ(Answers(), 1);
  EXPECT_EQ(dynamic_cast<const TARecord&>(R()[0]).AddressText, "192.0.2.10");
}

}  // namespace
}  // namespace quillon
