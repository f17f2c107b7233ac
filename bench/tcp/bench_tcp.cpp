// Throughput of the buffered TCP connection over loopback: ReceiveAll of
// 256 MiB against a plain recv loop into a preallocated buffer, and
// ReceiveLine over 10^4..10^6 lines of 40 bytes against a plain memchr line
// splitter fed by the same kind of connection (both timed in the reading
// thread's CPU time, receives included). Prints BENCH lines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp/tcp_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// A loopback listener whose one-shot connections each receive `data` and
// are then closed.
class Source {
 public:
  explicit Source(const std::string& data) : data_(data) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0) {
      std::perror("listen");
      std::exit(1);
    }
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Source() { ::close(fd_); }
  int port() const { return port_; }

  // Serves exactly one connection on a thread of its own.
  std::thread ServeOne() {
    return std::thread([this] {
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      size_t at = 0;
      while (at < data_.size()) {
        const ssize_t n = ::send(c, data_.data() + at, std::min<size_t>(data_.size() - at, 1 << 20),
                                 MSG_NOSIGNAL);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      ::close(c);
    });
  }

  int ConnectPlain() const {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port_));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      std::perror("connect");
      std::exit(1);
    }
    return s;
  }

 private:
  const std::string& data_;
  int fd_ = -1;
  int port_ = 0;
};

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of the calling thread: the cost of the reader itself, without the
// time spent waiting for the sender (the machine is shared).
double ThreadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double TimeReceiveAll(Source& src, size_t expected) {
  std::thread server = src.ServeOne();
  quillon::TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(src.port());
  client.OpenConnection();
  const auto start = Clock::now();
  const std::string all = client.ReceiveAll();
  const double s = Seconds(start);
  client.CloseConnection();
  server.join();
  if (all.size() != expected) {
    std::fprintf(stderr, "ReceiveAll got %zu bytes\n", all.size());
    std::exit(1);
  }
  return s;
}

double TimePlainRecv(Source& src, char* buffer, size_t expected) {
  std::thread server = src.ServeOne();
  const int s = src.ConnectPlain();
  const auto start = Clock::now();
  size_t at = 0;
  for (;;) {
    const ssize_t n = ::recv(s, buffer + at, expected - at, 0);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
    if (at == expected) {
      char probe;
      if (::recv(s, &probe, 1, 0) != 0) std::exit(1);
      break;
    }
  }
  const double t = Seconds(start);
  ::close(s);
  server.join();
  if (at != expected) std::exit(1);
  return t;
}

double TimeReceiveLines(Source& src, size_t lines) {
  std::thread server = src.ServeOne();
  quillon::TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(src.port());
  client.OpenConnection();
  size_t bytes = 0;
  const double start = ThreadCpuSeconds();
  for (size_t i = 0; i < lines; ++i) bytes += client.ReceiveLine().size();
  const double t = ThreadCpuSeconds() - start;
  client.CloseConnection();
  server.join();
  if (bytes != lines * 39) std::exit(1);
  return t;
}

// The plain splitter: 32 KiB receives into a buffer, memchr for each LF, one
// std::string per line (what a line reader hands back), partial lines kept.
double TimePlainLines(Source& src, size_t lines) {
  std::thread server = src.ServeOne();
  const int s = src.ConnectPlain();
  std::vector<char> buf(1 << 16);
  size_t have = 0, got = 0, bytes = 0;
  const double start = ThreadCpuSeconds();
  while (got < lines) {
    const ssize_t n = ::recv(s, buf.data() + have, 32768, 0);
    if (n <= 0) break;
    have += static_cast<size_t>(n);
    size_t at = 0;
    while (const void* hit = std::memchr(buf.data() + at, '\n', have - at)) {
      const size_t end = static_cast<size_t>(static_cast<const char*>(hit) - buf.data());
      std::string line(buf.data() + at, end - at);
      bytes += line.size();
      ++got;
      at = end + 1;
    }
    std::memmove(buf.data(), buf.data() + at, have - at);
    have -= at;
  }
  const double t = ThreadCpuSeconds() - start;
  ::close(s);
  server.join();
  if (got != lines || bytes != lines * 39) std::exit(1);
  return t;
}

// The same splitter over bytes already in memory (no socket at all).
double TimeMemoryLines(const std::string& data, size_t lines) {
  size_t got = 0, bytes = 0, at = 0;
  const auto start = Clock::now();
  while (const void* hit = std::memchr(data.data() + at, '\n', data.size() - at)) {
    const size_t end = static_cast<size_t>(static_cast<const char*>(hit) - data.data());
    std::string line(data.data() + at, end - at);
    bytes += line.size();
    ++got;
    at = end + 1;
  }
  const double t = Seconds(start);
  if (got != lines || bytes != lines * 39) std::exit(1);
  return t;
}

template <typename F>
double Best(int runs, F f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) best = std::min(best, f());
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  if (only.empty() || only == "all") {
    const size_t total = size_t{256} << 20;
    std::string data(total, '\0');
    for (size_t i = 0; i < total; i += 4096) data[i] = static_cast<char>(i >> 12);
    Source src(data);
    auto buffer = std::make_unique_for_overwrite<char[]>(total);
    std::memset(buffer.get(), 0, total);  // fault the pages in before timing
    const double mb = static_cast<double>(total) / 1e6;
    // Alternate the two so that both see the same machine load.
    double all = 1e30, plain = 1e30, fresh = 1e30;
    for (int i = 0; i < 3; ++i) {
      all = std::min(all, TimeReceiveAll(src, total));
      plain = std::min(plain, TimePlainRecv(src, buffer.get(), total));
      // The same loop into memory allocated but never touched: the kernel
      // faults each page in during the copy, as it must for any new text.
      auto untouched = std::make_unique_for_overwrite<char[]>(total);
      fresh = std::min(fresh, TimePlainRecv(src, untouched.get(), total));
    }
    std::printf("BENCH tcp_receive_all_256MiB %.0f MB/s\n", mb / all);
    std::printf("BENCH tcp_plain_recv_256MiB %.0f MB/s\n", mb / plain);
    std::printf("BENCH tcp_plain_recv_fresh_256MiB %.0f MB/s\n", mb / fresh);
    std::printf("BENCH tcp_receive_all_vs_plain %.0f %%\n", 100.0 * plain / all);
    std::printf("BENCH tcp_receive_all_vs_plain_fresh %.0f %%\n", 100.0 * fresh / all);
  }
  for (size_t lines : {size_t{10000}, size_t{100000}, size_t{1000000}}) {
    if (!only.empty() && only != "lines") break;
    std::string data;
    data.reserve(lines * 40);
    for (size_t i = 0; i < lines; ++i) {
      char line[41];
      std::snprintf(line, sizeof line, "%039zu\n", i);
      data.append(line, 40);
    }
    Source src(data);
    const int runs = lines >= 1000000 ? 3 : 5;
    double ours = 1e30, plain = 1e30;
    for (int i = 0; i < runs; ++i) {
      ours = std::min(ours, TimeReceiveLines(src, lines));
      plain = std::min(plain, TimePlainLines(src, lines));
    }
    const double memory = Best(runs, [&] { return TimeMemoryLines(data, lines); });
    const double n = static_cast<double>(lines);
    std::printf("BENCH tcp_receive_line_%zu %.1f ns/line\n", lines, ours / n * 1e9);
    std::printf("BENCH tcp_plain_memchr_lines_%zu %.1f ns/line\n", lines, plain / n * 1e9);
    std::printf("BENCH tcp_memory_memchr_lines_%zu %.1f ns/line\n", lines, memory / n * 1e9);
    std::printf("BENCH tcp_receive_line_vs_plain_%zu %.2f x\n", lines, ours / plain);
  }
  return 0;
}
