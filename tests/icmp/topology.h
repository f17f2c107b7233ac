// Test networks for the echo client, built from network namespaces: a
// single namespace with loopback only, and a routed chain
// client — router 1 — router 2 — destination on 198.18.0.0/15 addresses.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tests/support/support.h"

namespace quillon::test {

// Runs `body` on a thread of its own that first enters `ns` (setns applies
// to the calling thread only); rethrows what the body threw.
void RunInNamespace(const NetNs& ns, const std::function<void()>& body);

// Opens net.ipv4.ping_group_range inside `ns` so that every group may use
// the ICMP datagram socket there. True on success.
bool OpenPingGroups(const NetNs& ns);

// Removes CAP_NET_RAW from the calling thread's effective set (capabilities
// are per thread on Linux), as for a user without the right to raw sockets.
bool DropRawSocketRightOfThisThread();

// client 198.18.1.1 — 198.18.1.2 router1 198.18.2.1 — 198.18.2.2 router2
// 198.18.3.1 — 198.18.3.2 destination. Router 1 has an unreachable route to
// 198.18.5.0/24, router 2 a blackhole for 198.18.4.0/24.
class RoutedChain {
 public:
  static constexpr const char* kRouter1 = "198.18.1.2";
  static constexpr const char* kRouter2 = "198.18.2.2";
  static constexpr const char* kDestination = "198.18.3.2";
  static constexpr const char* kBlackholed = "198.18.4.9";
  static constexpr const char* kUnreachable = "198.18.5.9";

  // The same chain over IPv6 beside IPv4 (when built with IPv6): 2001:db8:N::1
  // and ::2 on link N, an unreachable route to 2001:db8:5::/48 at router 1
  // and a blackhole for 2001:db8:4::/48 at router 2.
  static constexpr const char* kRouter1v6 = "2001:db8:1::2";
  static constexpr const char* kRouter2v6 = "2001:db8:2::2";
  static constexpr const char* kDestinationV6 = "2001:db8:3::2";
  static constexpr const char* kBlackholedV6 = "2001:db8:4::9";
  static constexpr const char* kUnreachableV6 = "2001:db8:5::9";

  explicit RoutedChain(bool withIPv6 = false);
  // Empty when every step worked, else the step that failed with its output.
  const std::string& failure() const { return failure_; }
  const NetNs& client() const { return client_; }
  const NetNs& router1() const { return router1_; }
  const NetNs& destination() const { return destination_; }

 private:
  void Step(const std::string& command);
  void AddIPv6();

  NetNs client_{"qic"};
  NetNs router1_{"qir1"};
  NetNs router2_{"qir2"};
  NetNs destination_{"qid"};
  std::string failure_;
};

}  // namespace quillon::test
