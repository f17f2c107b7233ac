#include "tests/dns/dns_test_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/support/support.h"

namespace quillon::test {

namespace {

int UdpSocketOn(const char* ip, int port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, ip, &a.sin_addr);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

}  // namespace

Wire& Wire::labels(std::string_view dotted) {
  while (!dotted.empty()) {
    const size_t dot = dotted.find('.');
    const std::string_view label = dotted.substr(0, dot);
    u8(static_cast<int>(label.size())).raw(label);
    if (dot == std::string_view::npos) break;
    dotted.remove_prefix(dot + 1);
  }
  return *this;
}

Wire ReplyStart(int an, int ns, int ar, int id, int flags) {
  Wire w;
  w.header(id, flags, 1, an, ns, ar).name("example.com").u16(15).u16(1);
  return w;
}

FakeDnsServer::FakeDnsServer(Script script, int port) : script_(std::move(script)) {
  fd_ = UdpSocketOn("127.0.0.1", port);
  port_ = LocalPort(fd_);
  otherPortFd_ = UdpSocketOn("127.0.0.1", 0);
  otherAddressFd_ = UdpSocketOn("127.0.0.2", port_);
  thread_ = std::thread([this] { Loop(); });
}

FakeDnsServer::~FakeDnsServer() {
  stop_ = true;
  thread_.join();
  for (int fd : {fd_, otherPortFd_, otherAddressFd_})
    if (fd >= 0) ::close(fd);
}

std::string FakeDnsServer::lastQuery() const {
  std::lock_guard guard(lock_);
  return lastQuery_;
}

bool FakeDnsServer::WaitSent(int count, int timeoutMs) const {
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (sent_.load() >= count) return true;
    ::usleep(5000);
  }
  return sent_.load() >= count;
}

void FakeDnsServer::Loop() {
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) != 1) continue;
    char buffer[4096];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) continue;
    const std::string query(buffer, static_cast<size_t>(n));
    {
      std::lock_guard guard(lock_);
      lastQuery_ = query;
    }
    ++queries_;
    for (const Datagram& d : script_(query)) {
      const int fd = d.fromOtherAddress ? otherAddressFd_ : d.fromOtherPort ? otherPortFd_ : fd_;
      ::sendto(fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
      ++sent_;
    }
  }
}

NsdServer::NsdServer(const std::vector<Zone>& zones) {
  namespace fs = std::filesystem;
  if (::access("/usr/sbin/nsd", X_OK) != 0) {
    why_ = "nsd is not installed";
    return;
  }
  folder_ = (fs::temp_directory_path() / UniqueName("quillon-nsd")).string();
  fs::create_directories(folder_);
  port_ = FreePort(true);
  {
    std::ofstream conf(folder_ + "/nsd.conf");
    conf << "server:\n"
         << "  port: " << port_ << "\n"
         << "  ip-address: 127.0.0.1\n"
         << "  do-ip6: no\n"
         << "  username: \"\"\n"
         << "  chroot: \"\"\n"
         << "  server-count: 1\n"
         << "  database: \"\"\n"
         << "  zonesdir: \"" << folder_ << "\"\n"
         << "  pidfile: \"" << folder_ << "/nsd.pid\"\n"
         << "  xfrdfile: \"" << folder_ << "/xfrd.state\"\n"
         << "  zonelistfile: \"" << folder_ << "/zone.list\"\n"
         << "  logfile: \"" << folder_ << "/nsd.log\"\n"
         << "  verbosity: 1\n"
         << "remote-control:\n"
         << "  control-enable: no\n";
    for (const Zone& z : zones) {
      conf << "zone:\n  name: \"" << z.name << "\"\n  zonefile: \"" << z.name << ".zone\"\n";
      std::ofstream(folder_ + "/" + z.name + ".zone") << z.text;
    }
  }
  const std::string conf = folder_ + "/nsd.conf";
  pid_ = ::fork();
  if (pid_ == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl("/usr/sbin/nsd", "nsd", "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Up to 10 s for the zones to load, probing every 50 ms or so.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ready_ && std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      why_ = "nsd exited at start; see its log";
      return;
    }
    ready_ = true;
    for (const Zone& z : zones) ready_ = ready_ && Answers(z.name);
    if (!ready_) ::usleep(50000);
  }
  if (!ready_) why_ = "nsd did not answer within 10 s";
}

bool NsdServer::Answers(const std::string& zone) const {
  const int fd = UdpSocketOn("127.0.0.1", 0);
  Wire query;
  query.header(0x0101, 0, 1, 0, 0, 0).name(zone).u16(6).u16(1);  // the zone's SOA
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(port_));
  ::sendto(fd, query.bytes.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  pollfd p{fd, POLLIN, 0};
  char reply[512];
  // nsd may answer REFUSED while it is still loading: only an authoritative
  // answer with the SOA means the zone is served.
  const ssize_t n = ::poll(&p, 1, 100) == 1 ? ::recv(fd, reply, sizeof reply, 0) : -1;
  ::close(fd);
  return n >= 12 && (reply[3] & 0x0F) == 0 && (reply[6] != 0 || reply[7] != 0);
}

NsdServer::~NsdServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {  // up to 3 s
      gone = ::waitpid(pid_, &status, WNOHANG) == pid_;
      if (!gone) ::usleep(10000);
    }
    if (!gone) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  if (!folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
}

}  // namespace quillon::test
