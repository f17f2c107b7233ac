// What-is-my-address services for the end-to-end world, standing in for the
// public ones that Local Info asks by default: DNS on port 53 of each --dns
// address (myip.opendns.com A, o-o.myaddr.l.google.com TXT and
// whoami.cloudflare CH TXT, each answered with the asker's address) and
// HTTP on port 80 of the --http address (the body is the asker's address).
//
//   e2e_whoami_server --control DIR [--max-seconds S] --dns ADDR... --http ADDR
//
// How each address behaves is read from the file DIR/ADDR (re-read every
// 50 ms; no file means "answer"):
//   answer        the asker's address
//   lie ADDRESS   that address instead
//   silent        nothing at all (HTTP: the connection stays open, mute)
//   refuse        DNS: rcode REFUSED; HTTP: nothing listens (connections refused)
//   portal        HTTP: a captive portal's login page, status 200
// Once a behaviour is in force, DIR/ADDR.applied holds the same text.
// Every wait is bounded; the program ends by itself after --max-seconds
// (default 4 hours) or on SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t gStop = 0;
void OnSignal(int) {
  gStop = 1;
}

using Clock = std::chrono::steady_clock;

// One socket, closed with its owner.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  ~Fd() { Reset(); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

Fd Bound(int type, const std::string& address, int port) {
  Fd fd(::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
      ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      (type == SOCK_STREAM && ::listen(fd.get(), 64) != 0)) {
    std::fprintf(stderr, "e2e_whoami_server: cannot listen on %s:%d\n", address.c_str(), port);
    return Fd();
  }
  return fd;
}

std::string Mode(const std::string& control, const std::string& address) {
  std::ifstream in(control + "/" + address);
  std::string mode;
  std::getline(in, mode);
  return mode.empty() ? "answer" : mode;
}

void Applied(const std::string& control, const std::string& address, const std::string& mode) {
  const std::string path = control + "/" + address + ".applied";
  std::ofstream(path + ".tmp") << mode << "\n";
  std::rename((path + ".tmp").c_str(), path.c_str());
}

// The address a mode answers with, for an asker at `peer`.
std::string AnswerFor(const std::string& mode, const std::string& peer) {
  return mode.rfind("lie ", 0) == 0 ? mode.substr(4) : peer;
}

std::string Be16(uint16_t v) {
  return {static_cast<char>(v >> 8), static_cast<char>(v & 0xff)};
}

// The reply to one DNS query, or nothing for one this server does not read.
std::string DnsReply(const std::string& query, const std::string& mode, const std::string& peer) {
  if (query.size() < 17 || (query[2] & 0x80) != 0) return {};
  size_t p = 12;
  std::string name;
  while (p < query.size() && query[p] != 0) {
    const size_t len = static_cast<unsigned char>(query[p]);
    if (len > 63 || p + 1 + len >= query.size()) return {};
    if (!name.empty()) name += '.';
    for (size_t i = 0; i < len; ++i) name += static_cast<char>(std::tolower(query[p + 1 + i]));
    p += 1 + len;
  }
  if (p + 5 > query.size()) return {};
  const uint16_t type = static_cast<uint16_t>((static_cast<unsigned char>(query[p + 1]) << 8) |
                                              static_cast<unsigned char>(query[p + 2]));
  const uint16_t qclass = static_cast<uint16_t>((static_cast<unsigned char>(query[p + 3]) << 8) |
                                                static_cast<unsigned char>(query[p + 4]));
  const std::string question = query.substr(12, p + 5 - 12);
  int rcode = 0;
  std::string answer;
  const std::string address = AnswerFor(mode, peer);
  in_addr bytes{};
  ::inet_pton(AF_INET, address.c_str(), &bytes);
  const std::string a(reinterpret_cast<const char*>(&bytes), 4);
  const std::string txt = std::string(1, static_cast<char>(address.size())) + address;
  if (mode == "refuse") {
    rcode = 5;
  } else if (name == "myip.opendns.com" && type == 1 && qclass == 1) {
    answer = "\xC0\x0C" + Be16(1) + Be16(1) + std::string("\0\0\0\0", 4) + Be16(4) + a;
  } else if (name == "o-o.myaddr.l.google.com" && type == 16 && qclass == 1) {
    answer = "\xC0\x0C" + Be16(16) + Be16(1) + std::string("\0\0\0\x3c", 4) +
             Be16(static_cast<uint16_t>(txt.size())) + txt;
  } else if (name == "whoami.cloudflare" && type == 16 && qclass == 3) {
    answer = "\xC0\x0C" + Be16(16) + Be16(3) + std::string("\0\0\0\0", 4) +
             Be16(static_cast<uint16_t>(txt.size())) + txt;
  } else {
    rcode = 5;
  }
  const uint16_t flags = static_cast<uint16_t>(0x8400 | (query[2] & 0x01) << 8 | rcode);
  return query.substr(0, 2) + Be16(flags) + Be16(1) + Be16(answer.empty() ? 0 : 1) + Be16(0) +
         Be16(0) + question + answer;
}

std::string HttpReply(const std::string& mode, const std::string& peer) {
  std::string type = "text/plain";
  std::string body = AnswerFor(mode, peer);
  if (mode == "portal") {
    type = "text/html";
    body = "<html><head><title>Hotel Wi-Fi</title></head><body><form action=\"/login\">"
           "Room number: <input name=\"room\"></form></body></html>\n";
  }
  return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string PeerOf(const sockaddr_in& a) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return text;
}

struct Client {
  Fd fd;
  std::string peer;
  std::string head;
  Clock::time_point opened;
};

}  // namespace

int main(int argc, char** argv) {
  std::string control;
  std::vector<std::string> dnsAddresses;
  std::string httpAddress;
  long maxSeconds = 4 * 3600;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--control") control = argv[i + 1];
    else if (flag == "--dns") dnsAddresses.push_back(argv[i + 1]);
    else if (flag == "--http") httpAddress = argv[i + 1];
    else if (flag == "--max-seconds") maxSeconds = std::stol(argv[i + 1]);
  }
  if (control.empty() || dnsAddresses.empty() || httpAddress.empty()) {
    std::fprintf(stderr,
                 "usage: e2e_whoami_server --control DIR --dns ADDR... --http ADDR\n");
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::vector<Fd> dns;
  for (const auto& a : dnsAddresses) {
    dns.push_back(Bound(SOCK_DGRAM, a, 53));
    if (dns.back().get() < 0) return 1;
  }
  Fd http;
  std::map<std::string, std::string> applied;  // address -> mode in force
  std::vector<Client> clients;
  const auto end = Clock::now() + std::chrono::seconds(maxSeconds);
  while (!gStop && Clock::now() < end) {
    // The behaviours in force, re-read every round.
    std::map<std::string, std::string> mode;
    for (const auto& a : dnsAddresses) mode[a] = Mode(control, a);
    mode[httpAddress] = Mode(control, httpAddress);
    const bool listen = mode[httpAddress] != "refuse";
    if (listen && http.get() < 0) {
      http = Bound(SOCK_STREAM, httpAddress, 80);
      if (http.get() < 0) return 1;
    } else if (!listen && http.get() >= 0) {
      http.Reset();
      clients.clear();
    }
    for (const auto& [address, m] : mode)
      if (applied[address] != m) {
        Applied(control, address, m);
        applied[address] = m;
      }

    std::vector<pollfd> polls;
    for (const Fd& d : dns) polls.push_back({d.get(), POLLIN, 0});
    polls.push_back({http.get(), POLLIN, 0});
    for (const Client& c : clients) polls.push_back({c.fd.get(), POLLIN, 0});
    if (::poll(polls.data(), polls.size(), 50) < 0) continue;

    for (size_t i = 0; i < dns.size(); ++i) {
      if (!polls[i].revents) continue;
      char buffer[1500];
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t n = ::recvfrom(dns[i].get(), buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
      const std::string& m = mode[dnsAddresses[i]];
      if (n <= 0 || m == "silent") continue;
      const std::string reply = DnsReply(std::string(buffer, static_cast<size_t>(n)), m, PeerOf(from));
      if (!reply.empty())
        ::sendto(dns[i].get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                 fromLength);
    }
    if (http.get() >= 0 && polls[dns.size()].revents) {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const int fd = ::accept4(http.get(), reinterpret_cast<sockaddr*>(&from), &fromLength,
                               SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0 && clients.size() < 64) clients.push_back({Fd(fd), PeerOf(from), {}, Clock::now()});
      else if (fd >= 0) ::close(fd);
    }
    // Each client: read its head, then answer (or stay mute), then close;
    // a client gone, or there for 10 s, is dropped.
    std::vector<Client> kept;
    for (size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      const size_t index = dns.size() + 1 + i;
      bool done = Clock::now() - c.opened > std::chrono::seconds(10);
      if (index < polls.size() && polls[index].revents) {
        char buffer[4096];
        const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, 0);
        if (n <= 0 || c.head.size() > 16384) done = true;
        else c.head.append(buffer, static_cast<size_t>(n));
        const std::string& m = mode[httpAddress];
        if (!done && c.head.find("\r\n\r\n") != std::string::npos && m != "silent") {
          const std::string reply = HttpReply(m, c.peer);
          [[maybe_unused]] const ssize_t sent =
              ::send(c.fd.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
          done = true;
        }
      }
      if (!done) kept.push_back(std::move(c));
    }
    clients = std::move(kept);
  }
  return 0;
}
