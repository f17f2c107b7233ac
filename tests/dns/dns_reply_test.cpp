// Replies checked and decoded from hand-built bytes: the order of the checks,
// every record class, compressed names, and hostile replies that must be
// refused without reading past their end.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "net/dns/dns_error.h"
#include "net/dns/dns_names.h"
#include "net/dns/resolver.h"
#include "net/socket/exceptions.h"
#include "tests/dns/dns_test_util.h"

namespace quillon {
namespace {

using test::ReplyStart;
using test::Wire;

const char* const kMalformed = "Taille de paquet incorrecte 3";

// Offset of the RDATA of the first record after the 29-byte start.
constexpr int kChainAt = 29 + 2 + 10;

// A reply whose first record (an unknown TYPE) carries `chain` as its RDATA
// at kChainAt, then an A record whose owner is a pointer to `ownerAt`.
Wire WithChain(const Wire& chain, int ownerAt) {
  Wire w = ReplyStart(2);
  w.pointer(12).record(99, 1, 1, chain);
  w.pointer(ownerAt).record(1, 1, 1, Wire().u32(0x7F000001));
  return w;
}

// The root name's 0 byte followed by `count` pointers, each to the one
// before it (the first to the 0 byte).
Wire PointerChain(int count) {
  Wire chain;
  chain.u8(0);
  int previous = kChainAt;
  for (int i = 0; i < count; ++i) {
    const int here = kChainAt + static_cast<int>(chain.size());
    chain.pointer(previous);
    previous = here;
  }
  return chain;
}

class ReplyTest : public ::testing::Test {
 protected:
  ReplyTest() {
    resolver_.Header().MessageId = 0x1234;
    resolver_.QueryRecords = {qtMX};
    resolver_.BuildQuery("example.com");  // 29 bytes
  }
  std::string ErrorOf(const std::string& reply) {
    try {
      resolver_.ParseReply(reply);
    } catch (const EIdDnsResolverError& e) {
      return e.message();
    }
    return "(accepted)";
  }
  const TQueryResult& R() { return resolver_.Results(); }
  template <class T>
  const T& As(int i) {
    const T* r = dynamic_cast<const T*>(&R()[i]);
    if (!r) throw std::runtime_error("record " + std::to_string(i) + " has the wrong class");
    return *r;
  }
  TIdDNSResolver resolver_;
};

TEST_F(ReplyTest, ChecksComeInOrderWithTheirTexts) {
  struct Case {
    std::string reply;
    std::string message;
  };
  const std::string trop = "Le paquet reçu est trop petit (inférieur à 12 octets %d)";
  std::vector<Case> cases = {
      {"", "Expiré (TimedOut)"},
      {std::string("\x12\x34\x81\x80", 4), "Expiré (TimedOut)"},
      // The expected ID is named, never the reply's.
      {Wire().header(0x9999, 0x8180, 1, 1, 0, 0).bytes, "ID d'en-tête incorrect 4660"},
      {Wire().u16(0x1234).u16(0x8180).u8(0).bytes,
       "Le paquet reçu est trop petit (inférieur à 12 octets 29)"},
      {Wire().header(0x1234, 0x8180, 1, 0, 0, 0).bytes,
       "Le paquet reçu est trop petit (inférieur à 12 octets 30)"},
      {ReplyStart(0).bytes.substr(0, 28),
       "Le paquet reçu est trop petit (inférieur à 12 octets 30)"},
  };
  const char* rcodes[] = {nullptr,
                          "Le serveur DNS signale une erreur de format de requête",
                          "Le serveur DNS signale une erreur de serveur de requête",
                          "Le serveur DNS signale une erreur de nom de requête",
                          "Le serveur DNS signale une erreur de requête non implémentée",
                          "Le serveur DNS signale une erreur de requête refusée"};
  for (int rcode = 1; rcode < 16; ++rcode) {
    const std::string text = rcode < 6 ? rcodes[rcode] : "Le serveur a renvoyé une erreur inconnue";
    // RCODE is looked at before the length: 8 bytes are enough.
    cases.push_back({Wire().u16(0x1234).u16(0x8180 | rcode).u16(1).u16(0).bytes, text});
    cases.push_back({ReplyStart(0, 0, 0, 0x1234, 0x8180 | rcode).bytes, text});
  }
  // A wrong ID wins over a failure code.
  cases.push_back({Wire().header(0x1235, 0x8183, 1, 0, 0, 0).bytes, "ID d'en-tête incorrect 4660"});
  for (const Case& c : cases)
    EXPECT_EQ(ErrorOf(c.reply), c.message) << testing::PrintToString(c.reply);
}

TEST_F(ReplyTest, AReplyThatFailsLeavesTheEarlierResults) {
  Wire ok = ReplyStart(1);
  ok.pointer(12).record(15, 1, 60, Wire().u16(10).pointer(12));
  resolver_.ParseReply(ok.bytes);
  ASSERT_EQ(R().Count(), 1);
  for (const std::string& bad :
       {Wire().header(0x1234, 0x8183, 1, 0, 0, 0).bytes, ok.bytes.substr(0, ok.size() - 1)}) {
    EXPECT_NE(ErrorOf(bad), "(accepted)");
    ASSERT_EQ(R().Count(), 1);
    EXPECT_EQ(As<TMXRecord>(0).Exchange, "example.com");
  }
  // No record at all: emptied, the question kept from before.
  Wire none = Wire().header(0x1234, 0x8180, 1, 0, 0, 0);
  none.name("another.org").u16(1).u16(1);
  resolver_.ParseReply(none.bytes);
  EXPECT_EQ(R().Count(), 0);
  EXPECT_EQ(R().QuestionName, "example.com");
  EXPECT_EQ(R().QuestionType, 15);
  EXPECT_EQ(resolver_.Header().QuestionCount, 1);
}

TEST_F(ReplyTest, MxRecordsWithPointersAndCommonFields) {
  Wire w = ReplyStart(2, 0, 1);
  w.pointer(12).record(15, 1, 3600, Wire().u16(10).pointer(12));
  const int mail = static_cast<int>(w.size()) + 12 + 2;  // where "mail" starts
  w.pointer(12).record(15, 1, 0xFFFFFFFF, Wire().u16(20).labels("mail").pointer(12));
  w.labels("x").pointer(mail).record(1, 1, 5, Wire().u8(192).u8(0).u8(2).u8(1));
  resolver_.ParseReply(w.bytes);

  EXPECT_EQ(R().QuestionName, "example.com");
  EXPECT_EQ(R().QuestionType, 15);
  EXPECT_EQ(R().QuestionClass, 1);
  ASSERT_EQ(R().Count(), 3);
  const auto& first = As<TMXRecord>(0);
  EXPECT_EQ(first.Kind, qtMX);
  EXPECT_EQ(first.MxPreference, 10);
  EXPECT_EQ(first.Exchange, "example.com");
  EXPECT_EQ(first.OwnerName, "example.com");
  EXPECT_EQ(first.ClassCode, 1);
  EXPECT_EQ(first.TtlSeconds, 3600u);
  EXPECT_EQ(first.RawDataLength, 4);
  EXPECT_EQ(first.RawData, std::string("\x00\x0A\xC0\x0C", 4));
  EXPECT_EQ(As<TMXRecord>(1).Exchange, "mail.example.com");
  EXPECT_EQ(As<TMXRecord>(1).TtlSeconds, 0xFFFFFFFFu);
  // A name of labels followed by a pointer to labels followed by a pointer.
  EXPECT_EQ(As<TARecord>(2).OwnerName, "x.mail.example.com");
  EXPECT_EQ(As<TARecord>(2).AddressText, "192.0.2.1");
  EXPECT_EQ(As<TARecord>(2).Kind, qtA);
}

TEST_F(ReplyTest, EveryRecordClassReadsItsRdata) {
  Wire w = ReplyStart(12);
  w.pointer(12).record(2, 1, 1, Wire().labels("ns1").pointer(12));
  w.pointer(12).record(12, 1, 1, Wire().name("host.example.net"));
  w.pointer(12).record(5, 1, 1, Wire().pointer(12));
  w.pointer(12).record(6, 1, 1,
                       Wire()
                           .labels("ns")
                           .pointer(12)
                           .labels("admin")
                           .pointer(12)
                           .u32(2024010101)
                           .u32(3600)
                           .u32(900)
                           .u32(604800)
                           .u32(86400));
  w.pointer(12).record(16, 1, 1, Wire().u8(1).raw("a").u8(2).raw("bc"));
  w.pointer(12).record(16, 1, 1, Wire().u8(0).u8(1).raw("z"));
  w.pointer(12).record(16, 1, 1, Wire().u8(200).raw(std::string(200, 't')));
  w.pointer(12).record(13, 1, 1, Wire().u8(3).raw("ARM").u8(5).raw("Linux"));
  w.pointer(12).record(14, 1, 1, Wire().labels("boss").pointer(12).labels("errs").pointer(12));
  w.pointer(12).record(11, 1, 1, Wire().u8(10).u8(0).u8(0).u8(1).u8(6).u8(0x40).u8(0x01));
  w.pointer(12).record(28, 1, 1, Wire().raw(std::string(16, '\x01')));
  w.pointer(12).record(129, 1, 1, Wire().u8(1).u8(2).u8(3).u8(4));
  resolver_.ParseReply(w.bytes);
  ASSERT_EQ(R().Count(), 12);

  EXPECT_EQ(As<TNSRecord>(0).TargetName, "ns1.example.com");
  EXPECT_EQ(As<TNSRecord>(0).Kind, qtNS);
  EXPECT_EQ(As<TPTRRecord>(1).TargetName, "host.example.net");
  EXPECT_EQ(As<TPTRRecord>(1).Kind, qtPTR);
  EXPECT_NE(dynamic_cast<const TNAMERecord*>(&R()[0]), nullptr);
  EXPECT_NE(dynamic_cast<const TNAMERecord*>(&R()[1]), nullptr);
  EXPECT_EQ(As<TNAMERecord>(2).TargetName, "example.com");
  EXPECT_EQ(As<TNAMERecord>(2).Kind, qtName);

  const auto& soa = As<TSOARecord>(3);
  EXPECT_EQ(soa.PrimaryServer, "ns.example.com");
  EXPECT_EQ(soa.ResponsibleMailbox, "admin.example.com");
  EXPECT_EQ(soa.SerialNumber, 2024010101u);
  EXPECT_EQ(soa.RefreshSeconds, 3600u);
  EXPECT_EQ(soa.RetrySeconds, 900u);
  EXPECT_EQ(soa.ExpireSeconds, 604800u);
  EXPECT_EQ(soa.MinimumSeconds, 86400u);

  EXPECT_EQ(As<TTextRecord>(4).Strings, (std::vector<std::string>{"a", "bc"}));
  EXPECT_TRUE(As<TTextRecord>(5).Strings.empty());  // first string empty: nothing more
  EXPECT_EQ(As<TTextRecord>(6).Strings, std::vector<std::string>{std::string(200, 't')});
  const auto& hinfo = As<THINFORecord>(7);
  EXPECT_EQ(hinfo.CpuText, "ARM");
  EXPECT_EQ(hinfo.OsText, "Linux");
  EXPECT_EQ(hinfo.Strings, (std::vector<std::string>{"ARM", "Linux"}));
  EXPECT_EQ(As<TMINFORecord>(8).ResponsibleMailbox, "boss.example.com");
  EXPECT_EQ(As<TMINFORecord>(8).ErrorsMailbox, "errs.example.com");
  const auto& wks = As<TWKSRecord>(9);
  EXPECT_EQ(wks.AddressText, "10.0.0.1");
  EXPECT_EQ(wks.ProtocolNumber, 6);
  EXPECT_EQ(wks.ServiceBits, std::string("\x40\x01", 2));

  // TYPE 28 is a plain record; its data only as RawData, and no kind of ours.
  EXPECT_EQ(typeid(R()[10]), typeid(TResultRecord));
  EXPECT_EQ(R()[10].RawData, std::string(16, '\x01'));
  EXPECT_EQ(R()[10].Kind, qtSTAR);
  // TYPE 129 selects like TYPE 1, but is not reported as an A record.
  EXPECT_EQ(As<TARecord>(11).AddressText, "1.2.3.4");
  EXPECT_EQ(R()[11].Kind, qtSTAR);
}

TEST_F(ReplyTest, KindMxOnlyOnMxRecords) {
  Wire w = ReplyStart(3);
  w.pointer(12).record(143, 1, 1, Wire().u16(5).pointer(12));  // selects TMXRecord
  w.pointer(12).record(17, 1, 1, Wire().pointer(12).pointer(12));
  w.pointer(12).record(0, 1, 1, Wire());
  resolver_.ParseReply(w.bytes);
  ASSERT_EQ(R().Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(R()[i].Kind, qtSTAR) << i;
  EXPECT_EQ(As<TMXRecord>(0).Exchange, "example.com");
}

TEST_F(ReplyTest, ShortAddressDataYieldsEmptyFields) {
  Wire w = ReplyStart(3);
  w.pointer(12).record(1, 1, 1, Wire().u8(192).u8(0).u8(2));
  w.pointer(12).record(11, 1, 1, Wire().u8(10).u8(0).u8(0));
  w.pointer(12).record(11, 1, 1, Wire().u8(10).u8(0).u8(0).u8(1));
  // What follows RDATA must never show up in the fields.
  w.raw("\x09\x09\x09\x09");
  resolver_.ParseReply(w.bytes);
  EXPECT_EQ(As<TARecord>(0).AddressText, "");
  EXPECT_EQ(As<TARecord>(0).RawData.size(), 3u);
  EXPECT_EQ(As<TWKSRecord>(1).AddressText, "");
  EXPECT_EQ(As<TWKSRecord>(1).ProtocolNumber, 0);
  EXPECT_EQ(As<TWKSRecord>(2).AddressText, "10.0.0.1");
  EXPECT_EQ(As<TWKSRecord>(2).ProtocolNumber, 0);
  EXPECT_EQ(As<TWKSRecord>(2).ServiceBits, "");
}

TEST_F(ReplyTest, EveryQuestionIsSteppedOver) {
  Wire w;
  w.header(0x1234, 0x8180, 2, 1, 0, 0);
  w.name("example.com").u16(15).u16(1).pointer(12).u16(16).u16(1);
  w.pointer(12).record(15, 1, 1, Wire().u16(7).pointer(12));
  resolver_.ParseReply(w.bytes);
  ASSERT_EQ(R().Count(), 1);
  EXPECT_EQ(As<TMXRecord>(0).MxPreference, 7);
  EXPECT_EQ(R().QuestionType, 15);
}

TEST_F(ReplyTest, HostileRepliesAreRefused) {
  struct Case {
    const char* what;
    std::string reply;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, const Wire& w) { cases.push_back({what, w.bytes}); };
  add("answer count with no record", ReplyStart(1));
  add("65535 answers announced, none there", ReplyStart(0xFFFF));
  add("fixed fields cut", Wire(ReplyStart(1)).pointer(12).u16(1).u16(1).u32(1).u8(0));
  add("rdlength past the end", Wire(ReplyStart(1)).pointer(12).u16(1).u16(1).u32(1).u16(5).u32(0));
  add("pointer outside", Wire(ReplyStart(1)).pointer(0x3FFF).record(1, 1, 1, Wire().u32(0)));
  add("pointer to itself", Wire(ReplyStart(1)).pointer(29).record(1, 1, 1, Wire().u32(0)));
  add("pointer forwards", Wire(ReplyStart(1)).pointer(31).u8(0).record(1, 1, 1, Wire().u32(0)));
  add("pointer into the header",
      Wire(ReplyStart(1)).pointer(12).record(2, 1, 1, Wire().pointer(2)));
  add("label past the end", Wire(ReplyStart(1)).u8(40).raw("abc"));
  add("label length 64",
      Wire(ReplyStart(1)).labels(std::string(64, 'a')).u8(0).u16(1).u16(1).u32(1).u16(4).u32(0));
  add("label length 191", Wire(ReplyStart(1))
                              .u8(191)
                              .raw(std::string(191, 'b'))
                              .u8(0)
                              .u16(1)
                              .u16(1)
                              .u32(1)
                              .u16(4)
                              .u32(0));
  add("pointer cut", Wire(ReplyStart(1)).u8(0xC0));
  add("mx preference cut", Wire(ReplyStart(1)).pointer(12).record(15, 1, 1, Wire().u8(1)));
  add("mx exchange missing", Wire(ReplyStart(1)).pointer(12).record(15, 1, 1, Wire().u16(1)));
  add("soa numbers cut",
      Wire(ReplyStart(1)).pointer(12).record(6, 1, 1, Wire().pointer(12).pointer(12).u32(1)));
  add("name in rdata past the rdata",
      Wire(ReplyStart(1)).pointer(12).record(2, 1, 1, Wire().u8(5).raw("ab")).raw("cdefgh\0"));
  {
    // Labels reached through pointers that add up to more than 255 bytes.
    Wire chain;
    int previous = 12;
    for (int i = 0; i < 4; ++i) {
      const int here = kChainAt + static_cast<int>(chain.size());
      chain.labels(std::string(63, 'a')).pointer(previous);
      previous = here;
    }
    add("name over 255 bytes", WithChain(chain, previous));
  }
  add("65 jumps", WithChain(PointerChain(64), kChainAt + 1 + 2 * 63));
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.reply), kMalformed) << c.what;
  EXPECT_EQ(R().Count(), 0);
}

TEST_F(ReplyTest, SixtyFourJumpsAreStillFollowed) {
  resolver_.ParseReply(WithChain(PointerChain(63), kChainAt + 1 + 2 * 62).bytes);
  ASSERT_EQ(R().Count(), 2);
  EXPECT_EQ(R()[1].OwnerName, "");
  EXPECT_EQ(dynamic_cast<const TARecord&>(R()[1]).AddressText, "127.0.0.1");
}

TEST(DecodeName, EndsOfNamesAndCharacterStrings) {
  struct Case {
    std::string bytes;
    size_t start;
    std::string name;
    size_t next;
  };
  const std::vector<Case> cases = {
      {std::string("\0", 1), 0, "", 1},              // the root
      {std::string("\x03www\x00", 5), 0, "www", 5},  // ends with its 0 byte
      {std::string("\x03www", 4), 0, "www", 5},      // runs into the end
      {std::string("\x01"
                   "a\x00\x01"
                   "b\xC0\x00",
                   7),
       3, "b.a", 7},  // labels then pointer
      {std::string("\x01"
                   "a\x00\xC0\x00",
                   5),
       3, "a", 5},  // pointer only: 2 bytes
      {std::string("\x01"
                   "a\x00\xBF",
                   4),
       0, "a", 3},  // stops at its 0 byte
  };
  for (const Case& c : cases) {
    size_t p = c.start;
    EXPECT_EQ(DecodeName(AsBytes(c.bytes), p), c.name) << testing::PrintToString(c.bytes);
    EXPECT_EQ(p, c.next) << testing::PrintToString(c.bytes);
  }

  const std::string s(
      "\x02hi\x05"
      "abc",
      7);
  size_t p = 0;
  EXPECT_EQ(ReadCharacterString(AsBytes(s), p), "hi");
  EXPECT_EQ(ReadCharacterString(AsBytes(s), p), "abc");  // fewer bytes than announced
  EXPECT_EQ(p, 9u);
  EXPECT_EQ(ReadCharacterString(AsBytes(s), p), "");
  EXPECT_EQ(p, 9u);
  p = 6;  // the last byte
  EXPECT_EQ(ReadCharacterString(AsBytes(s), p), "");
  EXPECT_EQ(p, 6u);
}

TEST(Records, CollectionAndCopying) {
  TQueryResult results;
  auto& a = results.Add<TARecord>();
  a.AddressText = "192.0.2.7";
  auto& mx = results.Add<TMXRecord>();
  mx.Exchange = "mx.example";
  mx.MxPreference = 5;
  auto& ns = results.Add<TNSRecord>();
  ns.TargetName = "ns.example";
  EXPECT_EQ(results.Count(), 3);
  EXPECT_EQ(a.Collection(), &results);

  TQueryResult other;
  auto& rdata = other.Add<TRDATARecord>();
  rdata.Assign(a);
  EXPECT_EQ(rdata.AddressText, "192.0.2.7");
  auto& ptr = other.Add<TPTRRecord>();
  ptr.Assign(ns);
  EXPECT_EQ(ptr.TargetName, "ns.example");
  auto& mx2 = other.Add<TMXRecord>();
  mx2.Assign(mx);
  EXPECT_EQ(mx2.Exchange, "mx.example");
  EXPECT_EQ(mx2.MxPreference, 5);
  try {
    mx2.Assign(ns);
    ADD_FAILURE() << "MX copied from NS";
  } catch (const EIdConvertError& e) {
    EXPECT_EQ(e.message(), "Impossible de copier un TNSRecord dans un TMXRecord");
  }
  EXPECT_THROW(other.Add<TSOARecord>().Assign(mx), EIdConvertError);
  EXPECT_THROW(rdata.Assign(rdata), EIdConvertError);  // only from an A record

  results.Delete(1);
  EXPECT_EQ(results.Count(), 2);
  EXPECT_EQ(&results[1], static_cast<TResultRecord*>(&ns));
  EXPECT_THROW(results.Item(2), std::out_of_range);
  results.Clear();
  EXPECT_EQ(results.Count(), 0);
}

}  // namespace
}  // namespace quillon
