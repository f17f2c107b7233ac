// Linux side of the socket layer: every system call the network code makes,
// with errno and resolver codes turned into the socket library's numbers.
#include "net/socket/platform.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/errqueue.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace quillon::platform {
namespace {

thread_local int tLastError = 0;

struct Fault {
  std::atomic<unsigned> remaining{0};  // 0: disarmed; 1: the next call fails
  std::atomic<int> errnoValue{0};
};
std::array<Fault, static_cast<size_t>(Call::Count_)> gFaults;
std::atomic<bool> gAnyFault{false};

// Records the failure of a call that set errno.
template <typename T>
T Failed(T result) {
  if (result == -1) tLastError = TranslateErrno(errno);
  return result;
}

sockaddr_in* AsIn(sockaddr* a) {
  return reinterpret_cast<sockaddr_in*>(a);
}

}  // namespace

void FaultInjector::FailNth(Call call, unsigned nth, int errnoValue) {
  auto& f = gFaults[static_cast<size_t>(call)];
  f.errnoValue.store(errnoValue);
  f.remaining.store(nth);
  gAnyFault.store(nth != 0 || gAnyFault.load());
}

void FaultInjector::Reset() {
  for (auto& f : gFaults) f.remaining.store(0);
  gAnyFault.store(false);
}

bool FaultInjector::ShouldFail(Call call) {
  if (!gAnyFault.load(std::memory_order_relaxed)) return false;
  auto& f = gFaults[static_cast<size_t>(call)];
  unsigned left = f.remaining.load();
  while (left != 0) {
    if (f.remaining.compare_exchange_weak(left, left - 1)) {
      if (left == 1) {
        errno = f.errnoValue.load();
        return true;
      }
      return false;
    }
  }
  return false;
}

int LastError() {
  return tLastError;
}
void SetLastError(int code) {
  tLastError = code;
}

int TranslateErrno(int e) {
  switch (e) {
    case 0:
      return 0;
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EWOULDBLOCK:
      return 10035;  // EAGAIN has the same value on Linux
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;  // ENOTSUP has the same value on Linux
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
    case EPIPE:
      return 10058;  // Linux reports a send after shutdown as EPIPE
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return kUntranslatedBase + e;
  }
}

int TranslateResolverError(int eai, int errnoValue) {
  switch (eai) {
    case 0:
      return 0;
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return 11001;  // host not found
    case EAI_AGAIN:
      return 11002;  // temporary failure of the name server
    case EAI_FAIL:
      return 11003;  // non-recoverable failure
    case EAI_MEMORY:
      return 10055;
    case EAI_FAMILY:
      return 10047;
    case EAI_SYSTEM:
      return TranslateErrno(errnoValue);
    default:
      return 11003;
  }
}

int Socket(int family, int type, int protocol) {
  if (FaultInjector::ShouldFail(Call::Socket)) return Failed(-1);
  return Failed(::socket(family, type | SOCK_CLOEXEC, protocol));
}

socklen_t AddressLength(const sockaddr_storage& addr) {
  return addr.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

int Bind(int fd, const sockaddr_storage& addr) {
  if (FaultInjector::ShouldFail(Call::Bind)) return Failed(-1);
  return Failed(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), AddressLength(addr)));
}

int Connect(int fd, const sockaddr_storage& addr) {
  if (FaultInjector::ShouldFail(Call::Connect)) return Failed(-1);
  int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), AddressLength(addr));
  if (r == -1 && errno == EINTR) {
    // An interrupted connect goes on in the kernel (calling connect again
    // would report EALREADY): wait for it to finish and take its outcome.
    pollfd p{fd, POLLOUT, 0};
    int w;
    do {
      w = ::poll(&p, 1, -1);
    } while (w == -1 && errno == EINTR);
    int error = 0;
    socklen_t len = sizeof error;
    if (w == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0) {
      r = error == 0 ? 0 : -1;
      errno = error;
    }
  }
  return Failed(r);
}

int Accept(int fd, sockaddr_storage& peer) {
  // Zeroed first: a failed call leaves a record that reads as no address.
  std::memset(&peer, 0, sizeof peer);
  if (FaultInjector::ShouldFail(Call::Accept)) return Failed(-1);
  socklen_t len = sizeof peer;
  return Failed(::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
}

int Listen(int fd, int backlog) {
  if (FaultInjector::ShouldFail(Call::Listen)) return Failed(-1);
  return Failed(::listen(fd, backlog));
}

long Recv(int fd, void* buffer, size_t length, int flags) {
  if (FaultInjector::ShouldFail(Call::Recv)) return Failed(-1L);
  return Failed(static_cast<long>(::recv(fd, buffer, length, flags)));
}

long RecvFrom(int fd, void* buffer, size_t length, int flags, sockaddr_storage& from) {
  std::memset(&from, 0, sizeof from);
  if (FaultInjector::ShouldFail(Call::RecvFrom)) return Failed(-1L);
  socklen_t len = sizeof from;
  return Failed(static_cast<long>(
      ::recvfrom(fd, buffer, length, flags, reinterpret_cast<sockaddr*>(&from), &len)));
}

long Send(int fd, const void* buffer, size_t length, int flags) {
  if (FaultInjector::ShouldFail(Call::Send)) return Failed(-1L);
  return Failed(static_cast<long>(::send(fd, buffer, length, flags | MSG_NOSIGNAL)));
}

long SendTo(int fd, const void* buffer, size_t length, int flags, const sockaddr_storage& to) {
  if (FaultInjector::ShouldFail(Call::SendTo)) return Failed(-1L);
  return Failed(
      static_cast<long>(::sendto(fd, buffer, length, flags | MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(&to), AddressLength(to))));
}

long RecvMsg(int fd, void* buffer, size_t length, int flags, MessageDetails& details) {
  details = MessageDetails{};
  if (FaultInjector::ShouldFail(Call::RecvMsg)) return Failed(-1L);
  iovec io{buffer, length};
  // Room for IP_TTL and IP_RECVERR (extended error plus offender address).
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int)) +
                                CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in6)) + 64];
  sockaddr_storage from{};
  msghdr m{};
  m.msg_name = &from;
  m.msg_namelen = sizeof from;
  m.msg_iov = &io;
  m.msg_iovlen = 1;
  m.msg_control = control;
  m.msg_controllen = sizeof control;
  const long r = static_cast<long>(::recvmsg(fd, &m, flags));
  if (r == -1) return Failed(r);
  if (from.ss_family == AF_INET6)
    std::memcpy(&details.from6, &from, sizeof details.from6);
  else
    std::memcpy(&details.from, &from, sizeof details.from);
  for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
    const bool v4 = c->cmsg_level == IPPROTO_IP;
    const bool v6 = c->cmsg_level == IPPROTO_IPV6;
    if (!v4 && !v6) continue;
    if (((v4 && c->cmsg_type == IP_TTL) || (v6 && c->cmsg_type == IPV6_HOPLIMIT)) &&
        c->cmsg_len >= CMSG_LEN(sizeof(int))) {
      std::memcpy(&details.ttl, CMSG_DATA(c), sizeof(int));
    } else if (((v4 && c->cmsg_type == IP_RECVERR) || (v6 && c->cmsg_type == IPV6_RECVERR)) &&
               c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
      sock_extended_err e;
      std::memcpy(&e, CMSG_DATA(c), sizeof e);
      details.extendedError = true;
      details.errorOrigin = e.ee_origin;
      details.errorType = e.ee_type;
      details.errorCode = e.ee_code;
      details.errorInfo = e.ee_info;
      // The offender's address follows the extended error (SO_EE_OFFENDER).
      if (v6 && c->cmsg_len >= CMSG_LEN(sizeof e + sizeof(sockaddr_in6))) {
        sockaddr_in6 o;
        std::memcpy(&o, CMSG_DATA(c) + sizeof e, sizeof o);
        if (o.sin6_family == AF_INET6) details.offender6 = o.sin6_addr;
      } else if (c->cmsg_len >= CMSG_LEN(sizeof e + sizeof(sockaddr_in))) {
        sockaddr_in o;
        std::memcpy(&o, CMSG_DATA(c) + sizeof e, sizeof o);
        if (o.sin_family == AF_INET) details.offender = o.sin_addr;
      }
    }
  }
  return r;
}

int SetOption(int fd, int level, int option, const void* value, socklen_t length) {
  if (FaultInjector::ShouldFail(Call::SetOption)) return Failed(-1);
  return Failed(::setsockopt(fd, level, option, value, length));
}

int GetOption(int fd, int level, int option, void* value, socklen_t& length) {
  if (FaultInjector::ShouldFail(Call::GetOption)) return Failed(-1);
  return Failed(::getsockopt(fd, level, option, value, &length));
}

int Shutdown(int fd, int how) {
  if (FaultInjector::ShouldFail(Call::Shutdown)) return Failed(-1);
  return Failed(::shutdown(fd, how));
}

int Close(int fd) {
  if (FaultInjector::ShouldFail(Call::Close)) return Failed(-1);
  // Linux releases the descriptor even when close reports EINTR: never retry.
  return Failed(::close(fd));
}

int PeerName(int fd, sockaddr_storage& addr) {
  std::memset(&addr, 0, sizeof addr);
  if (FaultInjector::ShouldFail(Call::PeerName)) return Failed(-1);
  socklen_t len = sizeof addr;
  return Failed(::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len));
}

int SockName(int fd, sockaddr_storage& addr) {
  std::memset(&addr, 0, sizeof addr);
  if (FaultInjector::ShouldFail(Call::SockName)) return Failed(-1);
  socklen_t len = sizeof addr;
  return Failed(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len));
}

int Wait(std::vector<int>* readFds, std::vector<int>* writeFds, std::vector<int>* errorFds,
         int timeoutMs) {
  if (FaultInjector::ShouldFail(Call::Wait)) return Failed(-1);
  // poll rather than select: select's fd_set cannot hold descriptors from
  // 1024 up, and writing one there corrupts the stack.
  struct Entry {
    std::vector<int>* list;
    short events;
  };
  const Entry entries[] = {{readFds, POLLIN}, {writeFds, POLLOUT}, {errorFds, POLLPRI}};
  std::vector<pollfd> fds;
  for (const auto& e : entries)
    if (e.list)
      for (int fd : *e.list) fds.push_back(pollfd{fd, e.events, 0});

  const uint32_t start = TickCount();
  int r;
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs >= 0) {
      const uint32_t spent = TickCount() - start;
      wait = spent >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(spent);
    }
    r = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : wait);
    if (r != -1 || errno != EINTR) break;
  }
  if (r == -1) return Failed(-1);

  // A descriptor that poll flags as invalid is a failure of the whole wait,
  // as select reports a bad descriptor.
  for (const auto& p : fds)
    if (p.revents & POLLNVAL) {
      tLastError = TranslateErrno(EBADF);
      return -1;
    }

  int ready = 0;
  size_t at = 0;
  for (const auto& e : entries) {
    if (!e.list) continue;
    std::vector<int> kept;
    for (size_t i = 0; i < e.list->size(); ++i, ++at) {
      const short re = fds[at].revents;
      bool on = false;
      if (e.events == POLLIN) on = re & (POLLIN | POLLHUP | POLLERR);
      if (e.events == POLLOUT) on = re & (POLLOUT | POLLHUP | POLLERR);
      if (e.events == POLLPRI) on = re & POLLPRI;
      if (on) kept.push_back(fds[at].fd);
    }
    ready += static_cast<int>(kept.size());
    *e.list = std::move(kept);
  }
  return ready;
}

bool ResolveName(const std::string& host, int family, std::vector<sockaddr_storage>& out) {
  out.clear();
  if (FaultInjector::ShouldFail(Call::ResolveName)) {
    tLastError = 11001;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
  addrinfo* res = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &res);
  if (rc != 0) {
    tLastError = TranslateResolverError(rc, errno);
    return false;
  }
  for (addrinfo* p = res; p; p = p->ai_next) {
    const bool wanted = family == AF_UNSPEC ? p->ai_family == AF_INET || p->ai_family == AF_INET6
                                            : p->ai_family == family;
    if (!wanted || p->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage a{};
    std::memcpy(&a, p->ai_addr, p->ai_addrlen);
    out.push_back(a);
  }
  ::freeaddrinfo(res);
  if (out.empty()) {
    tLastError = 11001;
    return false;
  }
  return true;
}

bool ResolveAddress(in_addr address, std::string& name) {
  sockaddr_storage sa{};
  auto* v4 = AsIn(reinterpret_cast<sockaddr*>(&sa));
  v4->sin_family = AF_INET;
  v4->sin_addr = address;
  return ResolveAddress(sa, name);
}

bool ResolveAddress(const sockaddr_storage& address, std::string& name) {
  if (FaultInjector::ShouldFail(Call::ResolveAddress)) {
    tLastError = 11001;
    return false;
  }
  char host[NI_MAXHOST];
  const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&address), AddressLength(address),
                               host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    tLastError = TranslateResolverError(rc, errno);
    return false;
  }
  name = host;
  return true;
}

unsigned InterfaceIndex(const std::string& name) {
  return ::if_nametoindex(name.c_str());
}

std::string InterfaceName(unsigned index) {
  char name[IF_NAMESIZE] = {};
  return ::if_indextoname(index, name) ? std::string(name) : std::string();
}

bool ServiceByName(const std::string& name, uint16_t& port) {
  if (FaultInjector::ShouldFail(Call::Services)) return false;
  servent entry{};
  servent* found = nullptr;
  std::array<char, 4096> buf{};
  if (::getservbyname_r(name.c_str(), nullptr, &entry, buf.data(), buf.size(), &found) != 0 ||
      !found)
    return false;
  port = ntohs(static_cast<uint16_t>(found->s_port));
  return true;
}

bool ServiceByPort(uint16_t port, std::vector<std::string>& names) {
  if (FaultInjector::ShouldFail(Call::Services)) return false;
  servent entry{};
  servent* found = nullptr;
  std::array<char, 4096> buf{};
  if (::getservbyport_r(htons(port), nullptr, &entry, buf.data(), buf.size(), &found) != 0 ||
      !found)
    return false;
  names.emplace_back(found->s_name);
  for (char** a = found->s_aliases; a && *a; ++a) names.emplace_back(*a);
  return true;
}

std::string HostName() {
  char buf[256] = {};
  if (FaultInjector::ShouldFail(Call::HostName) || ::gethostname(buf, sizeof buf - 1) != 0)
    return {};
  return buf;
}

namespace {
// Name of the interface that carries the IPv4 default route, from the
// kernel's routing table (/proc/net/route: destination 00000000, mask 0).
std::string DefaultRouteInterface() {
  std::ifstream in("/proc/net/route");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
    if (fields >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask &&
        dest == "00000000" && mask == "00000000")
      return iface;
  }
  return {};
}
}  // namespace

bool LocalIPv4Addresses(std::vector<in_addr>& out) {
  out.clear();
  ifaddrs* list = nullptr;
  if (FaultInjector::ShouldFail(Call::LocalAddresses) || ::getifaddrs(&list) != 0) {
    tLastError = TranslateErrno(errno);
    return false;
  }
  const std::string preferred = DefaultRouteInterface();
  std::vector<in_addr> first, middle, loopback;
  for (ifaddrs* p = list; p; p = p->ifa_next) {
    if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET || !(p->ifa_flags & IFF_UP)) continue;
    const in_addr a = AsIn(p->ifa_addr)->sin_addr;
    if (p->ifa_flags & IFF_LOOPBACK)
      loopback.push_back(a);
    else if (!preferred.empty() && preferred == p->ifa_name)
      first.push_back(a);
    else
      middle.push_back(a);
  }
  ::freeifaddrs(list);
  out = std::move(first);
  out.insert(out.end(), middle.begin(), middle.end());
  out.insert(out.end(), loopback.begin(), loopback.end());
  return true;
}

uint32_t TickCount() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

bool LocalZoneBias(int& biasMinutes) {
  if (FaultInjector::ShouldFail(Call::ZoneQuery)) return false;
  const time_t now = ::time(nullptr);
  tm local{};
  if (!::localtime_r(&now, &local)) return false;
  // tm_gmtoff is seconds east of UTC with daylight time already applied.
  biasMinutes = static_cast<int>(-local.tm_gmtoff / 60);
  return true;
}

}  // namespace quillon::platform
