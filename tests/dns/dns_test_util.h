// Helpers of the DNS tests: a builder of reply bytes, a scripted UDP server
// on 127.0.0.1, and an nsd authoritative server run from a zone of the test.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quillon::test {

// Bytes of a DNS message, written field by field.
struct Wire {
  std::string bytes;

  Wire& u8(int v) {
    bytes.push_back(static_cast<char>(v & 0xFF));
    return *this;
  }
  Wire& u16(int v) { return u8(v >> 8).u8(v); }
  Wire& u32(uint32_t v) { return u16(static_cast<int>(v >> 16)).u16(static_cast<int>(v & 0xFFFF)); }
  Wire& raw(std::string_view s) {
    bytes.append(s);
    return *this;
  }
  // "mail.example" as labels, without the final 0 byte.
  Wire& labels(std::string_view dotted);
  // The labels and the final 0 byte.
  Wire& name(std::string_view dotted) { return labels(dotted).u8(0); }
  Wire& pointer(int offset) { return u8(0xC0 | offset >> 8).u8(offset); }
  Wire& header(int id, int flags, int qd, int an, int ns, int ar) {
    return u16(id).u16(flags).u16(qd).u16(an).u16(ns).u16(ar);
  }
  // Fixed fields with RDLENGTH taken from `rdata`, then the RDATA.
  Wire& record(int type, int klass, uint32_t ttl, const Wire& rdata) {
    return u16(type).u16(klass).u32(ttl).u16(static_cast<int>(rdata.bytes.size())).raw(rdata.bytes);
  }
  size_t size() const { return bytes.size(); }
};

// Header (ID 0x1234, QR|RD|RA) and the question example.com MX IN: 29 bytes,
// the length of the query the tests build. The name sits at offset 12.
Wire ReplyStart(int an, int ns = 0, int ar = 0, int id = 0x1234, int flags = 0x8180);

// A UDP server on 127.0.0.1 that answers each query it receives with the
// datagrams its script returns.
class FakeDnsServer {
 public:
  struct Datagram {
    std::string bytes;
    // Sent from another socket instead of the server's: a different port on
    // 127.0.0.1, or (with otherAddress) the server's port on 127.0.0.2.
    bool fromOtherPort = false;
    bool fromOtherAddress = false;
  };
  using Script = std::function<std::vector<Datagram>(const std::string& query)>;

  // On `port` of 127.0.0.1 (0: a free one).
  explicit FakeDnsServer(Script script, int port = 0);
  ~FakeDnsServer();
  FakeDnsServer(const FakeDnsServer&) = delete;
  FakeDnsServer& operator=(const FakeDnsServer&) = delete;

  int port() const { return port_; }
  int queries() const { return queries_.load(); }
  int sent() const { return sent_.load(); }
  std::string lastQuery() const;
  // Waits (bounded) until `count` datagrams were sent in all.
  bool WaitSent(int count, int timeoutMs = 2000) const;

 private:
  void Loop();
  Script script_;
  int fd_ = -1;
  int otherPortFd_ = -1;
  int otherAddressFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> queries_{0};
  std::atomic<int> sent_{0};
  mutable std::mutex lock_;
  std::string lastQuery_;
  std::thread thread_;
};

// Debian's nsd serving the given zones on 127.0.0.1 at a free port, in the
// foreground as a child process, from a scratch folder removed at the end.
class NsdServer {
 public:
  struct Zone {
    std::string name;
    std::string text;
  };
  explicit NsdServer(const std::vector<Zone>& zones);
  ~NsdServer();
  NsdServer(const NsdServer&) = delete;
  NsdServer& operator=(const NsdServer&) = delete;

  // False when nsd is missing or did not answer in time; why() says why.
  bool ready() const { return ready_; }
  const std::string& why() const { return why_; }
  int port() const { return port_; }

 private:
  bool Answers(const std::string& zone) const;
  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool ready_ = false;
  std::string why_;
};

}  // namespace quillon::test
