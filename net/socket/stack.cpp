#include "net/socket/stack.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "net/socket/error_text.h"
#include "net/socket/exceptions.h"
#include "net/socket/platform.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

std::atomic<bool> gLibraryStarted{false};

constexpr int kHostNotFound = 11001;
constexpr int kInvalidArgument = 10022;

const sockaddr_in& AsV4(const sockaddr_storage& a) {
  return *reinterpret_cast<const sockaddr_in*>(&a);
}
const sockaddr_in6& AsV6(const sockaddr_storage& a) {
  return *reinterpret_cast<const sockaddr_in6*>(&a);
}

sockaddr_storage MakeRecord(int family, uint32_t addressNet, int port) {
  sockaddr_storage storage;
  std::memset(&storage, 0, sizeof storage);
  auto* a = reinterpret_cast<sockaddr_in*>(&storage);
  a->sin_family = static_cast<sa_family_t>(family);
  a->sin_port = htons(static_cast<uint16_t>(port));
  a->sin_addr.s_addr = addressNet;
  return storage;
}

// The scope id a zone stands for: its number, or the index of the
// interface it names (0 when there is none).
uint32_t ScopeIdOf(const std::string& zone) {
  if (zone.empty()) return 0;
  const int64_t numeric = StrToInt64Def(zone, -1);
  return numeric >= 0 && numeric <= 0xFFFFFFFF ? static_cast<uint32_t>(numeric)
                                               : platform::InterfaceIndex(zone);
}

// An IPv6 record of `parsed` (the any-address when there is none).
sockaddr_storage MakeRecord6(const TIdIPv6Address* parsed, int port) {
  sockaddr_storage storage;
  std::memset(&storage, 0, sizeof storage);
  auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
  a->sin6_family = AF_INET6;
  a->sin6_port = htons(static_cast<uint16_t>(port));
  if (parsed) {
    std::memcpy(&a->sin6_addr, parsed->Bytes.data(), 16);
    a->sin6_scope_id = ScopeIdOf(parsed->Zone);
  }
  return storage;
}

// An IPv6 record; false (with the invalid-argument error set) when `ip` is
// neither empty (any address) nor IPv6 text. A zone names an interface or
// gives its index.
bool MakeRecord6(const std::string& ip, int port, sockaddr_storage& storage) {
  if (ip.empty()) {
    storage = MakeRecord6(nullptr, port);  // in6addr_any
    return true;
  }
  const auto parsed = ParseIPv6(ip);
  if (!parsed) {
    platform::SetLastError(kInvalidArgument);
    return false;
  }
  storage = MakeRecord6(&*parsed, port);
  return true;
}

// The record for `ip` in `family`; IPv6 text always makes an IPv6 record.
// Empty text is the any-address where `emptyIsAny` (binding).
bool MakeAnyRecord(TIdStack& stack, int family, const std::string& ip, int port, bool emptyIsAny,
                   sockaddr_storage& out) {
  if (family == Id_PF_INET6) return MakeRecord6(ip, port, out);
  if (const auto v6 = ParseIPv6(ip)) {
    out = MakeRecord6(&*v6, port);
    return true;
  }
  out = MakeRecord(family, emptyIsAny && ip.empty() ? INADDR_ANY : stack.TextToAddress32(ip), port);
  return true;
}

std::string RecordText(const sockaddr_in& a) {
  const auto* b = reinterpret_cast<const uint8_t*>(&a.sin_addr.s_addr);
  return Sprintf("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

// The address text of a record of either family; a link-local IPv6 address
// keeps its interface as the zone.
std::string RecordText(const sockaddr_storage& a) {
  if (a.ss_family != AF_INET6) return RecordText(AsV4(a));
  const sockaddr_in6& v6 = AsV6(a);
  TIdIPv6Bytes bytes;
  std::memcpy(bytes.data(), &v6.sin6_addr, 16);
  std::string zone;
  if (v6.sin6_scope_id != 0) {
    zone = platform::InterfaceName(v6.sin6_scope_id);
    if (zone.empty()) zone = std::to_string(v6.sin6_scope_id);
  }
  return IPv6ToText(bytes, zone);
}

int RecordPort(const sockaddr_storage& a) {
  return ntohs(a.ss_family == AF_INET6 ? AsV6(a).sin6_port : AsV4(a).sin_port);
}

}  // namespace

// ---- TIdStack: the parts common to every stack ----

std::string TIdStack::LocalAddress() {
  const auto list = LocalAddresses();
  return list.empty() ? std::string() : list.front();
}

std::vector<std::string> TIdStack::LocalAddresses() {
  std::lock_guard lock(localAddressesLock_);
  RefillLocalAddresses();
  return localAddresses_;
}

std::string TIdStack::ErrorText(int code) {
  return SocketErrorMessage(code);
}

bool TIdStack::CheckSocketResult(long result, std::initializer_list<int> ignored) {
  if (result != Id_SOCKET_ERROR) return false;
  const int code = LastErrorCode();
  LastSocketError.store(code);
  for (int c : ignored)
    if (c == code) return true;
  RaiseSocketFailure(code);
}

void TIdStack::RaiseSocketFailure(int code) {
  throw EIdSocketError(code, ErrorText(code));
}

TIdStackSocketHandle TIdStack::NewSocket(int type, int protocol, int family) {
  const TIdStackSocketHandle s = SockCreate(family, type, protocol);
  if (s == Id_INVALID_SOCKET) throw EIdInvalidSocket("Impossible d'allouer le socket.");
  return s;
}

std::string TIdStack::ResolveHostName(const std::string& host, int family) {
  const auto notFound = [this]() -> std::string {
    platform::SetLastError(kHostNotFound);
    CheckSocketResult(Id_SOCKET_ERROR);
    return {};
  };
  constexpr std::string_view kLocalhost = "LOCALHOST";
  const bool localhost =
      host.size() == kLocalhost.size() &&
      std::equal(host.begin(), host.end(), kLocalhost.begin(),
                 [](char c, char upper) { return (c >= 'a' && c <= 'z' ? c - 32 : c) == upper; });
  if (localhost) return family == Id_PF_INET6 ? "::1" : "127.0.0.1";
  if (IsAddressLiteral(host)) return family == Id_PF_INET6 ? notFound() : host;
  if (const auto v6 = ParseIPv6(host)) {
    if (family == Id_PF_INET) return notFound();
    return IPv6ToText(v6->Bytes, v6->Zone);
  }
  return HostAddressOf(host, family);
}

bool TIdStack::IsIPLiteral(const std::string& text) {
  return IsAddressLiteral(text) || IsIPv6Literal(text);
}

bool TIdStack::SameAddress(const std::string& a, const std::string& b) {
  // The reading of IsAddressLiteral and TextToAddress: four numbers 0..255.
  const auto v4 = [](const std::string& text) -> std::optional<TIdAddressBytes> {
    std::string rest = text;
    TIdAddressBytes bytes{};
    for (size_t i = 0; i < 4; ++i) {
      const int v = StrToIntDef(i < 3 ? SplitOff(rest, ".") : rest, -1);
      if (v < 0 || v > 255) return std::nullopt;
      bytes[i] = static_cast<uint8_t>(v);
    }
    return bytes;
  };
  if (const auto a4 = v4(a)) {
    const auto b4 = v4(b);
    return b4 && *a4 == *b4;
  }
  const auto a6 = ParseIPv6(a);
  const auto b6 = ParseIPv6(b);
  return a6 && b6 && a6->Bytes == b6->Bytes && ScopeIdOf(a6->Zone) == ScopeIdOf(b6->Zone);
}

bool TIdStack::IsAddressLiteral(const std::string& text) {
  // No part with a colon converts to a number: IPv6 text is refused at once.
  if (text.find(':') != std::string::npos) return false;
  std::string rest = text;
  std::string parts[4];
  for (int i = 0; i < 3; ++i) parts[i] = SplitOff(rest, ".");
  parts[3] = rest;
  for (const auto& p : parts) {
    const int v = StrToIntDef(p, -1);
    if (v < 0 || v > 255) return false;
  }
  return true;
}

std::string TIdStack::AddressToText(const TIdAddressBytes& b) {
  return Sprintf("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

TIdAddressBytes TIdStack::TextToAddress(const std::string& ip) {
  // Plain dotted decimal (what every datagram's destination is) is read
  // here at once, to the same bytes as below; any other text goes the long way.
  TIdAddressBytes fast{};
  size_t part = 0, digits = 0;
  unsigned value = 0;
  bool plain = !ip.empty();
  for (const char c : ip) {
    if (c >= '0' && c <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(c - '0');
      ++digits;
    } else if (c == '.' && digits > 0 && part < 3) {
      fast[part++] = static_cast<uint8_t>(value);
      value = 0;
      digits = 0;
    } else {
      plain = false;
      break;
    }
  }
  if (plain && part == 3 && digits > 0) {
    fast[3] = static_cast<uint8_t>(value);
    return fast;
  }
  std::string rest = ip;
  TIdAddressBytes out{};
  for (int i = 0; i < 3; ++i) out[i] = static_cast<uint8_t>(StrToInt(SplitOff(rest, ".")));
  out[3] = static_cast<uint8_t>(StrToInt(rest));
  return out;
}

uint32_t TIdStack::TextToAddress32(const std::string& ip) {
  const TIdAddressBytes b = TextToAddress(ip);
  uint32_t v;
  std::memcpy(&v, b.data(), 4);  // the bytes stay in network order in memory
  return v;
}

// ---- TIdStackPosix ----

TIdStackPosix::TIdStackPosix() {
  if (gLibraryStarted.load()) return;
  TWSAData data;
  if (StartSocketLibrary(0x0202, data) != 0)
    throw EIdStackInitializationFailed("Erreur d'initialisation Winsock.");
  gLibraryStarted.store(true);
}

bool TIdStackPosix::LibraryStarted() {
  return gLibraryStarted.load();
}

void TIdStackPosix::RefillLocalAddresses() {
  RequireSocketLibrary("gethostbyname");
  localAddresses_.clear();
  std::vector<in_addr> addresses;
  if (!platform::LocalIPv4Addresses(addresses)) CheckSocketResult(Id_SOCKET_ERROR);
  for (const in_addr& a : addresses) {
    sockaddr_in r{};
    r.sin_addr = a;
    localAddresses_.push_back(RecordText(r));
  }
}

TIdStackSocketHandle TIdStackPosix::SockAccept(TIdStackSocketHandle s, std::string& ip, int& port) {
  RequireSocketLibrary("accept");
  sockaddr_storage peer{};
  const int r = platform::Accept(s, peer);
  ip = RecordText(peer);
  port = RecordPort(peer);
  return r;
}

int TIdStackPosix::SockBind(TIdStackSocketHandle s, int family, const std::string& ip, int port) {
  RequireSocketLibrary("bind");
  sockaddr_storage record;
  if (!MakeAnyRecord(*this, family, ip, port, true, record)) return Id_SOCKET_ERROR;
  return platform::Bind(s, record);
}

int TIdStackPosix::SockClose(TIdStackSocketHandle s) {
  RequireSocketLibrary("closesocket");
  return platform::Close(s);
}

int TIdStackPosix::SockConnect(TIdStackSocketHandle s, int family, const std::string& ip,
                               int port) {
  RequireSocketLibrary("connect");
  sockaddr_storage record;
  if (!MakeAnyRecord(*this, family, ip, port, false, record)) return Id_SOCKET_ERROR;
  return platform::Connect(s, record);
}

std::string TIdStackPosix::HostAddressOf(const std::string& host, int family) {
  RequireSocketLibrary("gethostbyname");
  std::vector<sockaddr_storage> addresses;
  if (family != Id_PF_UNSPEC) {
    if (!platform::ResolveName(host, family == Id_PF_INET6 ? AF_INET6 : AF_INET, addresses))
      CheckSocketResult(Id_SOCKET_ERROR);
    return RecordText(addresses.front());
  }
  // One lookup for both families, as the system's own rule has it: the
  // hosts file first, and what it says of a name (an IPv6 address only, say)
  // is not overruled by DNS records of the other family. Among the answers
  // the first IPv4 address is preferred, else the first IPv6 one.
  if (!platform::ResolveName(host, AF_UNSPEC, addresses)) CheckSocketResult(Id_SOCKET_ERROR);
  for (const sockaddr_storage& a : addresses)
    if (a.ss_family == AF_INET) return RecordText(a);
  return RecordText(addresses.front());
}

std::string TIdStackPosix::LocalHostName() {
  RequireSocketLibrary("gethostname");
  return platform::HostName();
}

std::string TIdStackPosix::HostNameOf(const std::string& ip) {
  RequireSocketLibrary("gethostbyaddr");
  sockaddr_storage record{};
  in_addr a{};
  if (::inet_pton(AF_INET, ip.c_str(), &a) == 1) {
    record = MakeRecord(AF_INET, a.s_addr, 0);
  } else if (!IsIPv6Literal(ip) || !MakeRecord6(ip, 0, record)) {
    // Not an address at all: the lookup has nothing to find.
    platform::SetLastError(kHostNotFound);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  std::string name;
  if (!platform::ResolveAddress(record, name)) CheckSocketResult(Id_SOCKET_ERROR);
  return name;
}

int TIdStackPosix::ServicePort(const std::string& service) {
  RequireSocketLibrary("getservbyname");
  uint16_t port = 0;
  if (platform::ServiceByName(service, port)) return port;
  const int64_t n = StrToInt64Def(service, -1);
  if (n < 0 || n > 65535)
    throw EIdInvalidServiceName(Sprintf("%s n'est pas un service correct.", service.c_str()));
  return static_cast<int>(n);
}

std::vector<std::string> TIdStackPosix::ServiceNames(int port) {
  RequireSocketLibrary("getservbyport");
  std::vector<std::string> names;
  if (port >= 0 && port <= 65535) platform::ServiceByPort(static_cast<uint16_t>(port), names);
  return names;
}

uint16_t TIdStackPosix::HostToNet16(uint16_t v) {
  return htons(v);
}
uint16_t TIdStackPosix::NetToHost16(uint16_t v) {
  return ntohs(v);
}
uint32_t TIdStackPosix::HostToNet32(uint32_t v) {
  return htonl(v);
}
uint32_t TIdStackPosix::NetToHost32(uint32_t v) {
  return ntohl(v);
}

int TIdStackPosix::SockListen(TIdStackSocketHandle s, int backlog) {
  RequireSocketLibrary("listen");
  return platform::Listen(s, backlog);
}

long TIdStackPosix::SockRecv(TIdStackSocketHandle s, void* buffer, size_t length, int flags) {
  RequireSocketLibrary("recv");
  return platform::Recv(s, buffer, length, flags);
}

long TIdStackPosix::SockRecvFrom(TIdStackSocketHandle s, void* buffer, size_t length, int flags,
                                 std::string& ip, int& port) {
  RequireSocketLibrary("recvfrom");
  sockaddr_storage from{};
  const long r = platform::RecvFrom(s, buffer, length, flags, from);
  ip = RecordText(from);
  port = RecordPort(from);
  return r;
}

int TIdStackPosix::WaitSockets(std::vector<int>* readList, std::vector<int>* writeList,
                               int timeoutMs, std::vector<int>* errorList) {
  RequireSocketLibrary("select");
  for (const auto* list : {readList, writeList, errorList})
    if (list && list->size() > static_cast<size_t>(TIdSocketListPosix::kCapacity))
      throw EIdStackSetSizeExceeded("Taille d'ensemble dépassée.");
  if (timeoutMs < 0 && timeoutMs != WaitForever) {
    // A negative time limit other than "no limit" is an invalid argument.
    platform::SetLastError(10022);
    return Id_SOCKET_ERROR;
  }
  return platform::Wait(readList, writeList, errorList, timeoutMs == WaitForever ? -1 : timeoutMs);
}

long TIdStackPosix::SockSend(TIdStackSocketHandle s, const void* buffer, size_t length, int flags) {
  RequireSocketLibrary("send");
  return platform::Send(s, buffer, length, flags);
}

long TIdStackPosix::SockSendTo(TIdStackSocketHandle s, const void* buffer, size_t length, int flags,
                               const std::string& ip, int port) {
  RequireSocketLibrary("sendto");
  sockaddr_storage record;
  if (!MakeAnyRecord(*this, AF_INET, ip, port, false, record)) return Id_SOCKET_ERROR;
  return platform::SendTo(s, buffer, length, flags, record);
}

int TIdStackPosix::SockSetOption(TIdStackSocketHandle s, int level, int option, const void* value,
                                 socklen_t length) {
  RequireSocketLibrary("setsockopt");
  return platform::SetOption(s, level, option, value, length);
}

int TIdStackPosix::SockGetOption(TIdStackSocketHandle s, int level, int option, void* value,
                                 socklen_t& length) {
  RequireSocketLibrary("getsockopt");
  return platform::GetOption(s, level, option, value, length);
}

TIdStackSocketHandle TIdStackPosix::SockCreate(int family, int type, int protocol) {
  RequireSocketLibrary("socket");
  return platform::Socket(family, type, protocol);
}

int TIdStackPosix::SockShutdown(TIdStackSocketHandle s, int how) {
  RequireSocketLibrary("shutdown");
  return platform::Shutdown(s, how);
}

std::string TIdStackPosix::ErrorText(int code) {
  if (code == 11001) return Sprintf("Erreur de socket # %d\r\n%s", code, "Hôte non trouvé.");
  return TIdStack::ErrorText(code);
}

int TIdStackPosix::LastErrorCode() {
  return platform::LastError();
}

void TIdStackPosix::PeerAddressOf(TIdStackSocketHandle s, int& family, std::string& ip, int& port) {
  RequireSocketLibrary("getpeername");
  sockaddr_storage a;
  CheckSocketResult(platform::PeerName(s, a));
  family = a.ss_family;
  ip = RecordText(a);
  port = RecordPort(a);
}

void TIdStackPosix::LocalAddressOf(TIdStackSocketHandle s, int& family, std::string& ip,
                                   int& port) {
  RequireSocketLibrary("getsockname");
  sockaddr_storage a;
  CheckSocketResult(platform::SockName(s, a));
  family = a.ss_family;
  ip = RecordText(a);
  port = RecordPort(a);
}

long TIdStackPosix::SendFileOnSocket(TIdStackSocketHandle s, const std::string& fileName) {
  RequireSocketLibrary("TransmitFile");
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  long result = 0;
  if (::fstat(fd, &st) == 0) {
    off_t offset = 0;
    while (offset < st.st_size) {
      const ssize_t n = ::sendfile(s, fd, &offset, static_cast<size_t>(st.st_size - offset));
      if (n <= 0) break;
    }
    if (offset == st.st_size) result = static_cast<long>(st.st_size);
  }
  ::close(fd);
  return result;
}

// ---- TIdSocketListPosix ----

void TIdSocketListPosix::Add(TIdStackSocketHandle s) {
  if (count_ >= kCapacity) throw EIdStackSetSizeExceeded("Taille d'ensemble dépassée.");
  sockets_[static_cast<size_t>(count_++)] = s;
}

void TIdSocketListPosix::Remove(TIdStackSocketHandle s) {
  for (int i = 0; i < count_; ++i)
    if (sockets_[static_cast<size_t>(i)] == s) {
      sockets_[static_cast<size_t>(i)] = sockets_[static_cast<size_t>(count_ - 1)];
      sockets_[static_cast<size_t>(--count_)] = 0;
      return;
    }
}

TIdStackSocketHandle TIdSocketListPosix::Item(int index) const {
  if (index < 0 || index >= count_) throw EIdStackSetSizeExceeded("Taille d'ensemble dépassée.");
  return sockets_[static_cast<size_t>(index)];
}

bool TIdSocketListPosix::Contains(TIdStackSocketHandle s) const {
  for (int i = 0; i < count_; ++i)
    if (sockets_[static_cast<size_t>(i)] == s) return true;
  return false;
}

}  // namespace quillon
