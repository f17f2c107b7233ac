// quillon-cli dns against Debian's nsd on 127.0.0.1 with a zone of every
// type, each answer compared line for line with what dig prints for the
// same question (text and --short); then the lines and exit status of a CNAME
// chain, a dangling CNAME, NXDOMAIN, no data, a TXT set that needs TCP, the
// JSON object, and list lines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "app/dns/dns_command.h"
#include "tests/app/dns/rr_zone.h"
#include "tests/dns/dns_test_util.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

void WriteJson(std::FILE* out, const nlohmann::json& value) {
  const std::string line = value.dump() + "\n";
  std::fwrite(line.data(), 1, line.size(), out);
}

struct TOutput {
  int status;
  std::string text;
};

class DnsNsd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    nsd_ = std::make_unique<test::NsdServer>(
        std::vector<test::NsdServer::Zone>{{"rr.test", test::kRecordsZone}});
  }
  static void TearDownTestSuite() { nsd_.reset(); }
  void SetUp() override {
    if (!nsd_->ready()) GTEST_SKIP() << nsd_->why();
    options_.server = "127.0.0.1";
    options_.port = nsd_->port();
    options_.printJson = &WriteJson;
  }
  TOutput Ask(const std::string& name, uint16_t type, TDnsOutput output = TDnsOutput::Lines) {
    TDnsCommandOptions o = options_;
    o.output = output;
    return Capture([&](std::FILE* out) { return RunDns({name, type}, o, out); });
  }
  TOutput Line(const std::string& line, TDnsOutput output = TDnsOutput::Lines) {
    TDnsCommandOptions o = options_;
    o.output = output;
    return Capture([&](std::FILE* out) { return RunDnsLine(line, o, out); });
  }
  template <typename F>
  static TOutput Capture(F run) {
    char* data = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    const int status = run(out);
    std::fclose(out);
    TOutput o{status, std::string(data, size)};
    std::free(data);
    return o;
  }
  std::string Dig(const std::string& name, const std::string& type, bool shortForm) {
    std::string out;
    const int rc = test::Run("dig @127.0.0.1 -p " + std::to_string(nsd_->port()) +
                                 " +noall +answer +time=2 +tries=1 " +
                                 (shortForm ? "+short " : "") + name + " " + type,
                             &out);
    EXPECT_EQ(rc, 0) << name << " " << type;
    return out;
  }

  static std::unique_ptr<test::NsdServer> nsd_;
  TDnsCommandOptions options_;
};

std::unique_ptr<test::NsdServer> DnsNsd::nsd_;

TEST_F(DnsNsd, EveryTypeAsDigPrintsIt) {
  if (::access("/usr/bin/dig", X_OK) != 0) GTEST_SKIP() << "dig is not installed";
  const struct {
    const char* name;
    const char* type;
    uint16_t code;
  } cases[] = {
      {"a.rr.test", "A", 1},          {"aaaa.rr.test", "AAAA", 28},   {"caa.rr.test", "CAA", 257},
      {"cname.rr.test", "CNAME", 5},  {"dnskey.rr.test", "DNSKEY", 48}, {"ds.rr.test", "DS", 43},
      {"https.rr.test", "HTTPS", 65}, {"svcb.rr.test", "SVCB", 64},   {"mx.rr.test", "MX", 15},
      {"naptr.rr.test", "NAPTR", 35}, {"rr.test", "NS", 2},           {"ptr.rr.test", "PTR", 12},
      {"srv.rr.test", "SRV", 33},     {"sshfp.rr.test", "SSHFP", 44}, {"tlsa.rr.test", "TLSA", 52},
      {"txt.rr.test", "TXT", 16},     {"rr.test", "SOA", 6},          {"unk.rr.test", "TYPE65280", 65280},
      {"unk.rr.test", "TYPE65282", 65282}, {"spf.rr.test", "TYPE99", 99},
      {"dname.rr.test", "TYPE39", 39}, {"hinfo.rr.test", "TYPE13", 13},
      {"averyveryveryverylongownername.rr.test", "A", 1}, {"a23456789012345.rr.test", "A", 1},
      {"ttl.rr.test", "A", 1},        {"chain.rr.test", "A", 1},      {"big.rr.test", "TXT", 16},
  };
  for (const auto& c : cases) {
    const TOutput lines = Ask(c.name, c.code);
    EXPECT_EQ(lines.status, 0) << c.name << " " << c.type;
    EXPECT_EQ(lines.text, Dig(c.name, c.type, false)) << c.name << " " << c.type;
    const TOutput data = Ask(c.name, c.code, TDnsOutput::Short);
    EXPECT_EQ(data.text, Dig(c.name, c.type, true)) << c.name << " " << c.type;
  }
}

TEST_F(DnsNsd, MissingRecordsGiveTheirLineAndStatus) {
  const struct {
    std::string name;
    uint16_t type;
    std::string text;
  } cases[] = {
      {"chain.rr.test", 1,
       "chain.rr.test.\t\t300\tIN\tCNAME\tchain2.rr.test.\n"
       "chain2.rr.test.\t\t300\tIN\tCNAME\ta.rr.test.\n"
       "a.rr.test.\t\t300\tIN\tA\t198.18.0.1\n"},
      {"dangling.rr.test", 1,
       "dangling.rr.test.\t300\tIN\tCNAME\tnowhere.rr.test.\n"
       "No A record for dangling.rr.test (NXDOMAIN)\n"},
      {"missing.rr.test.", 1, "No A record for missing.rr.test (NXDOMAIN)\n"},
      {"a.rr.test", 15, "No MX record for a.rr.test (NOERROR)\n"},
      {"elsewhere.example", 1, "No A record for elsewhere.example (REFUSED)\n"},
  };
  for (const auto& c : cases) {
    const TOutput o = Ask(c.name, c.type);
    EXPECT_EQ(o.text, c.text) << c.name;
    EXPECT_EQ(o.status, c.text.find("No ") == std::string::npos ? 0 : 1) << c.name;
  }
  EXPECT_EQ(Ask("dangling.rr.test", 1, TDnsOutput::Short).text,
            "nowhere.rr.test.\nNo A record for dangling.rr.test (NXDOMAIN)\n");
}

TEST_F(DnsNsd, JsonObjectForEveryResponse) {
  TOutput o = Ask("chain.rr.test", 1, TDnsOutput::Json);
  EXPECT_EQ(o.status, 0);
  nlohmann::json j = nlohmann::json::parse(o.text);
  EXPECT_EQ(j["name"], "chain.rr.test");
  EXPECT_EQ(j["type"], "A");
  EXPECT_EQ(j["server"], "127.0.0.1");
  EXPECT_EQ(j["status"], "NOERROR");
  EXPECT_EQ(j["flags"], nlohmann::json({"qr", "aa", "rd"}));
  ASSERT_EQ(j["answer"].size(), 3u);
  EXPECT_EQ(j["answer"][0],
            nlohmann::json({{"name", "chain.rr.test."}, {"ttl", 300}, {"class", "IN"},
                            {"type", "CNAME"}, {"data", "chain2.rr.test."}}));
  EXPECT_EQ(j["answer"][2]["data"], "198.18.0.1");
  EXPECT_TRUE(j["time_ms"].is_number());

  o = Ask("missing.rr.test", 28, TDnsOutput::Json);
  EXPECT_EQ(o.status, 1);
  j = nlohmann::json::parse(o.text);
  EXPECT_EQ(j["status"], "NXDOMAIN");
  EXPECT_EQ(j["type"], "AAAA");
  EXPECT_TRUE(j["answer"].empty());
  EXPECT_FALSE(j.contains("error"));
}

TEST_F(DnsNsd, ListLinesCarryTheirType) {
  const struct {
    std::string line;
    std::string text;
    int status;
  } cases[] = {
      {"mx.rr.test MX", "mx.rr.test.\t\t300\tIN\tMX\t10 mail.rr.test.\nmx.rr.test.\t\t300\tIN\tMX\t0 .\n", 0},
      {"a.rr.test", "a.rr.test.\t\t300\tIN\tA\t198.18.0.1\n", 0},
      {"a.rr.test aaaa", "No AAAA record for a.rr.test (NOERROR)\n", 1},
      {"a.rr.test. TYPE1", "a.rr.test.\t\t300\tIN\tA\t198.18.0.1\n", 0},
      {"a.rr.test bogus", "Error DNS: bogus is not a record type\n", 1},
      {"a.rr.test MX x", "Error DNS: a line holds NAME or NAME TYPE\n", 1},
  };
  for (const auto& c : cases) {
    const TOutput o = Line(c.line);
    EXPECT_EQ(o.text, c.text) << c.line;
    EXPECT_EQ(o.status, c.status) << c.line;
  }
  const TOutput json = Line("a.rr.test bogus", TDnsOutput::Json);
  EXPECT_EQ(nlohmann::json::parse(json.text),
            nlohmann::json({{"name", "a.rr.test"}, {"type", "A"},
                            {"error", "bogus is not a record type"}}));
}

TEST_F(DnsNsd, OverTcpFromTheStart) {
  options_.tcp = true;
  const TOutput o = Ask("big.rr.test", 16, TDnsOutput::Short);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(std::count(o.text.begin(), o.text.end(), '\n'), 24);
}

}  // namespace
}  // namespace quillon
