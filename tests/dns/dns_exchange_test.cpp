// One question to one server against scripted servers on 127.0.0.1: answers
// that do not match (another id, question, port or address, no QR bit,
// garbage) are ignored while the wait goes on; FORMERR and NOTIMP to the
// EDNS question bring the question again without EDNS; TC brings it over
// TCP; a silent server is asked twice and then reported; a refused port and
// an interruption end the exchange.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "net/dns/dns_exchange.h"
#include "net/socket/exceptions.h"
#include "tests/dns/dns_test_util.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using test::FakeDnsServer;
using test::Wire;
using Datagram = FakeDnsServer::Datagram;
using Clock = std::chrono::steady_clock;

// The query's id, and its question section (name, type, class) as sent.
int IdOf(const std::string& query) {
  return static_cast<uint8_t>(query[0]) << 8 | static_cast<uint8_t>(query[1]);
}
std::string QuestionOf(const std::string& query) {
  size_t end = 12;
  while (query[end] != 0) end += static_cast<uint8_t>(query[end]) + 1u;
  return query.substr(12, end + 5 - 12);
}
bool HasOpt(const std::string& query) {
  return query[11] == 1;
}

// A reply to `query` with one A record 198.18.0.<last>; the parts can be
// spoiled one at a time.
std::string Reply(const std::string& query, int last, int rcode = 0, int idDelta = 0,
                  int flags = 0x8180, const std::string& question = "") {
  Wire w;
  w.header(IdOf(query) + idDelta, flags | rcode, 1, 1, 0, 0)
      .raw(question.empty() ? QuestionOf(query) : question)
      .pointer(12)
      .record(1, 1, 60, Wire().u32(0xC6120000u | static_cast<uint32_t>(last)));
  return w.bytes;
}

uint32_t AddressIn(const TDnsMessage& m) {
  const auto r = m.Rdata(m.answers.at(0));
  return uint32_t{r[0]} << 24 | uint32_t{r[1]} << 16 | uint32_t{r[2]} << 8 | r[3];
}

TDnsExchangeOptions Quick() {
  TDnsExchangeOptions o;
  o.udpTry = 300ms;
  o.tcpLimit = 1000ms;
  return o;
}

TEST(DnsExchange, AnswersThatDoNotMatchAreIgnored) {
  FakeDnsServer server([](const std::string& q) {
    const std::string other =
        Wire().name("other.test").u16(1).u16(1).bytes;  // another question
    std::string wrongType = QuestionOf(q);
    wrongType[wrongType.size() - 3] = 28;
    return std::vector<Datagram>{
        {Reply(q, 1, 0, 1)},                        // another id
        {Reply(q, 2, 0, 0, 0x8180, other)},         // another name
        {Reply(q, 3, 0, 0, 0x8180, wrongType)},     // another type
        {Reply(q, 4, 0, 0, 0x0180)},                // a query, not a reply
        {Reply(q, 5), true},                        // from another port
        {Reply(q, 6), false, true},                 // from another address
        {"\x12\x34garbage"},                        // malformed
        {Reply(q, 99)},
    };
  });
  TDnsQuestion q{"Www.Example.Test", 1, kDnsClassIN};
  const TDnsMessage m = AskDns({"127.0.0.1", server.port()}, q, Quick());
  EXPECT_EQ(AddressIn(m), 0xC6120063u);
  EXPECT_EQ(server.queries(), 1);
  EXPECT_TRUE(HasOpt(server.lastQuery()));

  // Two questions never carry the same id (random, so a repeat is possible
  // but 20 alike in a row is not).
  std::set<int> ids;
  for (int i = 0; i < 20; ++i) {
    AskDns({"127.0.0.1", server.port()}, q, Quick());
    ids.insert(IdOf(server.lastQuery()));
  }
  EXPECT_GT(ids.size(), 1u);
}

TEST(DnsExchange, FormErrAndNotImpBringTheQuestionAgainWithoutEdns) {
  for (const int rcode : {kDnsFormErr, kDnsNotImp}) {
    FakeDnsServer server([rcode](const std::string& q) {
      if (HasOpt(q)) {
        // An old server: the error without the question section.
        Wire w;
        w.header(IdOf(q), 0x8180 | rcode, 0, 0, 0, 0);
        return std::vector<Datagram>{{w.bytes}};
      }
      return std::vector<Datagram>{{Reply(q, 7)}};
    });
    const TDnsMessage m = AskDns({"127.0.0.1", server.port()}, {"a.test"}, Quick());
    EXPECT_EQ(m.rcode, kDnsNoError) << rcode;
    EXPECT_EQ(AddressIn(m), 0xC6120007u);
    EXPECT_EQ(server.queries(), 2);
    EXPECT_FALSE(HasOpt(server.lastQuery()));
  }
  // Without EDNS from the start the error is the answer.
  FakeDnsServer refusing([](const std::string& q) {
    return std::vector<Datagram>{{Reply(q, 1, kDnsFormErr)}};
  });
  TDnsExchangeOptions plain = Quick();
  plain.edns = false;
  EXPECT_EQ(AskDns({"127.0.0.1", refusing.port()}, {"a.test"}, plain).rcode, kDnsFormErr);
  EXPECT_EQ(refusing.queries(), 1);
}

TEST(DnsExchange, TruncatedAnswerIsAskedAgainOverTcp) {
  std::atomic<int> tcpQueries{0};
  std::atomic<bool> tcpHadOpt{false};
  test::TcpServer tcp([&](int fd) {
    // Two messages on the connection: a stray one first, then the answer.
    std::string prefix(2, '\0');
    if (::read(fd, prefix.data(), 2) != 2) return;
    std::string query(static_cast<size_t>(static_cast<uint8_t>(prefix[0]) << 8 |
                                          static_cast<uint8_t>(prefix[1])),
                      '\0');
    if (::read(fd, query.data(), query.size()) != static_cast<ssize_t>(query.size())) return;
    ++tcpQueries;
    tcpHadOpt = HasOpt(query);
    for (const std::string& m : {Reply(query, 1, 0, 1), Reply(query, 42)}) {
      std::string framed{static_cast<char>(m.size() >> 8), static_cast<char>(m.size() & 0xFF)};
      test::SendAll(fd, framed + m);
    }
  });
  FakeDnsServer udp(
      [](const std::string& q) {
        return std::vector<Datagram>{{Reply(q, 1, 0, 0, 0x8380)}};  // TC set
      },
      tcp.port());
  const TDnsMessage m = AskDns({"127.0.0.1", tcp.port()}, {"big.test", 16}, Quick());
  EXPECT_EQ(AddressIn(m), 0xC612002Au);
  EXPECT_FALSE(m.Truncated());
  EXPECT_EQ(udp.queries(), 1);
  EXPECT_EQ(tcpQueries.load(), 1);
  EXPECT_TRUE(tcpHadOpt.load());

  // --tcp: no datagram at all.
  TDnsExchangeOptions overTcp = Quick();
  overTcp.tcp = true;
  EXPECT_EQ(AddressIn(AskDns({"127.0.0.1", tcp.port()}, {"big.test", 16}, overTcp)),
            0xC612002Au);
  EXPECT_EQ(udp.queries(), 1);
  EXPECT_EQ(tcpQueries.load(), 2);
}

TEST(DnsExchange, SilentRefusedAndInterrupted) {
  FakeDnsServer silent([](const std::string&) { return std::vector<Datagram>{}; });
  int paced = 0;
  TDnsExchangeOptions o = Quick();
  o.beforeSend = [&] { ++paced; };
  const auto start = Clock::now();
  EXPECT_THROW(AskDns({"127.0.0.1", silent.port()}, {"a.test"}, o), EDnsNoAnswer);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 600ms);
  EXPECT_LT(took, 2000ms);
  EXPECT_EQ(silent.queries(), 2);  // two tries
  EXPECT_EQ(paced, 2);

  // Nothing listens: the kernel's port-unreachable ends the wait at once.
  const int closedPort = test::FreePort(true);
  try {
    AskDns({"127.0.0.1", closedPort}, {"a.test"}, Quick());
    ADD_FAILURE() << "no failure";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 10061);
  }
  TDnsExchangeOptions overTcp = Quick();
  overTcp.tcp = true;
  EXPECT_THROW(AskDns({"127.0.0.1", test::FreePort()}, {"a.test"}, overTcp), EIdSocketError);

  std::atomic<bool> stop{false};
  TDnsExchangeOptions slow;
  slow.interrupted = &stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(200ms);
    stop = true;
  });
  const auto begin = Clock::now();
  EXPECT_THROW(AskDns({"127.0.0.1", silent.port()}, {"a.test"}, slow), EDnsInterrupted);
  EXPECT_LT(Clock::now() - begin, 1000ms);
}

}  // namespace
}  // namespace quillon
