// Loopback servers for the application tests: a DNS server answering each
// query through a function, and helpers to read an HTTP request head.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quillon::test {

// A UDP server on 127.0.0.1 that answers every datagram with what `reply`
// returns for it (nothing when it returns empty).
class FakeDnsServer {
 public:
  using Reply = std::function<std::string(const std::string& query)>;
  // `port` 0: any free port.
  explicit FakeDnsServer(Reply reply, int port = 0);
  ~FakeDnsServer();
  FakeDnsServer(const FakeDnsServer&) = delete;
  FakeDnsServer& operator=(const FakeDnsServer&) = delete;
  int port() const { return port_; }
  int queries() const { return queries_.load(); }

 private:
  Reply reply_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> queries_{0};
  std::thread thread_;
};

// DNS message pieces (RFC 1035).
std::string DnsName(const std::string& dotted);
std::string Be16(uint16_t value);
std::string Be32(uint32_t value);
// A reply to `query` (its ID and question copied) with `rcode` and the
// given answer records (each: owner, type, class, TTL, RDATA).
std::string DnsReply(const std::string& query, int rcode, const std::vector<std::string>& answers);
// One resource record owned by the question's name (a pointer to offset 12).
std::string DnsRecord(uint16_t type, const std::string& rdata);

// Reads an HTTP request head (up to the empty line) from a connected socket.
std::string RecvHttpHead(int fd, int timeoutMs = 2000);

}  // namespace quillon::test
