// Name lookup by the socket stack against the system's resolver, in a
// namespace of the test's own: its hosts file and a DNS server on its
// loopback (the only one its resolv.conf names) disagree about some names,
// and the stack must follow the system's rule of one lookup, hosts file first.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/socket/component.h"
#include "net/socket/exceptions.h"
#include "net/socket/stack.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

constexpr const char* kChildVariable = "QUILLON_HOST_LOOKUP_CHILD";

// Records of the namespace's DNS server: name and type (1 A, 28 AAAA) to
// addresses. A name it does not know gets NXDOMAIN.
const std::map<std::pair<std::string, int>, std::vector<std::string>>& Records() {
  static const std::map<std::pair<std::string, int>, std::vector<std::string>> records = {
      {{"v6only.quillon.test", 1}, {"198.18.0.7"}},
      {{"v6only.quillon.test", 28}, {}},
      {{"both.quillon.test", 1}, {"198.18.0.99"}},
      {{"both.quillon.test", 28}, {}},
      {{"dns.quillon.test", 1}, {"198.18.0.9"}},
      {{"dns.quillon.test", 28}, {"2001:db8::9"}},
      {{"dns6.quillon.test", 1}, {}},
      {{"dns6.quillon.test", 28}, {"2001:db8::10"}},
  };
  return records;
}

// The answer to one query (a single question), or empty for a malformed one.
std::string Answer(const std::string& query) {
  if (query.size() < 17) return {};
  size_t at = 12;
  std::string name;
  while (at < query.size() && query[at] != 0) {
    const size_t length = static_cast<uint8_t>(query[at]);
    if (length > 63 || at + 1 + length >= query.size()) return {};
    if (!name.empty()) name += '.';
    name += query.substr(at + 1, length);
    at += 1 + length;
  }
  if (at + 5 > query.size()) return {};
  const int type = static_cast<uint8_t>(query[at + 1]) << 8 | static_cast<uint8_t>(query[at + 2]);
  const std::string question = query.substr(12, at + 5 - 12);
  const auto found = Records().find({name, type});
  bool known = found != Records().end();
  for (const auto& [key, addresses] : Records()) known = known || key.first == name;
  std::vector<std::string> addresses;
  if (found != Records().end()) addresses = found->second;
  std::string reply = query.substr(0, 2);
  reply += known ? "\x81\x80" : std::string("\x81\x83", 2);  // NOERROR or NXDOMAIN
  reply += std::string("\x00\x01\x00", 3) + static_cast<char>(addresses.size()) +
           std::string(4, '\0') + question;
  for (const std::string& text : addresses) {
    uint8_t bytes[16];
    const bool v6 = type == 28;
    ::inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), bytes);
    reply += std::string("\xC0\x0C\x00", 3) + static_cast<char>(type) +
             std::string("\x00\x01\x00\x00\x00\x3C\x00", 7) + static_cast<char>(v6 ? 16 : 4);
    reply.append(reinterpret_cast<const char*>(bytes), v6 ? 16 : 4);
  }
  return reply;
}

// A DNS server on 127.0.0.1:53 inside `ns`, answering until stopped.
class NamespaceDnsServer {
 public:
  explicit NamespaceDnsServer(const test::NetNs& ns)
      : thread_([this, &ns] {
          if (!ns.EnterFromThisThread()) return Ready(false);
          const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
          sockaddr_in a{};
          a.sin_family = AF_INET;
          a.sin_port = htons(53);
          a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return Ready(false);
          }
          Ready(true);
          const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
          while (!stop_.load() && std::chrono::steady_clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1) continue;
            char buf[512];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n =
                ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            const std::string reply = Answer(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0));
            if (!reply.empty())
              ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                       fromLength);
          }
          ::close(fd);
        }) {
    while (state_.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ~NamespaceDnsServer() {
    stop_.store(true);
    thread_.join();
  }
  bool ready() const { return state_.load() == 1; }

 private:
  void Ready(bool ok) { state_.store(ok ? 1 : 2); }
  std::atomic<int> state_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The hosts file maps v6only.quillon.test to an IPv6 address only, while
// DNS has an A record for it: the system's one lookup ends at the hosts
// file, so the IPv6 address is the answer (no IPv4 address from DNS). A
// name with both families prefers IPv4, from wherever it came; a forced
// family asks for that family alone.
TEST(HostLookup, OneLookupForBothFamiliesHostsFileFirstIPv4Preferred) {
  if (!std::getenv(kChildVariable)) {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root for a network namespace";
    test::NetNs ns("qhl");
    const std::filesystem::path etc = "/etc/netns/" + ns.name();
    std::filesystem::create_directories(etc);
    std::ofstream(etc / "resolv.conf") << "nameserver 127.0.0.1\noptions timeout:2 attempts:2\n";
    std::ofstream(etc / "hosts") << "127.0.0.1 localhost\n::1 localhost\n"
                                 << "2001:db8::7 v6only.quillon.test\n"
                                 << "2001:db8::8 both.quillon.test\n"
                                 << "198.18.0.8 both.quillon.test\n";
    std::string output;
    int status = -1;
    {
      NamespaceDnsServer dns(ns);
      if (dns.ready()) {
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        status = ns.Exec(std::string(kChildVariable) + "=1 " + self +
                             " --gtest_filter=HostLookup.OneLookupForBothFamilies* 2>&1",
                         &output);
      }
    }
    std::filesystem::remove_all(etc);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    return;
  }
  TIdComponent keepAlive;
  TIdStack& stack = SharedStack();
  const struct {
    const char* host;
    int family;
    const char* expected;  // empty: host not found
  } cases[] = {
      {"v6only.quillon.test", Id_PF_UNSPEC, "2001:db8::7"},
      {"both.quillon.test", Id_PF_UNSPEC, "198.18.0.8"},
      {"dns.quillon.test", Id_PF_UNSPEC, "198.18.0.9"},
      {"dns6.quillon.test", Id_PF_UNSPEC, "2001:db8::10"},
      {"v6only.quillon.test", Id_PF_INET6, "2001:db8::7"},
      {"v6only.quillon.test", Id_PF_INET, "198.18.0.7"},
      {"dns.quillon.test", Id_PF_INET6, "2001:db8::9"},
      {"missing.quillon.test", Id_PF_UNSPEC, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " family " + std::to_string(c.family));
    try {
      EXPECT_EQ(stack.ResolveHostName(c.host, c.family), c.expected);
    } catch (const EIdSocketError& e) {
      EXPECT_STREQ(c.expected, "") << e.what();
      EXPECT_EQ(e.SocketErrorCode, 11001);
    }
  }
}

}  // namespace
}  // namespace quillon
