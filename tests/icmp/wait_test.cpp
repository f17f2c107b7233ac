// The echo client's send-and-wait cycle over a scripted receiver: sequence
// numbers, the remaining time while foreign messages arrive, the time-out
// status, failures that leave the status alone, and the OnReply event.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "net/icmp/icmp_client.h"
#include "net/socket/platform.h"
#include "net/socket/text_helpers.h"
#include "tests/icmp/messages.h"

namespace quillon {
namespace {

using test::EchoMessage;
using test::ErrorMessage;
using test::WithIpHeader;

// A client whose network is a script: messages that "arrive" at given
// milliseconds after the send; a message of -1 bytes is a socket failure.
class ScriptedClient : public TIdIcmpClient {
 public:
  struct Arrival {
    uint32_t atMs;
    std::vector<uint8_t> bytes;
    bool fails = false;
  };
  std::vector<Arrival> script;
  std::vector<int> timeouts;       // what each receive was given
  std::vector<uint32_t> calledAt;  // ms after the send, at each receive
  std::vector<std::vector<uint8_t>> sent;

  void SendPacket(const std::string&, int, const uint8_t* bytes, int count) override {
    sent.emplace_back(bytes, bytes + count);
    sentAt_ = CurrentTicks();
    next_ = 0;
  }

  int ReceivePacket(uint8_t* buffer, int capacity, int timeout) override {
    const uint32_t now = ElapsedTicks(sentAt_, CurrentTicks());
    timeouts.push_back(timeout);
    calledAt.push_back(now);
    if (next_ < script.size() && script[next_].atMs <= now + static_cast<uint32_t>(timeout)) {
      const Arrival& a = script[next_++];
      if (a.atMs > now) PauseFor(a.atMs - now);
      if (a.fails) {
        platform::SetLastError(10054);
        return -1;
      }
      const size_t n = std::min(a.bytes.size(), static_cast<size_t>(capacity));
      std::memcpy(buffer, a.bytes.data(), n);
      return static_cast<int>(n);
    }
    PauseFor(static_cast<uint32_t>(timeout));
    return 0;
  }

 private:
  uint32_t sentAt_ = 0;
  size_t next_ = 0;
};

std::vector<uint8_t> Reply(uint16_t sequence, uint16_t id = TIdIcmpClient::ProcessIdentifier()) {
  return WithIpHeader(EchoMessage({0, id, sequence}), "198.18.3.2", 60);
}

uint16_t SentSequence(const std::vector<uint8_t>& request) {
  return static_cast<uint16_t>(request[6] | request[7] << 8);
}

TEST(IcmpClientWait, ForeignMessagesShortenTheWaitOnlyByTheTimeSpent) {
  ScriptedClient c;
  c.ReceiveTimeout = 600;
  // Three foreign replies, then ours at 450 ms: within the 600 ms limit.
  c.script = {{100, Reply(1)}, {200, Reply(3489, 0x0bad)}, {300, Reply(2)}, {450, Reply(3489)}};
  c.SendEcho();
  EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
  EXPECT_GE(c.EchoStatus().RoundTripMs, 440u);
  ASSERT_EQ(c.timeouts.size(), 4u);
  EXPECT_EQ(c.timeouts[0], 600);
  // Each later receive gets what is left of the whole wait: its time plus
  // the time already spent (read a moment later here) is the limit.
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_GE(c.timeouts[i] + static_cast<int>(c.calledAt[i]), 600) << i;
    EXPECT_LE(c.timeouts[i] + static_cast<int>(c.calledAt[i]), 620) << i;
  }
}

TEST(IcmpClientWait, TimeRunningOutAmidForeignMessagesIsATimeOut) {
  ScriptedClient c;
  c.ReceiveTimeout = 300;
  c.script = {{50, Reply(1)}, {100, Reply(2)}, {400, Reply(3489)}};
  int events = 0;
  c.OnReply = [&](TIdBaseComponent* sender, const TReplyStatus& s) {
    ++events;
    EXPECT_EQ(sender, &c);
    EXPECT_EQ(s.Outcome, roTimedOut);
  };
  c.SendEcho();
  const TReplyStatus& s = c.EchoStatus();
  EXPECT_EQ(events, 1);
  EXPECT_EQ(s.Outcome, roTimedOut);
  EXPECT_EQ(s.SourceAddress, "0.0.0.0");
  EXPECT_EQ(s.Sequence, 3489);
  EXPECT_EQ(s.ByteCount, 0);
  EXPECT_GE(s.RoundTripMs, 295u);
  EXPECT_LT(s.RoundTripMs, 1000u);
  EXPECT_EQ(c.SequenceCounter(), 3490) << "a time-out still advances the counter";
}

TEST(IcmpClientWait, SequenceNumbersAdvanceAndWrap) {
  ScriptedClient c;
  c.ReceiveTimeout = 50;
  c.SendEcho();
  c.SendEcho("x");
  c.SendEcho("", 65535);
  c.SendEcho();
  ASSERT_EQ(c.sent.size(), 4u);
  EXPECT_EQ(SentSequence(c.sent[0]), 3489);
  EXPECT_EQ(SentSequence(c.sent[1]), 3490);
  EXPECT_EQ(SentSequence(c.sent[2]), 65535);
  EXPECT_EQ(SentSequence(c.sent[3]), 0);
  EXPECT_EQ(c.SequenceCounter(), 1);
  EXPECT_EQ(c.sent[0].size(), 52u);
  EXPECT_EQ(c.sent[1][20], 'x');
  const uint16_t id = TIdIcmpClient::ProcessIdentifier();
  EXPECT_EQ(c.sent[0][4] | c.sent[0][5] << 8, id);
}

TEST(IcmpClientWait, FailuresLeaveStatusAndCounterAndRaiseNoEvent) {
  ScriptedClient c;
  c.ReceiveTimeout = 500;
  c.script = {{5, Reply(3489)}};
  c.SendEcho();
  ASSERT_EQ(c.EchoStatus().Outcome, roEchoReply);
  int events = 0;
  c.OnReply = [&](TIdBaseComponent*, const TReplyStatus&) { ++events; };

  c.script = {{5, {}, true}};
  try {
    c.SendEcho();
    ADD_FAILURE() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 10054);
  }
  EXPECT_EQ(events, 0);
  EXPECT_EQ(c.SequenceCounter(), 3490);
  EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
  EXPECT_EQ(c.EchoStatus().Sequence, 3489);
}

// Messages that answer nothing (a redirect or parameter problem quoting our
// request, timestamp and information requests, a message too short for its
// headers) arriving before our reply neither end nor abort the wait, and
// only shorten it by the time spent.
TEST(IcmpClientWait, UnrelatedMessagesAreIgnoredAndTheWaitGoesOn) {
  const uint16_t id = TIdIcmpClient::ProcessIdentifier();
  const std::vector<uint8_t> noise[] = {
      WithIpHeader(ErrorMessage(5, 1, {8, id, 3489}), "198.18.1.2", 64),
      WithIpHeader(ErrorMessage(12, 0, {8, id, 3489}), "198.18.1.2", 64),
      WithIpHeader(EchoMessage({13, id, 3489}, 12), "198.18.9.9", 64),
      WithIpHeader(EchoMessage({15, id, 3489}, 0), "198.18.9.9", 64),
      WithIpHeader({0, 0, 0, 0}, "198.18.9.9", 64),
      {0x45, 0, 0},
  };
  ScriptedClient c;
  c.ReceiveTimeout = 600;
  uint32_t at = 20;
  for (const auto& m : noise) {
    c.script.push_back({at, m});
    at += 30;
  }
  c.script.push_back({at + 30, Reply(3489)});
  int events = 0;
  c.OnReply = [&](TIdBaseComponent*, const TReplyStatus&) { ++events; };
  c.SendEcho();
  EXPECT_EQ(events, 1);
  EXPECT_EQ(c.EchoStatus().Outcome, roEchoReply);
  EXPECT_EQ(c.EchoStatus().SourceAddress, "198.18.3.2");
  EXPECT_GE(c.EchoStatus().RoundTripMs, at + 25);
  ASSERT_EQ(c.timeouts.size(), std::size(noise) + 1);
  for (size_t i = 1; i < c.timeouts.size(); ++i)
    EXPECT_LE(c.timeouts[i] + static_cast<int>(c.calledAt[i]), 620) << i;

  // Only noise: the wait runs its full time and ends with the time-out.
  c.script.clear();
  for (size_t i = 0; i < std::size(noise); ++i)
    c.script.push_back({20 + 30 * static_cast<uint32_t>(i), noise[i]});
  c.ReceiveTimeout = 300;
  c.SendEcho();
  EXPECT_EQ(events, 2);
  EXPECT_EQ(c.EchoStatus().Outcome, roTimedOut);
  EXPECT_EQ(c.EchoStatus().Sequence, 3490);
  EXPECT_GE(c.EchoStatus().RoundTripMs, 295u);
}

}  // namespace
}  // namespace quillon
