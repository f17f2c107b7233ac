// DNS messages of any type: the query's bytes, a reply read into its
// sections (the OPT record's extended response code), names in presentation
// form with their escapes and compression, TXT character-strings, and the
// malformed messages that must be refused rather than read past their end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/dns/dns_message.h"
#include "tests/dns/dns_test_util.h"

namespace quillon {
namespace {

using test::Wire;

std::span<const uint8_t> Bytes(const Wire& w) {
  return {reinterpret_cast<const uint8_t*>(w.bytes.data()), w.bytes.size()};
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

TEST(DnsMessage, QueryBytes) {
  const struct {
    TDnsQuestion q;
    bool edns;
    bool rd;
    std::string hex;
  } cases[] = {
      // RFC 1035 layout: header, the name, type and class; with EDNS an OPT
      // record advertising 1232 (0x04d0) bytes.
      {{"example.com", 16, kDnsClassIN}, true, true,
       "123401000001000000000001" "076578616d706c6503636f6d00" "00100001"
       "0000290" "4d0" "00000000" "0000"},
      {{"example.com.", 1, kDnsClassIN}, false, true,
       "123401000001000000000000" "076578616d706c6503636f6d00" "00010001"},
      {{"version.bind", 16, kDnsClassCH}, false, false,
       "123400000001000000000000" "0776657273696f6e0462696e6400" "00100003"},
      {{"", 2, kDnsClassIN}, false, true, "123401000001000000000000" "00" "00020001"},
      {{".", 2, kDnsClassIN}, false, true, "123401000001000000000000" "00" "00020001"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Hex(BuildDnsQuery(0x1234, c.q, c.edns, 1232, c.rd)), c.hex) << c.q.name;

  const std::string label60(60, 'x');
  for (const std::string& bad :
       {std::string("a..b"), std::string(".a"), std::string(64, 'x') + ".test",
        label60 + "." + label60 + "." + label60 + "." + label60 + "." + label60})
    EXPECT_THROW(BuildDnsQuery(1, {bad, 1, 1}, true), EIdDnsResolverError) << bad;
}

TEST(DnsMessage, ReplySectionsAndExtendedResponseCode) {
  // One question, an answer and an authority record compressed against it,
  // an additional record, and an OPT record whose TTL carries the upper
  // bits of the response code (1 << 4 | 0 = 16, BADVERS).
  Wire w;
  w.header(0xBEEF, 0x8580, 1, 1, 1, 2).name("Example.COM").u16(1).u16(1);
  w.pointer(12).record(1, 1, 300, Wire().u32(0xC6120001));
  w.pointer(12).record(2, 1, 60, Wire().labels("ns").pointer(12));
  w.name("ns.example.com").record(28, 1, 60, Wire().u32(0x20010db8).u32(0).u32(0).u32(1));
  w.u8(0).u16(kDnsTypeOPT).u16(4096).u32(0x01000000).u16(0);
  const TDnsMessage m = ParseDnsMessage(Bytes(w));
  EXPECT_EQ(m.id, 0xBEEF);
  EXPECT_EQ(m.flags, 0x8580);
  EXPECT_FALSE(m.Truncated());
  EXPECT_TRUE(m.hasEdns);
  EXPECT_EQ(m.ednsUdpSize, 4096);
  EXPECT_EQ(m.rcode, 16);
  ASSERT_EQ(m.questions.size(), 1u);
  EXPECT_EQ(m.questions[0].name, "Example.COM");
  ASSERT_EQ(m.answers.size(), 1u);
  EXPECT_EQ(m.answers[0].owner, "Example.COM");
  EXPECT_EQ(m.answers[0].ttl, 300u);
  EXPECT_EQ(m.answers[0].rdataLength, 4);
  ASSERT_EQ(m.authority.size(), 1u);
  size_t at = m.authority[0].rdataOffset;
  EXPECT_EQ(ReadDnsName(m, at), "ns.Example.COM");
  EXPECT_EQ(at, m.authority[0].rdataOffset + m.authority[0].rdataLength);
  ASSERT_EQ(m.additional.size(), 1u);  // the OPT record is taken out
  EXPECT_EQ(m.additional[0].type, 28);

  Wire tc;
  tc.header(1, 0x8383, 0, 0, 0, 0);
  const TDnsMessage t = ParseDnsMessage(Bytes(tc));
  EXPECT_TRUE(t.Truncated());
  EXPECT_EQ(t.rcode, kDnsNxDomain);
  EXPECT_FALSE(t.hasEdns);
}

TEST(DnsMessage, NamesInPresentationForm) {
  const struct {
    Wire name;
    std::string text;
  } cases[] = {
      {Wire().u8(0), ""},
      {Wire().name("a.b"), "a.b"},
      // Characters that mean something in a zone file get a backslash,
      // bytes outside 0x21-0x7E become \DDD.
      {Wire().u8(3).raw("a.b").u8(0), "a\\.b"},
      {Wire().u8(8).raw("\"();\\@$x").u8(0), "\\\"\\(\\)\\;\\\\\\@\\$x"},
      {Wire().u8(4).raw(std::string("a b\x7f", 4)).u8(1).u8(0xFF).u8(0), "a\\032b\\127.\\255"},
      {Wire().u8(1).u8(0).u8(0), "\\000"},
      {Wire().u8(2).raw("*-").u8(0), "*-"},
  };
  for (const auto& c : cases) {
    size_t p = 0;
    const std::string got = ReadDnsName(Bytes(c.name), p);
    EXPECT_EQ(got, c.text);
    EXPECT_EQ(p, c.name.size()) << c.text;
  }
  // Wire form for comparisons: uncompressed, case kept.
  Wire w = Wire().name("Mail.Test");
  const size_t pointerAt = w.size();
  w.labels("x").pointer(0);
  size_t p = pointerAt;
  EXPECT_EQ(ReadDnsWireName(Bytes(w), p), std::string("\1x\4Mail\4Test\0", 13));
  EXPECT_EQ(p, w.size());
}

TEST(DnsMessage, MalformedMessagesAreRefused) {
  const auto withAnswer = [](const Wire& rest) {
    Wire w;
    w.header(1, 0x8180, 0, 1, 0, 0).raw(rest.bytes);
    return w;
  };
  Wire longName;
  longName.header(1, 0x8180, 1, 0, 0, 0);
  for (int i = 0; i < 5; ++i) longName.u8(60).raw(std::string(60, 'a'));
  longName.u8(0).u16(1).u16(1);
  const Wire cases[] = {
      Wire().raw("short"),
      Wire().header(1, 0x8180, 0, 200, 0, 0),                       // counts past the end
      withAnswer(Wire().u8(0).u16(1).u16(1).u32(0).u16(5).u32(1)),  // rdata past the end
      withAnswer(Wire().u8(0).u16(1).u16(1).u32(0)),                // fixed fields cut
      withAnswer(Wire().pointer(12).u16(1).u16(1).u32(0).u16(0)),   // pointer to itself
      withAnswer(Wire().pointer(40).u16(1).u16(1).u32(0).u16(0)),   // pointer forwards
      withAnswer(Wire().u8(64).raw(std::string(64, 'a')).u8(0).u16(1).u16(1).u32(0).u16(0)),
      withAnswer(Wire().u8(5).raw("abc")),  // label past the end
      longName,                             // 306 bytes of name
      // Two OPT records: which response code and payload size hold is unknown.
      Wire().header(1, 0x8180, 0, 0, 0, 2).u8(0).u16(kDnsTypeOPT).u16(4096).u32(0).u16(0)
          .u8(0).u16(kDnsTypeOPT).u16(512).u32(0x01000000).u16(0),
  };
  for (const Wire& c : cases) EXPECT_THROW(ParseDnsMessage(Bytes(c)), EDnsMalformedMessage);

  // A loop of two pointers: each points at the other.
  Wire loop;
  loop.header(1, 0x8180, 1, 0, 0, 0).pointer(14).pointer(12).u16(1).u16(1);
  EXPECT_THROW(ParseDnsMessage(Bytes(loop)), EDnsMalformedMessage);
}

TEST(DnsMessage, TxtCharacterStrings) {
  const struct {
    Wire rdata;
    std::vector<std::string> strings;
    bool malformed;
  } cases[] = {
      {Wire().u8(1).raw("a").u8(2).raw("bc"), {"a", "bc"}, false},
      {Wire().u8(0), {""}, false},
      {Wire().u8(0).u8(0), {"", ""}, false},
      {Wire().u8(200).raw(std::string(200, 'z')), {std::string(200, 'z')}, false},
      {Wire().u8(3).raw("ab"), {}, true},  // runs past the rdata
  };
  for (const auto& c : cases) {
    Wire w;
    w.header(1, 0x8180, 0, 1, 0, 0).u8(0).record(16, 1, 0, c.rdata);
    // A byte after the record, so a string running past the rdata would
    // still lie inside the message.
    w.u8('!');
    const TDnsMessage m = ParseDnsMessage(Bytes(w));
    if (c.malformed) {
      EXPECT_THROW(DnsTxtStrings(m, m.answers[0]), EDnsMalformedMessage);
    } else {
      EXPECT_EQ(DnsTxtStrings(m, m.answers[0]), c.strings);
    }
  }
}

}  // namespace
}  // namespace quillon
