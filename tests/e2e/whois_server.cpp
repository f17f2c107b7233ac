// A whois server for the end-to-end world: listens on port 43 of every
// address given as ADDR=NAME, answers each connection with the known text of
// server NAME (whois_answer.h) and logs, per connection, the local address it
// was reached at and every byte the client sent, as one line of hex.
//
//   e2e_whois_server --log FILE [--port N] [--max-seconds S] ADDR=NAME...
//
// Each connection is served on a thread of its own, so that a server kept
// silent for one client (a stall query) does not hold up the others; every
// wait is bounded, and the program ends by itself after --max-seconds
// (default 4 hours) or on SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/whois_answer.h"
#include "tests/e2e/whois_referrals.h"

namespace {

volatile sig_atomic_t gStop = 0;
void OnSignal(int) {
  gStop = 1;
}

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads what arrives until `stop` says so, the peer closes, `limit` bytes
// are in, or `ms` run out.
template <typename Stop>
void ReadSome(int fd, std::string& into, int ms, size_t limit, Stop stop) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  char buf[2048];
  while (!stop() && into.size() < limit && !gStop) {
    pollfd p{fd, POLLIN, 0};
    const int left = MsLeft(end);
    if (left == 0 || ::poll(&p, 1, left) <= 0) return;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return;
    into.append(buf, static_cast<size_t>(n));
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

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

void Serve(int fd, const std::string& local, const std::string& server, FILE* log) {
  std::string got;
  // The query is one line; a client that never ends it gets the answer
  // after 2 s all the same.
  ReadSome(fd, got, 2000, 4096, [&] { return got.find('\n') != std::string::npos; });
  std::string query = got.substr(0, got.find_first_of("\r\n"));
  if (query.rfind(quillon::e2e::kStallQueryPrefix, 0) == 0) {
    // Say nothing; wait for the client to give up (it closes) or 10 s.
    ReadSome(fd, got, 10000, 4096, [] { return false; });
  } else {
    // Servers of a referral chain answer with their own texts.
    const auto referral = quillon::e2e::ReferralAnswer(server, query);
    SendAll(fd, referral ? *referral : quillon::e2e::WhoisAnswer(server, query));
    ::shutdown(fd, SHUT_WR);
    // Whatever the client sends after its line is logged too.
    ReadSome(fd, got, 1000, 4096, [] { return false; });
  }
  if (got.empty()) return;  // a bare connect (a readiness probe) is no query
  static std::mutex logLock;
  const std::lock_guard lock(logLock);
  std::fprintf(log, "%s %s\n", local.c_str(), Hex(got).c_str());
  std::fflush(log);
}

}  // namespace

int main(int argc, char** argv) {
  std::string logPath;
  int port = 43;
  int maxSeconds = 4 * 3600;
  std::map<std::string, std::string> names;  // address -> server name
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--log" && i + 1 < argc) {
      logPath = argv[++i];
    } else if (a == "--port" && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else if (a == "--max-seconds" && i + 1 < argc) {
      maxSeconds = std::atoi(argv[++i]);
    } else if (a.find('=') != std::string::npos) {
      names[a.substr(0, a.find('='))] = a.substr(a.find('=') + 1);
    } else {
      std::fprintf(stderr, "usage: %s --log FILE [--port N] [--max-seconds S] ADDR=NAME...\n",
                   argv[0]);
      return 2;
    }
  }
  if (logPath.empty() || names.empty() || port <= 0 || port > 65535) {
    std::fprintf(stderr, "e2e_whois_server: --log and at least one ADDR=NAME are needed\n");
    return 2;
  }
  FILE* log = std::fopen(logPath.c_str(), "a");
  if (!log) {
    std::perror("e2e_whois_server: log");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);

  std::vector<pollfd> listeners;
  std::vector<std::string> listenerAddr;
  for (const auto& [addr, name] : names) {
    // An address with ":" is IPv6 (a server reachable only over IPv6).
    const bool v6 = addr.find(':') != std::string::npos;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons(static_cast<uint16_t>(port));
    const bool parsed = v6 ? ::inet_pton(AF_INET6, addr.c_str(), &sin6.sin6_addr) == 1
                           : ::inet_pton(AF_INET, addr.c_str(), &sin.sin_addr) == 1;
    const int bound = !parsed ? -1
                      : v6    ? ::bind(fd, reinterpret_cast<sockaddr*>(&sin6), sizeof sin6)
                              : ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    if (bound != 0 || ::listen(fd, 16) != 0) {
      std::fprintf(stderr, "e2e_whois_server: cannot listen on %s:%d: %s\n", addr.c_str(), port,
                   std::strerror(errno));
      return 1;
    }
    listeners.push_back({fd, POLLIN, 0});
    listenerAddr.push_back(addr);
  }

  std::atomic<int> serving{0};
  const auto end = Clock::now() + std::chrono::seconds(maxSeconds);
  while (!gStop && MsLeft(end) > 0) {
    for (auto& p : listeners) p.revents = 0;
    const int ready = ::poll(listeners.data(), listeners.size(), std::min(MsLeft(end), 1000));
    if (ready <= 0) continue;
    for (size_t i = 0; i < listeners.size(); ++i) {
      if (!(listeners[i].revents & POLLIN)) continue;
      const int fd = ::accept4(listeners[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++serving;
      std::thread([fd, &serving, local = listenerAddr[i], server = names[listenerAddr[i]], log] {
        Serve(fd, local, server, log);
        ::close(fd);
        --serving;
      }).detach();
    }
  }
  for (auto& p : listeners) ::close(p.fd);
  // Every connection's waits are bounded (at most about 12 s).
  while (serving.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::fclose(log);
  return 0;
}
