#include "net/dns/dns_exchange.h"

#include <sys/random.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <optional>
#include <random>

#include "net/socket/address_text.h"
#include "net/socket/byte_reader.h"
#include "net/socket/component.h"
#include "net/socket/exceptions.h"
#include "net/socket/platform.h"
#include "net/socket/socket_handle.h"
#include "net/socket/stack.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Waits are cut into slices so that an interruption is seen soon.
constexpr milliseconds kSlice{100};
constexpr size_t kMaxMessage = 65535;
constexpr int kWouldBlock = 10035;
constexpr int kInProgress = 10036;
constexpr uint16_t kAdvertisedSize = 1232;

uint16_t RandomId() {
  uint16_t id = 0;
  if (getrandom(&id, sizeof id, 0) != static_cast<ssize_t>(sizeof id)) {
    std::random_device device;
    id = static_cast<uint16_t>(device());
  }
  return id;
}

// Lower-cases the ASCII letters of a wire-form name (label lengths are all
// below 'A', so they are left alone).
std::string FoldCase(std::string wire) {
  for (char& c : wire)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return wire;
}

// Two address texts for the same address (an IPv6 one in any form, its zone
// left aside).
class TExchange {
 public:
  TExchange(const TDnsServer& server, const TDnsQuestion& q, const TDnsExchangeOptions& options)
      : q_(q), options_(options), port_(server.port) {
    ip_ = SharedStack().ResolveHostName(server.address);
    family_ = AddressFamilyOf(ip_);
  }

  TDnsMessage Run();

 private:
  std::optional<TDnsMessage> AskUdp(bool edns);
  TDnsMessage AskTcp(bool edns);
  void CheckInterrupted() const {
    if (options_.interrupted && options_.interrupted->load())
      throw EDnsInterrupted("Opération interrompue");
  }
  void BeforeSend() const {
    CheckInterrupted();
    if (options_.beforeSend) options_.beforeSend();
    CheckInterrupted();
  }
  // The next slice of a wait that ends at `until`; 0 when it has ended.
  int SliceUntil(Clock::time_point until) const {
    CheckInterrupted();
    const auto left = std::chrono::ceil<milliseconds>(until - Clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>(std::min(left, kSlice).count());
  }
  [[noreturn]] void NoAnswer() const { throw EDnsNoAnswer("Expiré (TimedOut)"); }
  void OpenAndConnect(TIdSocketHandle& handle, int type);
  void WaitConnected(TIdSocketHandle& handle, Clock::time_point until);
  void SendAll(TIdSocketHandle& handle, std::span<const uint8_t> bytes, Clock::time_point until);
  // Reads exactly `out.size()` bytes; false when the server closed first.
  bool ReadExactly(TIdSocketHandle& handle, std::span<uint8_t> out, Clock::time_point until);

  // A component lives while the exchange runs, so the socket stack does.
  TIdComponent stackOwner_;
  const TDnsQuestion& q_;
  const TDnsExchangeOptions& options_;
  std::string ip_;
  int family_ = Id_PF_INET;
  int port_;
};

void TExchange::OpenAndConnect(TIdSocketHandle& handle, int type) {
  handle.IPVersion = family_;
  handle.AllocateHandle(type, 0);
  handle.SetRemote(ip_, port_);
}

TDnsMessage TExchange::Run() {
  bool edns = options_.edns;
  const auto unsupported = [](const TDnsMessage& m) {
    return m.rcode == kDnsFormErr || m.rcode == kDnsNotImp;
  };
  if (!options_.tcp) {
    std::optional<TDnsMessage> reply = AskUdp(edns);
    if (!reply) NoAnswer();
    if (edns && unsupported(*reply)) {
      // A server that predates EDNS: once more as RFC 1035 asked.
      edns = false;
      reply = AskUdp(edns);
      if (!reply) NoAnswer();
    }
    if (!reply->Truncated()) return std::move(*reply);
  }
  TDnsMessage reply = AskTcp(edns);
  if (edns && unsupported(reply)) reply = AskTcp(false);
  return reply;
}

std::optional<TDnsMessage> TExchange::AskUdp(bool edns) {
  TIdStack& stack = SharedStack();
  // A fresh socket for every question: the kernel gives it a random port.
  // Connecting it makes the kernel report a refused port (ICMP) as a failed
  // receive, and drop datagrams from other senders before they reach us.
  TIdSocketHandle handle;
  OpenAndConnect(handle, Id_SOCK_DGRAM);
  stack.CheckSocketResult(handle.ConnectPeer(family_));
  const std::vector<uint8_t> query = BuildDnsQuery(RandomId(), q_, edns, kAdvertisedSize);
  std::vector<uint8_t> buffer(kMaxMessage);
  for (int attempt = 0; attempt < std::max(options_.udpTries, 1); ++attempt) {
    BeforeSend();
    const long sent = handle.SendRaw(query.data(), query.size(), 0);
    stack.CheckSocketResult(sent);
    if (sent != static_cast<long>(query.size()))
      throw EIdNotAllBytesSent("Tous les octets n'ont pas été envoyés.");
    // The same id and socket for the second try: a late answer to the first
    // one is just as good.
    const Clock::time_point until = Clock::now() + options_.udpTry;
    for (int slice; (slice = SliceUntil(until)) > 0;) {
      if (!handle.WaitReadable(slice)) continue;
      std::string fromIp;
      int fromPort = 0;
      const long n = handle.ReceiveDatagram(buffer.data(), buffer.size(), 0, fromIp, fromPort);
      stack.CheckSocketResult(n);
      if (fromPort != port_ || !TIdStack::SameAddress(fromIp, ip_)) continue;
      try {
        TDnsMessage reply =
            ParseDnsMessage(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
        if (DnsReplyMatches(reply, query)) return reply;
      } catch (const EDnsMalformedMessage&) {
        // Not an answer to this question: the wait goes on.
      }
    }
  }
  return std::nullopt;
}

void TExchange::WaitConnected(TIdSocketHandle& handle, Clock::time_point until) {
  TIdStack& stack = SharedStack();
  const int r = handle.ConnectPeer(family_);
  if (r != Id_SOCKET_ERROR) return;
  stack.CheckSocketResult(r, {kWouldBlock, kInProgress});
  for (;;) {
    const int slice = SliceUntil(until);
    if (slice == 0) NoAnswer();
    std::vector<int> writeList{handle.SocketId()};
    const int ready = stack.WaitSockets(nullptr, &writeList, slice, nullptr);
    stack.CheckSocketResult(ready);
    if (ready > 0) break;
  }
  int error = 0;
  socklen_t length = sizeof error;
  stack.CheckSocketResult(
      stack.SockGetOption(handle.SocketId(), SOL_SOCKET, SO_ERROR, &error, length));
  if (error != 0) {
    const int code = platform::TranslateErrno(error);
    stack.LastSocketError.store(code);
    stack.RaiseSocketFailure(code);
  }
}

void TExchange::SendAll(TIdSocketHandle& handle, std::span<const uint8_t> bytes,
                        Clock::time_point until) {
  TIdStack& stack = SharedStack();
  while (!bytes.empty()) {
    const long n = handle.SendRaw(bytes.data(), bytes.size(), 0);
    if (stack.CheckSocketResult(n, {kWouldBlock})) {
      const int slice = SliceUntil(until);
      if (slice == 0) NoAnswer();
      std::vector<int> writeList{handle.SocketId()};
      stack.CheckSocketResult(stack.WaitSockets(nullptr, &writeList, slice, nullptr));
      continue;
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
}

bool TExchange::ReadExactly(TIdSocketHandle& handle, std::span<uint8_t> out,
                            Clock::time_point until) {
  TIdStack& stack = SharedStack();
  while (!out.empty()) {
    const int slice = SliceUntil(until);
    if (slice == 0) NoAnswer();
    if (!handle.WaitReadable(slice)) continue;
    const long n = handle.ReceiveRaw(out.data(), out.size(), 0);
    if (stack.CheckSocketResult(n, {kWouldBlock})) continue;
    if (n == 0) return false;
    out = out.subspan(static_cast<size_t>(n));
  }
  return true;
}

TDnsMessage TExchange::AskTcp(bool edns) {
  const Clock::time_point until = Clock::now() + options_.tcpLimit;
  // RFC 7766: the message behind a 2-byte length. The socket is
  // non-blocking, so that connecting and sending keep to the time limit.
  TIdSocketHandle handle;
  OpenAndConnect(handle, Id_SOCK_STREAM | SOCK_NONBLOCK);
  BeforeSend();
  WaitConnected(handle, until);
  const std::vector<uint8_t> query = BuildDnsQuery(RandomId(), q_, edns, kAdvertisedSize);
  std::vector<uint8_t> framed{static_cast<uint8_t>(query.size() >> 8),
                              static_cast<uint8_t>(query.size() & 0xFF)};
  framed.insert(framed.end(), query.begin(), query.end());
  SendAll(handle, framed, until);
  std::vector<uint8_t> buffer;
  for (;;) {
    std::array<uint8_t, 2> prefix{};
    if (!ReadExactly(handle, prefix, until)) NoAnswer();
    buffer.resize(size_t{prefix[0]} << 8 | prefix[1]);
    if (!ReadExactly(handle, buffer, until)) NoAnswer();
    try {
      TDnsMessage reply = ParseDnsMessage(buffer);
      if (DnsReplyMatches(reply, query)) return reply;
    } catch (const EDnsMalformedMessage&) {
      // Skipped like a stray datagram; the time limit still holds.
    }
  }
}

}  // namespace

bool DnsReplyMatches(const TDnsMessage& reply, std::span<const uint8_t> query) {
  ByteReader reader(query);
  const uint16_t id = reader.readBe16();
  const uint16_t flags = reader.readBe16();
  constexpr uint16_t kOpcode = 0x7800;
  if (reply.id != id || (reply.flags & kDnsFlagQR) == 0 ||
      (reply.flags & kOpcode) != (flags & kOpcode))
    return false;
  if (reply.questions.empty()) return reply.rcode != kDnsNoError;
  if (reply.questions.size() != 1) return false;
  size_t asked = 12, answered = 12;
  const std::string askedName = ReadDnsWireName(query, asked);
  const std::string answeredName = ReadDnsWireName(reply.bytes, answered);
  reader.seek(asked);
  const uint16_t type = reader.readBe16();
  const uint16_t qclass = reader.readBe16();
  return FoldCase(askedName) == FoldCase(answeredName) && reply.questions[0].type == type &&
         reply.questions[0].qclass == qclass;
}

TDnsMessage AskDns(const TDnsServer& server, const TDnsQuestion& q,
                   const TDnsExchangeOptions& options) {
  TExchange exchange(server, q, options);
  return exchange.Run();
}

}  // namespace quillon
