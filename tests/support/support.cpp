#include "tests/support/support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace quillon::test {

bool IsRoot() {
  return ::geteuid() == 0;
}

int Run(const std::string& command, std::string* output) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::array<char, 4096> buf;
  std::string out;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  const int status = ::pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string UniqueName(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + std::to_string(::getpid()) + "x" + std::to_string(counter++);
}

int FreePort(bool udp) {
  const int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

std::string LibraryFile(const std::string& soname) {
  std::string escaped;
  for (char c : soname) {
    if (c == '.') escaped += '\\';
    escaped += c;
  }
  std::string path;
  Run("ldconfig -p | sed -n 's/^[[:space:]]*" + escaped + " .*=> //p' | head -1", &path);
  while (!path.empty() && (path.back() == '\n' || path.back() == ' ')) path.pop_back();
  std::error_code ec;
  return path.empty() ? path : std::filesystem::canonical(path, ec).string();
}

namespace {
// Removes namespaces (and their /etc/netns folders) that an earlier test
// process of this prefix left behind when it was killed before its
// destructors ran. Names are <prefix><pid>x<n>; a pid with no process is gone.
void ReapStale(const std::string& prefix) {
  std::string list;
  if (Run("ip netns list", &list) != 0) return;
  size_t at = 0;
  while (at < list.size()) {
    size_t end = list.find('\n', at);
    if (end == std::string::npos) end = list.size();
    const std::string line = list.substr(at, end - at);
    at = end + 1;
    const std::string name = line.substr(0, line.find(' '));
    if (name.rfind(prefix, 0) != 0) continue;
    const std::string rest = name.substr(prefix.size());
    const size_t x = rest.find('x');
    if (x == 0 || x == std::string::npos || rest.find_first_not_of("0123456789") != x) continue;
    if (::access(("/proc/" + rest.substr(0, x)).c_str(), F_OK) == 0) continue;
    Run("ip netns delete " + name);
    Run("rm -rf /etc/netns/" + name);
  }
}
}  // namespace

NetNs::NetNs(const std::string& prefix) : name_(UniqueName(prefix)) {
  ReapStale(prefix);
  Run("ip netns add " + name_);
  Exec("ip link set lo up");
}

NetNs::~NetNs() {
  Run("ip netns delete " + name_);
}

int NetNs::Exec(const std::string& command, std::string* output) const {
  return Run("ip netns exec " + name_ + " sh -c '" + command + "'", output);
}

bool NetNs::EnterFromThisThread() const {
  const int fd = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
  ::close(fd);
  return ok;
}

TcpServer::TcpServer(Script script) : script_(std::move(script)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listenFd_, 16);
  socklen_t len = sizeof a;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  if (::pipe2(wakeFd_, O_CLOEXEC) != 0) wakeFd_[0] = wakeFd_[1] = -1;
  thread_ = std::thread([this] { Loop(); });
}

TcpServer::~TcpServer() {
  if (wakeFd_[1] >= 0) (void)!::write(wakeFd_[1], "x", 1);
  if (thread_.joinable()) thread_.join();
  ::close(listenFd_);
  if (wakeFd_[0] >= 0) ::close(wakeFd_[0]);
  if (wakeFd_[1] >= 0) ::close(wakeFd_[1]);
}

void TcpServer::Loop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++accepted_;
    try {
      script_(fd);
    } catch (...) {
    }
    ::close(fd);
  }
}

bool SendAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string RecvUntilClose(int fd, int timeoutMs) {
  std::string out;
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) break;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string RecvLine(int fd, int timeoutMs) {
  std::string out;
  char c;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) break;
    if (::recv(fd, &c, 1, 0) != 1) break;
    out.push_back(c);
    if (c == '\n') break;
  }
  return out;
}

}  // namespace quillon::test
