// Loopback servers for the application tests; see fake_servers.h.
#include "tests/app/support/fake_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/support.h"

namespace quillon::test {

FakeDnsServer::FakeDnsServer(Reply reply, int port) : reply_(std::move(reply)) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] {
    char buffer[2048];
    while (!stop_.load()) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      sockaddr_in from{};
      socklen_t fromLen = sizeof from;
      const long n =
          ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n <= 0) continue;
      ++queries_;
      const std::string answer = reply_(std::string(buffer, static_cast<size_t>(n)));
      if (!answer.empty())
        ::sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    }
  });
}

FakeDnsServer::~FakeDnsServer() {
  stop_.store(true);
  thread_.join();
  ::close(fd_);
}

std::string Be16(uint16_t value) {
  return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string Be32(uint32_t value) {
  return Be16(value >> 16) + Be16(value & 0xFFFF);
}

std::string DnsName(const std::string& dotted) {
  std::string out;
  size_t start = 0;
  while (start < dotted.size()) {
    size_t end = dotted.find('.', start);
    if (end == std::string::npos) end = dotted.size();
    out.push_back(static_cast<char>(end - start));
    out += dotted.substr(start, end - start);
    start = end + 1;
  }
  out.push_back('\0');
  return out;
}

std::string DnsRecord(uint16_t type, const std::string& rdata) {
  return "\xC0\x0C" + Be16(type) + Be16(1) + Be32(3600) +
         Be16(static_cast<uint16_t>(rdata.size())) + rdata;
}

std::string DnsReply(const std::string& query, int rcode, const std::vector<std::string>& answers) {
  // The question runs from offset 12 to its name's end plus type and class.
  size_t p = 12;
  while (p < query.size() && query[p] != '\0') p += static_cast<unsigned char>(query[p]) + 1;
  const std::string question = query.substr(12, p + 5 - 12);
  std::string reply = query.substr(0, 2) + Be16(static_cast<uint16_t>(0x8180 | rcode)) + Be16(1) +
                      Be16(static_cast<uint16_t>(answers.size())) + Be16(0) + Be16(0);
  reply += question;
  for (const auto& a : answers) reply += a;
  return reply;
}

std::string RecvHttpHead(int fd, int timeoutMs) {
  std::string head;
  for (;;) {
    const std::string line = RecvLine(fd, timeoutMs);
    if (line.empty()) break;
    head += line;
    if (line == "\r\n" || line == "\n") break;
  }
  return head;
}

}  // namespace quillon::test
