// The report as text (heading, columns, hop lines, further addresses, the AS
// column, the verdict) and as one JSON object, and reading the origin AS
// service: the names asked, the addresses never asked, and the TXT answer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

#include "app/trace/origin_txt.h"
#include "app/trace/report_json.h"
#include "app/trace/report_text.h"

namespace quillon {
namespace {

// 2024-05-01 12:34:56 UTC, shown in a zone 5 h 30 min ahead.
class ReportOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    ::setenv("TZ", "<+0530>-5:30", 1);
    ::tzset();
  }
  void TearDown() override {
    if (savedTz_)
      ::setenv("TZ", savedTz_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  static TReportHeading Heading() {
    return {"host.test", "198.18.3.2", 10,
            std::chrono::system_clock::from_time_t(1714566896)};
  }
  std::optional<std::string> savedTz_;
};

THopLine Line(int hop, std::vector<std::string> addresses, std::vector<std::optional<double>> t) {
  THopLine line;
  line.hop = hop;
  line.addresses = std::move(addresses);
  line.statistics = HopStatisticsOf(t);
  return line;
}

TReportModel Model() {
  const std::nullopt_t x = std::nullopt;
  TReportModel m;
  m.end = TPathEnd::Reached;
  m.hops = {Line(1, {"198.18.1.1"}, {0.3, 0.9, 0.5, 0.4, 0.4}),
            Line(2, {}, {x, x, x, x, x}),
            Line(3, {"198.18.2.2", "198.18.2.3"}, {12.6, 11.2, 11.9, 12.1, 11.7}),
            Line(4, {"198.18.3.2"}, {12.0, x, 11.5, 11.8, 12.1})};
  return m;
}

TAddressInfos Infos() {
  TAddressInfos infos;
  infos["198.18.1.1"] = {"r1.example.net", std::nullopt};
  infos["198.18.2.2"] = {std::nullopt, 64500};
  infos["198.18.2.3"] = {"a-rather-long-router-name.example.net", 64501};
  infos["198.18.3.2"] = {std::nullopt, std::nullopt};
  return infos;
}

TEST_F(ReportOutput, TextWithAndWithoutTheAsColumn) {
  EXPECT_EQ(ReportLines(Heading(), Model(), Infos(), false),
            (std::vector<std::string>{
                "Report for host.test (198.18.3.2), 10 cycles, started 2024-05-01 18:04:56 +0530",
                "Hop  Host                          Loss%  Sent   Last    Avg   Best  Worst  StDev",
                "  1  r1.example.net (198.18.1.1)    0.0%     5    0.4    0.5    0.3    0.9    0.2",
                "  2  ???                          100.0%     5",
                "  3  198.18.2.2                     0.0%     5   11.7   11.9   11.2   12.6    0.5",
                "     a-rather-long-router-name.example.net (198.18.2.3)",
                "  4  198.18.3.2                    20.0%     5   12.1   11.8   11.5   12.1    0.3",
                "Verdict: 20.0% loss to host.test, from hop 4 (198.18.3.2)",
            }));
  EXPECT_EQ(ReportLines(Heading(), Model(), Infos(), true),
            (std::vector<std::string>{
                "Report for host.test (198.18.3.2), 10 cycles, started 2024-05-01 18:04:56 +0530",
                "Hop  AS        Host                          Loss%  Sent   Last    Avg   Best  Worst  "
                "StDev",
                "  1  AS???     r1.example.net (198.18.1.1)    0.0%     5    0.4    0.5    0.3    "
                "0.9    0.2",
                "  2  AS???     ???                          100.0%     5",
                "  3  AS64500   198.18.2.2                     0.0%     5   11.7   11.9   11.2   "
                "12.6    0.5",
                "               a-rather-long-router-name.example.net (198.18.2.3)",
                "  4  AS???     198.18.3.2                    20.0%     5   12.1   11.8   11.5   "
                "12.1    0.3",
                "Verdict: 20.0% loss to host.test, from hop 4 (198.18.3.2)",
            }));
}

TEST_F(ReportOutput, ALongHostWidensItsColumnForEveryLine) {
  TReportModel m;
  m.end = TPathEnd::Reached;
  m.hops = {Line(1, {"2001:db8:1::1"}, {1.0}), Line(2, {"2001:db8:3::2"}, {2.0})};
  TAddressInfos infos;
  infos["2001:db8:3::2"] = {"destination.example.net", std::nullopt};
  TReportHeading h = Heading();
  h.address = "2001:db8:3::2";
  h.cycles = 1;
  const auto lines = ReportLines(h, m, infos, false);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1],
            "Hop  Host                                     Loss%  Sent   Last    Avg   Best  Worst  StDev");
  EXPECT_EQ(lines[2],
            "  1  2001:db8:1::1                             0.0%     1    1.0    1.0    1.0    1.0    0.0");
  EXPECT_EQ(lines[3],
            "  2  destination.example.net (2001:db8:3::2)   0.0%     1    2.0    2.0    2.0    2.0    0.0");
  EXPECT_EQ(lines[4], "Verdict: no loss to host.test");
}

TEST_F(ReportOutput, JsonObject) {
  const nlohmann::json j = ReportJson(Heading(), Model(), Infos());
  EXPECT_EQ(j["host"], "host.test");
  EXPECT_EQ(j["address"], "198.18.3.2");
  EXPECT_EQ(j["cycles"], 10);
  EXPECT_EQ(j["started"], "2024-05-01T18:04:56+05:30");
  EXPECT_EQ(j["verdict"], "20.0% loss to host.test, from hop 4 (198.18.3.2)");
  ASSERT_EQ(j["hops"].size(), 4u);
  const nlohmann::json& first = j["hops"][0];
  EXPECT_EQ(first["hop"], 1);
  EXPECT_EQ(first["addresses"], nlohmann::json::parse(
                                    R"([{"address":"198.18.1.1","name":"r1.example.net","asn":null}])"));
  EXPECT_EQ(first["sent"], 5);
  EXPECT_EQ(first["lost"], 0);
  EXPECT_EQ(first["loss_pct"], 0.0);
  EXPECT_DOUBLE_EQ(first["last_ms"].get<double>(), 0.4);
  EXPECT_DOUBLE_EQ(first["avg_ms"].get<double>(), 0.5);
  EXPECT_DOUBLE_EQ(first["best_ms"].get<double>(), 0.3);
  EXPECT_DOUBLE_EQ(first["worst_ms"].get<double>(), 0.9);
  EXPECT_DOUBLE_EQ(first["stdev_ms"].get<double>(), 0.235);  // sqrt(0.22 / 4), to the microsecond
  const nlohmann::json& silent = j["hops"][1];
  EXPECT_EQ(silent["addresses"], nlohmann::json::array());
  EXPECT_EQ(silent["loss_pct"], 100.0);
  for (const char* key : {"last_ms", "avg_ms", "best_ms", "worst_ms", "stdev_ms"})
    EXPECT_TRUE(silent[key].is_null()) << key;
  EXPECT_EQ(j["hops"][2]["addresses"],
            nlohmann::json::parse(R"([{"address":"198.18.2.2","name":null,"asn":64500},
              {"address":"198.18.2.3","name":"a-rather-long-router-name.example.net","asn":64501}])"));
  EXPECT_EQ(j["hops"][3]["loss_pct"], 20.0);
  EXPECT_EQ(j["hops"][3]["lost"], 1);
}

TEST(OriginTxt, NamesAskedAndAddressesNeverAsked) {
  const struct {
    const char* address;
    const char* name;  // nullptr: not asked
  } cases[] = {
      {"192.0.2.1", "1.2.0.192.origin.asn.cymru.com"},
      {"198.18.3.2", "2.3.18.198.origin.asn.cymru.com"},  // benchmarking range: asked
      {"203.0.113.9", "9.113.0.203.origin.asn.cymru.com"},
      {"8.8.4.4", "4.4.8.8.origin.asn.cymru.com"},
      {"10.1.2.3", nullptr},
      {"172.15.255.255", "255.255.15.172.origin.asn.cymru.com"},
      {"172.16.0.1", nullptr},
      {"172.31.255.255", nullptr},
      {"172.32.0.1", "1.0.32.172.origin.asn.cymru.com"},
      {"192.168.1.1", nullptr},
      {"100.63.255.255", "255.255.63.100.origin.asn.cymru.com"},
      {"100.64.0.1", nullptr},
      {"100.127.255.255", nullptr},
      {"100.128.0.1", "1.0.128.100.origin.asn.cymru.com"},
      {"127.0.0.1", nullptr},
      {"169.254.1.1", nullptr},
      {"169.253.1.1", "1.1.253.169.origin.asn.cymru.com"},
      {"2001:db8:3::2",
       "2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.3.0.0.0.8.b.d.0.1.0.0.2.origin6.asn.cymru.com"},
      {"2001:DB8::ABCD",
       "d.c.b.a.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.origin6.asn.cymru.com"},
      {"fc00::1", nullptr},
      {"fdff:ffff::1", nullptr},
      {"fe80::1", nullptr},
      {"fe80::1%eth0", nullptr},
      {"febf::1", nullptr},
      {"fec0::1",
       "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.c.e.f.origin6.asn.cymru.com"},
      {"::1", nullptr},
      {"router.example", nullptr},
      {"", nullptr},
      {"1.2.3", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const std::optional<std::string> name = OriginQueryName(c.address);
    ASSERT_EQ(name.has_value(), c.name != nullptr);
    if (name) {
      EXPECT_EQ(*name, c.name);
    }
  }
}

TEST(OriginTxt, FirstAsNumberOfTheFirstField) {
  const struct {
    std::vector<std::string> strings;
    std::optional<uint32_t> as;
  } cases[] = {
      {{"64500 | 192.0.2.0/24 | ZZ | arin | 2001-01-01"}, 64500},
      {{"64500 64501 | 192.0.2.0/24 | ZZ | arin | 2001-01-01"}, 64500},  // several: the first
      {{"  4294967295|2001:db8::/32|ZZ|ripencc|"}, 4294967295u},
      {{"645", "00 64501 | 192.0.2.0/24"}, 64500},  // one text cut into strings
      {{"13335"}, 13335},
      {{}, std::nullopt},    // an empty answer
      {{""}, std::nullopt},  // an empty string
      {{" | 192.0.2.0/24 | ZZ"}, std::nullopt},
      {{"NA | 192.0.2.0/24"}, std::nullopt},
      {{"AS64500 | 192.0.2.0/24"}, std::nullopt},
      {{"64500x | 192.0.2.0/24"}, std::nullopt},
      {{"-64500 | 192.0.2.0/24"}, std::nullopt},
      {{"4294967296 | 192.0.2.0/24"}, std::nullopt},  // over 32 bits
      {{"99999999999999999999999999 | x"}, std::nullopt},
      {{"0 | 192.0.2.0/24"}, std::nullopt},  // AS 0: not routed
      {{"\x01\xff garbage"}, std::nullopt},
      {{std::string(5000, '7')}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.strings.empty() ? std::string("(no string)") : c.strings.front().substr(0, 40));
    EXPECT_EQ(OriginAsOf(c.strings), c.as);
  }
}

}  // namespace
}  // namespace quillon
