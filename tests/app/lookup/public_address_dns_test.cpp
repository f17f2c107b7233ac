// The DNS public-address sources: each kind's reading of hostile answers
// (two TXT strings, quotes, two A records, CH answered as IN, truncated, an
// IPv6 text, HTML, another name), and the question as it leaves, to a fake
// server on loopback that answers, stays silent or is not there.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>

#include "app/lookup/public_address_ask.h"
#include "net/dns/dns_message.h"
#include "tests/app/support/fake_servers.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Be16;
using test::Be32;

std::string Txt(const std::vector<std::string>& strings) {
  std::string rdata;
  for (const auto& s : strings) rdata += static_cast<char>(s.size()) + s;
  return rdata;
}
std::string Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)};
}
// A record owned by the question's name (offset 12) or by `owner`.
std::string Record(uint16_t type, uint16_t rclass, const std::string& rdata,
                   const std::string& owner = "") {
  return (owner.empty() ? std::string("\xC0\x0C", 2) : test::DnsName(owner)) + Be16(type) +
         Be16(rclass) + Be32(60) + Be16(static_cast<uint16_t>(rdata.size())) + rdata;
}

TPublicAddressSource Source(const std::string& entry) {
  auto sources = ParsePublicAddressSources(entry, nullptr);
  EXPECT_EQ(sources.size(), 1u) << entry;
  return sources.empty() ? TPublicAddressSource{} : sources[0];
}

TEST(PublicAddressDnsSource, EachKindReadsHostileAnswersStrictly) {
  const std::string a = "dns:myip.opendns.com@resolver1.opendns.com";
  const std::string txt = "dns-txt:o-o.myaddr.l.google.com@ns1.google.com";
  const std::string chaos = "dns-chaos:whoami.cloudflare@1.1.1.1";
  const uint16_t A = kDnsTypeA, TXT = kDnsTypeTXT, IN = kDnsClassIN, CH = kDnsClassCH;
  const std::string ip = Ipv4(198, 51, 100, 7);
  struct Case {
    const char* name;
    std::string source;
    std::vector<std::string> answers;
    TSourceReading reading;
    int rcode = 0;
    uint16_t extraFlags = 0;
  };
  const Case cases[] = {
      {"A", a, {Record(A, IN, ip)}, {"198.51.100.7", ""}},
      {"the same A twice", a, {Record(A, IN, ip), Record(A, IN, ip)}, {"198.51.100.7", ""}},
      {"two A records", a, {Record(A, IN, ip), Record(A, IN, Ipv4(203, 0, 113, 9))},
       {"", "several addresses in the answer"}},
      {"A of another name", a, {Record(A, IN, ip, "myip.opendns.com.evil.example")},
       {"", "no A record for myip.opendns.com"}},
      {"A with 16 bytes", a, {Record(A, IN, std::string(16, '\x01'))}, {"", "not an IPv4 address"}},
      {"a TXT to an A question", a, {Record(TXT, IN, Txt({"198.51.100.7"}))},
       {"", "no A record for myip.opendns.com"}},
      {"no answer", a, {}, {"", "no A record for myip.opendns.com"}},
      {"NXDOMAIN", a, {}, {"", "DNS status NXDOMAIN"}, kDnsNxDomain},
      {"REFUSED", a, {Record(A, IN, ip)}, {"", "DNS status REFUSED"}, kDnsRefused},
      {"truncated", a, {Record(A, IN, ip)}, {"", "truncated answer"}, 0, kDnsFlagTC},
      {"TXT", txt, {Record(TXT, IN, Txt({"198.51.100.7"}))}, {"198.51.100.7", ""}},
      {"TXT with its line end", txt, {Record(TXT, IN, Txt({"198.51.100.7\n"}))},
       {"198.51.100.7", ""}},
      {"two TXT strings", txt, {Record(TXT, IN, Txt({"198.51.100.7", "203.0.113.9"}))},
       {"", "not an IPv4 address"}},
      {"an address split in two strings", txt, {Record(TXT, IN, Txt({"198.51.", "100.7"}))},
       {"", "not an IPv4 address"}},
      {"quotes", txt, {Record(TXT, IN, Txt({"\"198.51.100.7\""}))}, {"", "not an IPv4 address"}},
      {"an IPv6 text", txt, {Record(TXT, IN, Txt({"2001:db8::7"}))}, {"", "not an IPv4 address"}},
      {"HTML", txt, {Record(TXT, IN, Txt({"<html><body>login</body></html>"}))},
       {"", "not an IPv4 address"}},
      {"an empty string", txt, {Record(TXT, IN, Txt({""}))}, {"", "not an IPv4 address"}},
      {"beside a client-subnet note", txt,
       {Record(TXT, IN, Txt({"198.51.100.7"})),
        Record(TXT, IN, Txt({"edns0-client-subnet 198.51.100.0/24"}))},
       {"198.51.100.7", ""}},
      {"two TXT records that disagree", txt,
       {Record(TXT, IN, Txt({"198.51.100.7"})), Record(TXT, IN, Txt({"203.0.113.9"}))},
       {"", "several addresses in the answer"}},
      {"a string running past its record", txt, {Record(TXT, IN, "\x20" "198.51.100.7")},
       {"", "malformed answer"}},
      {"CH TXT", chaos, {Record(TXT, CH, Txt({"198.51.100.7"}))}, {"198.51.100.7", ""}},
      {"CH answered as IN", chaos, {Record(TXT, IN, Txt({"198.51.100.7"}))},
       {"", "answer of another class"}},
      {"CH of another name", chaos, {Record(TXT, CH, Txt({"198.51.100.7"}), "id.server")},
       {"", "no TXT record for whoami.cloudflare"}},
  };
  for (const Case& c : cases) {
    const TDnsQuestion question = PublicAddressQuestion(Source(c.source));
    const auto query = BuildDnsQuery(0x1234, question, true);
    std::string reply = test::DnsReply(std::string(query.begin(), query.end()), c.rcode, c.answers);
    reply[2] = static_cast<char>(reply[2] | (c.extraFlags >> 8));
    const std::vector<uint8_t> bytes(reply.begin(), reply.end());
    const TSourceReading reading = ReadPublicAddressAnswer(ParseDnsMessage(bytes), question);
    EXPECT_EQ(reading.address, c.reading.address) << c.name;
    EXPECT_EQ(reading.error, c.reading.error) << c.name;
  }
}

TEST(PublicAddressDnsSource, AsksTheServerTheQuestionOfItsKind) {
  struct Case {
    const char* kind;
    uint16_t type;
    uint16_t qclass;
    std::string answer;
  };
  const Case cases[] = {
      {"dns", kDnsTypeA, kDnsClassIN, Record(kDnsTypeA, kDnsClassIN, Ipv4(198, 51, 100, 7))},
      {"dns-txt", kDnsTypeTXT, kDnsClassIN,
       Record(kDnsTypeTXT, kDnsClassIN, Txt({"198.51.100.7"}))},
      {"dns-chaos", kDnsTypeTXT, kDnsClassCH,
       Record(kDnsTypeTXT, kDnsClassCH, Txt({"198.51.100.7"}))},
  };
  for (const Case& c : cases) {
    std::mutex lock;
    std::string seen;
    test::FakeDnsServer server([&](const std::string& query) {
      std::lock_guard guard(lock);
      seen = query;
      return test::DnsReply(query, 0, {c.answer});
    });
    TSourceControl control(Clock::now() + 2s);
    const TPublicAddressSource source = Source(std::string(c.kind) + ":Who.Example.@127.0.0.1:" +
                                               std::to_string(server.port()));
    const TSourceReading reading = AskDnsSource(source, control);
    EXPECT_EQ(reading.address, "198.51.100.7") << c.kind << ": " << reading.error;
    std::lock_guard guard(lock);
    const TDnsMessage query = ParseDnsMessage(std::vector<uint8_t>(seen.begin(), seen.end()));
    ASSERT_EQ(query.questions.size(), 1u) << c.kind;
    EXPECT_EQ(query.questions[0].name, "who.example") << c.kind;
    EXPECT_EQ(query.questions[0].type, c.type) << c.kind;
    EXPECT_EQ(query.questions[0].qclass, c.qclass) << c.kind;
  }
}

TEST(PublicAddressDnsSource, SilentAbsentAndStopped) {
  test::FakeDnsServer silent([](const std::string&) { return std::string(); });
  const TPublicAddressSource source =
      Source("dns:myip.example@127.0.0.1:" + std::to_string(silent.port()));
  {
    TSourceControl control(Clock::now() + 400ms);
    const auto start = Clock::now();
    EXPECT_EQ(AskDnsSource(source, control).error, kNoAnswerInTime);
    EXPECT_LT(Clock::now() - start, 700ms);
    EXPECT_EQ(silent.queries(), 2);  // two tries within the time
  }
  {
    TSourceControl control(Clock::now() + 5s);
    auto asked = std::async(std::launch::async, [&] { return AskDnsSource(source, control); });
    ASSERT_EQ(asked.wait_for(200ms), std::future_status::timeout);
    const auto start = Clock::now();
    control.Stop();
    ASSERT_EQ(asked.wait_for(1s), std::future_status::ready);
    EXPECT_LT(Clock::now() - start, 300ms);
    EXPECT_EQ(asked.get().error, kNoAnswerInTime);
  }
  {
    // Nothing listens: the port is refused at once.
    TSourceControl control(Clock::now() + 2s);
    const auto start = Clock::now();
    const TSourceReading reading =
        AskDnsSource(Source("dns:myip.example@127.0.0.1:" + std::to_string(test::FreePort(true))),
                     control);
    EXPECT_EQ(reading.address, "");
    EXPECT_NE(reading.error, kNoAnswerInTime);
    EXPECT_LT(Clock::now() - start, 1s) << reading.error;
  }
}

}  // namespace
}  // namespace quillon
