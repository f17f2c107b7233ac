// The thin layer between the network code and Linux: socket calls, name and
// service lookup, interface addresses, ticks and the time zone. Every call
// records the socket library's error number of a failure for the calling
// thread (see LastError), translated from errno or from the resolver's code.
// Tests can make the Nth call of a kind fail (FaultInjector).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::platform {

// The calls that can be made to fail.
enum class Call : int {
  Socket,
  Bind,
  Connect,
  Accept,
  Listen,
  Recv,
  RecvFrom,
  Send,
  SendTo,
  Wait,
  SetOption,
  GetOption,
  Shutdown,
  Close,
  PeerName,
  SockName,
  ResolveName,
  ResolveAddress,
  Services,
  LocalAddresses,
  HostName,
  ZoneQuery,
  LibraryStart,
  RecvMsg,
  Count_
};

// Makes the `nth` next call of `call` (1 = the very next) fail as if the
// system had set `errnoValue`; 0 disarms. Process-wide, for tests only.
class FaultInjector {
 public:
  static void FailNth(Call call, unsigned nth, int errnoValue);
  static void Reset();
  // Counts a call; true when this one is to fail (errno is then set).
  static bool ShouldFail(Call call);
};

// The socket library's error number of the calling thread's last failure.
int LastError();
void SetLastError(int code);
// errno value → socket library error number (EINTR → 10004, ...). A value
// with no counterpart gives kUntranslatedBase + errno.
int TranslateErrno(int errnoValue);
// getaddrinfo/getnameinfo result → socket library number (EAI_NONAME → 11001).
int TranslateResolverError(int eaiCode, int errnoValue);
constexpr int kUntranslatedBase = 20000;

// Socket calls: Linux semantics, -1 on failure with LastError set. Addresses
// are sockaddr_in or sockaddr_in6 in a sockaddr_storage (its family tells
// which); sends never raise SIGPIPE.
int Socket(int family, int type, int protocol);
int Bind(int fd, const sockaddr_storage& addr);
int Connect(int fd, const sockaddr_storage& addr);
int Accept(int fd, sockaddr_storage& peer);
int Listen(int fd, int backlog);
long Recv(int fd, void* buffer, size_t length, int flags);
long RecvFrom(int fd, void* buffer, size_t length, int flags, sockaddr_storage& from);
long Send(int fd, const void* buffer, size_t length, int flags);
long SendTo(int fd, const void* buffer, size_t length, int flags, const sockaddr_storage& to);
// The length of the record that `addr`'s family uses.
socklen_t AddressLength(const sockaddr_storage& addr);
// What recvmsg found beside the data: the sender, the TTL (IP_RECVTTL) or
// hop limit (IPV6_RECVHOPLIMIT) and, for an entry of the error queue
// (MSG_ERRQUEUE with IP_RECVERR or IPV6_RECVERR), the extended error with the
// address of the node that reported it.
struct MessageDetails {
  sockaddr_in from{};    // an IPv4 sender
  sockaddr_in6 from6{};  // an IPv6 sender
  int ttl = -1;          // -1 when no TTL or hop-limit control message came
  bool extendedError = false;
  uint8_t errorOrigin = 0;  // SO_EE_ORIGIN_*
  uint8_t errorType = 0;    // ICMP (or ICMPv6) type for SO_EE_ORIGIN_ICMP(6)
  uint8_t errorCode = 0;
  uint32_t errorInfo = 0;
  in_addr offender{};    // SO_EE_OFFENDER, 0.0.0.0 when the kernel gave none
  in6_addr offender6{};  // the same for an IPv6 error, :: when none
};
long RecvMsg(int fd, void* buffer, size_t length, int flags, MessageDetails& details);
int SetOption(int fd, int level, int option, const void* value, socklen_t length);
int GetOption(int fd, int level, int option, void* value, socklen_t& length);
int Shutdown(int fd, int how);
int Close(int fd);
int PeerName(int fd, sockaddr_storage& addr);
int SockName(int fd, sockaddr_storage& addr);

// Waits until a socket of `readFds` is readable, of `writeFds` writable or of
// `errorFds` has urgent data; the lists are replaced by the ready ones in
// their order. timeoutMs < 0: no limit. Returns the ready count (each list
// counted on its own), 0 when the time ran out, -1 on failure.
int Wait(std::vector<int>* readFds, std::vector<int>* writeFds, std::vector<int>* errorFds,
         int timeoutMs);

// Name lookup of one family (AF_INET or AF_INET6), or of both at once
// (AF_UNSPEC: one lookup, as the system makes it, so that a hosts-file entry
// of either family answers for the name), thread-safe: the addresses in the
// resolver's order. False with LastError set on failure.
bool ResolveName(const std::string& host, int family, std::vector<sockaddr_storage>& out);
// Reverse lookup of an IPv4 or IPv6 address (in6.arpa for IPv6).
bool ResolveAddress(in_addr address, std::string& name);
bool ResolveAddress(const sockaddr_storage& address, std::string& name);
// The index of a network interface by name, 0 when there is none.
unsigned InterfaceIndex(const std::string& name);
// The name of a network interface by index, empty when there is none.
std::string InterfaceName(unsigned index);
// Service database: port in host order; names = official name then aliases.
bool ServiceByName(const std::string& name, uint16_t& port);
bool ServiceByPort(uint16_t port, std::vector<std::string>& names);
std::string HostName();
// IPv4 interface addresses that are up: the default-route interface first,
// loopback last. False with LastError set when they cannot be read.
bool LocalIPv4Addresses(std::vector<in_addr>& out);

// Monotonic milliseconds, wrapping at 2^32.
uint32_t TickCount();
// Minutes to add to local time to get UTC (positive west of Greenwich),
// daylight time included when in force. False when the zone is unknown.
bool LocalZoneBias(int& biasMinutes);

}  // namespace quillon::platform
