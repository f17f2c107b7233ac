// Records as dig prints them: the data field of every type from its wire
// form (the RFCs' own examples, dig's output for the same records, and
// hostile rdata that falls back to the \# form), dig's columns, and the
// names of types, classes, response codes and flags.
#include <gtest/gtest.h>

#include <string>

#include "net/dns/dns_presentation.h"
#include "tests/dns/dns_test_util.h"

namespace quillon {
namespace {

using test::Wire;

// One answer of `type` with `rdata` for the owner "rr.test" (offset 12).
std::string Present(int type, const Wire& rdata) {
  Wire w;
  w.header(1, 0x8180, 0, 1, 0, 0).name("rr.test").u16(type).u16(1).u32(300);
  w.u16(static_cast<int>(rdata.size())).raw(rdata.bytes);
  const TDnsMessage m = ParseDnsMessage(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(w.bytes.data()), w.size()));
  return DnsRdataText(m, m.answers.at(0));
}

Wire Ip6(std::initializer_list<int> groups) {
  Wire w;
  for (int g : groups) w.u16(g);
  return w;
}

Wire Bytes(size_t n, int value) {
  return Wire().raw(std::string(n, static_cast<char>(value)));
}

TEST(DnsPresentation, DataFieldOfEveryType) {
  const Wire fooName = Wire().name("foo.example.com");
  const struct {
    int type;
    Wire rdata;
    std::string text;
  } cases[] = {
      {1, Wire().u32(0xC6120001), "198.18.0.1"},
      {28, Ip6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}), "2001:db8::1"},
      {28, Ip6({0, 0, 0, 0, 0, 0xffff, 0xc612, 1}), "::ffff:198.18.0.1"},
      {28, Ip6({0, 0, 0, 0, 0, 0, 0xc612, 1}), "::198.18.0.1"},
      {28, Ip6({0x2001, 0xdb8, 0, 1, 0, 0, 0, 1}), "2001:db8:0:1::1"},
      {28, Ip6({0x2001, 0, 0, 1, 0, 0, 0, 0}), "2001:0:0:1::"},
      {28, Ip6({0, 0, 0, 0, 0, 0, 0, 0}), "::"},
      {28, Ip6({0, 0, 0, 0, 0, 0, 0, 2}), "::2"},
      {28, Ip6({0, 0, 0, 0, 0, 0xffff, 0, 1}), "::ffff:0.0.0.1"},
      {28, Ip6({1, 0, 0, 0, 0, 0, 0, 0}), "1::"},
      {2, Wire().name("ns1.rr.test"), "ns1.rr.test."},
      {5, Wire().labels("a").pointer(12), "a.rr.test."},
      {12, Wire().u8(0), "."},
      {12, Wire().u8(4).raw("sp.c").u8(3).raw("x y").pointer(12), "sp\\.c.x\\032y.rr.test."},
      {39, Wire().name("a.rr.test"), "a.rr.test."},
      {6, Wire().labels("ns1").pointer(12).labels("hostmaster").pointer(12)
              .u32(2024010101).u32(3600).u32(900).u32(604800).u32(86400),
       "ns1.rr.test. hostmaster.rr.test. 2024010101 3600 900 604800 86400"},
      {15, Wire().u16(10).name("mail.rr.test"), "10 mail.rr.test."},
      {15, Wire().u16(0).u8(0), "0 ."},
      // TXT: " and \ escaped, bytes outside printable ASCII as \DDD, ";"
      // and blanks as they are, an empty string as "".
      {16, Wire().u8(5).raw("hello").u8(5).raw("world").u8(3).raw("a;b"),
       "\"hello\" \"world\" \"a;b\""},
      {16, Wire().u8(12).raw(std::string("q\"b\\s\0\1\x7f\x80\xff x", 12)).u8(0),
       "\"q\\\"b\\\\s\\000\\001\\127\\128\\255 x\" \"\""},
      {16, Wire().u8(0), "\"\""},
      {16, Wire().u8(8).raw("tab\there").u8(4).raw("\xc3\xa9\xc3\xa9"),
       "\"tab\\009here\" \"\\195\\169\\195\\169\""},
      {99, Wire().u8(11).raw("v=spf1 -all"), "\"v=spf1 -all\""},
      {13, Wire().u8(2).raw("PC").u8(5).raw("Linux"), "\"PC\" \"Linux\""},
      {33, Wire().u16(10).u16(60).u16(5060).name("sip.rr.test"), "10 60 5060 sip.rr.test."},
      {33, Wire().u16(0).u16(0).u16(0).u8(0), "0 0 0 ."},
      // RFC 3403 examples.
      {35, Wire().u16(100).u16(10).u8(1).raw("S").u8(7).raw("SIP+D2U").u8(0)
               .name("_sip._udp.rr.test"),
       "100 10 \"S\" \"SIP+D2U\" \"\" _sip._udp.rr.test."},
      {35, Wire().u16(100).u16(50).u8(1).raw("a").u8(13).raw("z3950+N2L+N2C").u8(33)
               .raw("!^urn:cid:.+@([^\\.]+\\.)(.*)$!\\2!i").u8(0),
       "100 50 \"a\" \"z3950+N2L+N2C\" \"!^urn:cid:.+@([^\\\\.]+\\\\.)(.*)$!\\\\2!i\" ."},
      // RFC 8659: flags, tag, value.
      {257, Wire().u8(0).u8(5).raw("issue").raw("ca.example.net"), "0 issue \"ca.example.net\""},
      {257, Wire().u8(128).u8(3).raw("tag").raw("a\"b\\c d;e\x07"),
       "128 tag \"a\\\"b\\\\c d;e\\007\""},
      {257, Wire().u8(0).u8(5).raw("issue"), "0 issue \"\""},
      // RFC 4034 5.4's DS; a SHA-256 digest is cut after 56 digits as dig does.
      {43, Wire().u16(60485).u8(5).u8(1).raw("\x2b\xb1\x83\xaf\x5f\x22\x58\x81\x79\xa5"
                                              "\x3b\x0a\x98\x63\x1f\xad\x1a\x29\x21\x18"),
       "60485 5 1 2BB183AF5F22588179A53B0A98631FAD1A292118"},
      {43, Wire().u16(2371).u8(13).u8(2).raw(Bytes(32, 0xC9).bytes),
       "2371 13 2 C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9C9 C9C9C9C9"},
      {44, Wire().u8(1).u8(1).raw(Bytes(20, 0xDE).bytes),
       "1 1 DEDEDEDEDEDEDEDEDEDEDEDEDEDEDEDEDEDEDEDE"},
      {52, Wire().u8(3).u8(1).u8(1).raw(Bytes(32, 0x0D).bytes),
       "3 1 1 0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D0D 0D0D0D0D"},
      // DNSKEY: base64 (RFC 4648's vectors), cut after 56 characters.
      {48, Wire().u16(257).u8(3).u8(13).raw("foobar"), "257 3 13 Zm9vYmFy"},
      {48, Wire().u16(256).u8(3).u8(8).raw("fo"), "256 3 8 Zm8="},
      {48, Wire().u16(256).u8(3).u8(8).raw("f"), "256 3 8 Zg=="},
      {48, Wire().u16(256).u8(3).u8(8).raw(Bytes(60, 0xFF).bytes),
       "256 3 8 " + std::string(56, '/') + " " + std::string(24, '/')},
      // SVCB and HTTPS: RFC 9460 appendix D's vectors, as dig shows them.
      {64, Wire().u16(0).name("foo.example.com"), "0 foo.example.com."},
      {64, Wire().u16(1).u8(0), "1 ."},
      {64, Wire().u16(16).raw(fooName.bytes).u16(3).u16(2).u16(53), "16 foo.example.com. port=53"},
      {64, Wire().u16(1).raw(fooName.bytes).u16(667).u16(5).raw("hello"),
       "1 foo.example.com. key667=\"hello\""},
      {64, Wire().u16(1).raw(fooName.bytes).u16(667).u16(9).raw("hello\xd2qoo"),
       "1 foo.example.com. key667=\"hello\\210qoo\""},
      {64, Wire().u16(1).raw(fooName.bytes).u16(6).u16(32)
               .raw(Ip6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}).bytes)
               .raw(Ip6({0x2001, 0xdb8, 0, 0, 0, 0, 0x53, 1}).bytes),
       "1 foo.example.com. ipv6hint=2001:db8::1,2001:db8::53:1"},
      {64, Wire().u16(1).name("example.com").u16(6).u16(16)
               .raw(Ip6({0, 0, 0, 0, 0, 0xffff, 0xc633, 0x6464}).bytes),
       "1 example.com. ipv6hint=::ffff:198.51.100.100"},
      {64, Wire().u16(16).raw(fooName.bytes).u16(0).u16(4).u16(1).u16(4)
               .u16(1).u16(9).u8(2).raw("h2").u8(5).raw("h3-19").u16(4).u16(4).u32(0xC0000201),
       "16 foo.example.com. mandatory=alpn,ipv4hint alpn=\"h2,h3-19\" ipv4hint=192.0.2.1"},
      {64, Wire().u16(16).raw(fooName.bytes).u16(1).u16(12).u8(8).raw("f\\oo,bar").u8(2).raw("h2"),
       "16 foo.example.com. alpn=\"f\\\\\\\\oo\\\\,bar,h2\""},
      {65, Wire().u16(1).u8(0).u16(2).u16(0).u16(5).u16(3).u8(0).u8(0x45).u8(0xfe).u16(65001).u16(0),
       "1 . no-default-alpn ech=AEX+ key65001"},
      {65, Wire().u16(2).u8(0).u16(7).u16(16).raw("/dns-query{?dns}"),
       "2 . key7=\"/dns-query{?dns}\""},
      // RFC 3597 for types without a format, and for every hostile rdata.
      {65280, Wire().u32(0x0A000001), "\\# 4 0A000001"},
      {65281, Wire(), "\\# 0"},
      {1, Wire().u8(198).u8(18).u8(0), "\\# 3 C61200"},
      {28, Wire().u32(1), "\\# 4 00000001"},
      {15, Wire().u16(10).u8(4).raw("ma"), "\\# 5 000A046D61"},      // name past the end
      {15, Wire().u16(10).u8(0).u8(7), "\\# 4 000A0007"},            // a byte left over
      {2, Wire().pointer(40), "\\# 2 C028"},                        // pointer forwards
      {16, Wire().u8(3).raw("ab"), "\\# 3 036162"},                  // string past the end
      {16, Wire(), "\\# 0"},                                         // no string at all
      {257, Wire().u8(0).u8(2).raw("i-x"), "\\# 5 0002692D78"},      // tag not alphanumeric
      {64, Wire().u16(1).u8(0).u16(3).u16(3).raw("abc"), "\\# 10 0001000003000361" "6263"},
      {64, Wire().u16(1).u8(0).u16(9).u16(8).u8(1), "\\# 8 0001000009000801"},  // value cut
      {43, Wire().u16(1).u8(8).u8(2), "\\# 4 00010802"},             // no digest
  };
  for (const auto& c : cases) EXPECT_EQ(Present(c.type, c.rdata), c.text) << c.type;
}

TEST(DnsPresentation, LinesKeepDigsColumns) {
  const struct {
    std::string owner;
    uint32_t ttl;
    std::string type;
    std::string line;
  } cases[] = {
      {"a.rr.test.", 300, "A", "a.rr.test.\t\t300\tIN\tA\tX"},
      {"a234567890.rr.test.", 300, "A", "a234567890.rr.test.\t300\tIN\tA\tX"},
      {"a23456789012345.rr.test.", 300, "A", "a23456789012345.rr.test. 300\tIN\tA\tX"},
      {"averyveryveryverylongownername.rr.test.", 300, "A",
       "averyveryveryverylongownername.rr.test.\t300 IN A X"},
      {"ttl.rr.test.", 2147483647, "A", "ttl.rr.test.\t\t2147483647 IN\tA\tX"},
      {"ttl.rr.test.", 0, "TXT", "ttl.rr.test.\t\t0\tIN\tTXT\tX"},
      {"unk.rr.test.", 300, "TYPE65280", "unk.rr.test.\t\t300\tIN\tTYPE65280 X"},
      {".", 5, "NS", ".\t\t\t5\tIN\tNS\tX"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DnsRecordLine(c.owner, c.ttl, "IN", c.type, "X"), c.line) << c.owner;
}

TEST(DnsPresentation, NamesOfTypesClassesCodesAndFlags) {
  const struct {
    std::string text;
    std::optional<uint16_t> type;
  } asked[] = {
      {"a", 1},          {"AAAA", 28},      {"Caa", 257},       {"cname", 5},
      {"DNSKEY", 48},    {"ds", 43},        {"https", 65},      {"MX", 15},
      {"naptr", 35},     {"ns", 2},         {"PTR", 12},        {"soa", 6},
      {"srv", 33},       {"sshfp", 44},     {"svcb", 64},       {"tlsa", 52},
      {"txt", 16},       {"TYPE65280", 65280}, {"type0", 0},    {"TYPE65535", 65535},
      {"TYPE65536", {}}, {"TYPE", {}},      {"TYPE-1", {}},     {"TYPE+1", {}},
      {"TYPE1x", {}},    {"TYPE0000001", {}}, {"spf", {}},      {"AXFR", {}},
      {"", {}},          {"mx ", {}},
  };
  for (const auto& c : asked) EXPECT_EQ(DnsTypeFromText(c.text), c.type) << c.text;
  EXPECT_EQ(DnsTypeName(39), "DNAME");
  EXPECT_EQ(DnsTypeName(46), "TYPE46");
  EXPECT_EQ(DnsClassName(1), "IN");
  EXPECT_EQ(DnsClassName(3), "CH");
  EXPECT_EQ(DnsClassName(7), "CLASS7");
  EXPECT_EQ(DnsRcodeName(0), "NOERROR");
  EXPECT_EQ(DnsRcodeName(3), "NXDOMAIN");
  EXPECT_EQ(DnsRcodeName(5), "REFUSED");
  EXPECT_EQ(DnsRcodeName(16), "BADVERS");
  EXPECT_EQ(DnsRcodeName(4000), "RCODE4000");
  EXPECT_EQ(DnsFlagNames(0x8580), (std::vector<std::string>{"qr", "aa", "rd", "ra"}));
  EXPECT_EQ(DnsFlagNames(0x83B0), (std::vector<std::string>{"qr", "tc", "rd", "ra", "ad", "cd"}));
}

}  // namespace
}  // namespace quillon
