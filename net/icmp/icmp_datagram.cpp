#include "net/icmp/icmp_datagram.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "net/icmp/icmp_headers.h"
#include "net/socket/error_text.h"
#include "net/socket/platform.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

constexpr int kWouldBlock = 10035;  // EAGAIN: nothing queued

// Size of what precedes the payload in the rebuilt message.
constexpr size_t kReplyPrefix = ip_header::kMinimumSize;
constexpr size_t kErrorPrefix =
    ip_header::kMinimumSize + icmp_header::kSize + ip_header::kMinimumSize;
constexpr size_t kReply6Prefix = ip6_header::kSize;
constexpr size_t kError6Prefix = ip6_header::kSize + kIcmp6ErrorHeaderSize + ip6_header::kSize;
constexpr size_t kLargestPrefix = kError6Prefix;

// An IPv4 header without options as the kernel would have delivered it.
void WriteIpHeader(uint8_t* at, size_t totalLength, int ttl, in_addr source) {
  std::memset(at, 0, ip_header::kMinimumSize);
  at[ip_header::kVersionAndLength] = 0x45;
  const size_t length = std::min<size_t>(totalLength, 0xFFFF);
  at[ip_header::kTotalLength] = static_cast<uint8_t>(length >> 8);
  at[ip_header::kTotalLength + 1] = static_cast<uint8_t>(length & 0xFF);
  at[ip_header::kTimeToLive] = static_cast<uint8_t>(std::clamp(ttl, 0, 255));
  at[ip_header::kProtocol] = static_cast<uint8_t>(Id_IPPROTO_ICMP);
  std::memcpy(at + ip_header::kSourceAddress, &source.s_addr, 4);
}

// An IPv6 header without extension headers carrying ICMPv6.
void WriteIp6Header(uint8_t* at, size_t payloadLength, int hopLimit, const in6_addr& source) {
  std::memset(at, 0, ip6_header::kSize);
  at[ip6_header::kVersion] = 0x60;
  const size_t length = std::min<size_t>(payloadLength, 0xFFFF);
  at[ip6_header::kPayloadLength] = static_cast<uint8_t>(length >> 8);
  at[ip6_header::kPayloadLength + 1] = static_cast<uint8_t>(length & 0xFF);
  at[ip6_header::kNextHeader] = static_cast<uint8_t>(Id_IPPROTO_ICMPV6);
  at[ip6_header::kHopLimit] = static_cast<uint8_t>(std::clamp(hopLimit, 0, 255));
  std::memcpy(at + ip6_header::kSourceAddress, &source, 16);
}

enum class Got { Nothing, Message, Failure };

// One recvmsg without waiting. The payload goes to `out` after `prefix`
// bytes (or, when `out` has no room past the prefix, is dropped), the
// prefix is built by `writePrefix`, and the rebuilt size is left in `count`.
template <typename WritePrefix>
Got ReceiveInto(int fd, int flags, std::span<uint8_t> out, size_t prefix, long& count,
                platform::MessageDetails& details, WritePrefix writePrefix) {
  uint8_t spare = 0;
  const bool room = out.size() > prefix;
  void* target = room ? out.data() + prefix : &spare;
  const size_t capacity = room ? out.size() - prefix : 1;
  RequireSocketLibrary("recvmsg");
  const long r = platform::RecvMsg(fd, target, capacity, flags | MSG_DONTWAIT, details);
  if (r == -1) return platform::LastError() == kWouldBlock ? Got::Nothing : Got::Failure;
  const size_t payload = room ? static_cast<size_t>(r) : 0;
  std::array<uint8_t, kLargestPrefix> header{};
  if (!writePrefix(header.data(), static_cast<size_t>(r))) return Got::Nothing;
  std::memcpy(out.data(), header.data(), std::min(prefix, out.size()));
  count = static_cast<long>(std::min(prefix + payload, out.size()));
  return Got::Message;
}

// An entry of the error queue: an ICMP error about one of our requests. The
// kernel hands over the quoted request; the IP headers around it are rebuilt.
Got ReceiveError(int fd, bool v6, std::span<uint8_t> out, long& count) {
  platform::MessageDetails d;
  if (v6)
    return ReceiveInto(fd, MSG_ERRQUEUE, out, kError6Prefix, count, d,
                       [&d](uint8_t* h, size_t payload) {
                         if (!d.extendedError || d.errorOrigin != SO_EE_ORIGIN_ICMP6) return false;
                         WriteIp6Header(h, kIcmp6ErrorHeaderSize + ip6_header::kSize + payload,
                                        d.ttl, d.offender6);
                         uint8_t* icmp = h + ip6_header::kSize;
                         icmp[icmp_header::kType] = d.errorType;
                         icmp[icmp_header::kCode] = d.errorCode;
                         WriteIp6Header(icmp + kIcmp6ErrorHeaderSize, payload, 0, in6_addr{});
                         return true;
                       });
  return ReceiveInto(fd, MSG_ERRQUEUE, out, kErrorPrefix, count, d,
                     [&d](uint8_t* h, size_t payload) {
                       // Errors raised locally (no ICMP message) are skipped.
                       if (!d.extendedError || d.errorOrigin != SO_EE_ORIGIN_ICMP) return false;
                       const size_t quoted = ip_header::kMinimumSize + payload;
                       WriteIpHeader(h, kErrorPrefix + payload, d.ttl, d.offender);
                       uint8_t* icmp = h + ip_header::kMinimumSize;
                       icmp[icmp_header::kType] = d.errorType;
                       icmp[icmp_header::kCode] = d.errorCode;
                       WriteIpHeader(icmp + icmp_header::kSize, quoted, 0, in_addr{});
                       return true;
                     });
}

// An echo reply (or, on a raw ICMPv6 socket, any message): the ICMP message
// without its IP header.
Got ReceiveReply(int fd, bool v6, std::span<uint8_t> out, long& count) {
  platform::MessageDetails d;
  if (v6)
    return ReceiveInto(fd, 0, out, kReply6Prefix, count, d, [&d](uint8_t* h, size_t payload) {
      WriteIp6Header(h, payload, d.ttl, d.from6.sin6_addr);
      return true;
    });
  return ReceiveInto(fd, 0, out, kReplyPrefix, count, d, [&d](uint8_t* h, size_t payload) {
    WriteIpHeader(h, kReplyPrefix + payload, d.ttl, d.from.sin_addr);
    return true;
  });
}

// The error queue first: while it holds an ICMP error, a plain receive
// would fail with that error (sk_err) instead of returning data.
Got ReceiveQueued(int fd, bool v6, bool errorQueue, std::span<uint8_t> out, long& count) {
  if (!errorQueue) return ReceiveReply(fd, v6, out, count);
  Got got = ReceiveError(fd, v6, out, count);
  if (got != Got::Nothing) return got;
  got = ReceiveReply(fd, v6, out, count);
  if (got != Got::Failure) return got;
  // An error that arrived between the two receives shows up as the failure
  // of the plain one; the error queue then holds it.
  const int failure = platform::LastError();
  got = ReceiveError(fd, v6, out, count);
  if (got != Got::Nothing) return got;
  platform::SetLastError(failure);
  return Got::Failure;
}

}  // namespace

void PrepareIcmpDatagramSocket(TIdSocketHandle& socket) {
  const int32_t on = 1;
  if (socket.IPVersion == Id_PF_INET6) {
    socket.SetSocketOption(IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
    socket.SetSocketOption(IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
    return;
  }
  socket.SetSocketOption(IPPROTO_IP, IP_RECVERR, &on, sizeof on);
  socket.SetSocketOption(IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
}

void SetRawIcmpFilter(TIdSocketHandle& socket, bool answers) {
  if (socket.IPVersion == Id_PF_INET6) {
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    if (answers)
      for (const uint8_t type : {icmp6EchoReply, icmp6DestinationUnreachable, icmp6TimeExceeded})
        ICMP6_FILTER_SETPASS(type, &filter);
    socket.SetSocketOption(IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    return;
  }
  // A set bit blocks its type (Linux's ICMP_FILTER at level SOL_RAW).
  uint32_t blocked = ~0u;
  if (answers)
    for (const uint8_t type : {icmpEchoReply, icmpDestinationUnreachable, icmpTimeExceeded})
      blocked &= ~(1u << type);
  socket.SetSocketOption(SOL_RAW, ICMP_FILTER, &blocked, sizeof blocked);
}

void PrepareIcmpRawSocket(TIdSocketHandle& socket) {
  SetRawIcmpFilter(socket, true);
  if (socket.IPVersion != Id_PF_INET6) return;
  const int32_t on = 1;
  socket.SetSocketOption(IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
}

long ReceiveIcmpDatagram(TIdSocketHandle& socket, std::span<uint8_t> out, int timeoutMs,
                         bool errorQueue) {
  const int fd = socket.SocketId();
  const bool v6 = socket.IPVersion == Id_PF_INET6;
  const uint32_t start = CurrentTicks();
  bool waited = false;
  for (;;) {
    // What is already queued is taken without waiting (on loopback the
    // reply is there as soon as the send returns).
    long count = 0;
    const Got got = ReceiveQueued(fd, v6, errorQueue, out, count);
    if (got == Got::Message) return count;
    if (got == Got::Failure) return -1;
    // Nothing for us (or only a skipped local error): wait for the rest.
    int remaining = timeoutMs;
    if (timeoutMs >= 0) {
      const uint32_t spent = ElapsedTicks(start, CurrentTicks());
      if (waited && spent >= static_cast<uint32_t>(timeoutMs)) return 0;
      remaining =
          spent >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(spent);
    }
    if (!socket.WaitReadable(remaining)) return 0;
    waited = true;
  }
}

}  // namespace quillon
