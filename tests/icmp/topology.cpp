#include "tests/icmp/topology.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <exception>
#include <stdexcept>
#include <thread>

namespace quillon::test {

void RunInNamespace(const NetNs& ns, const std::function<void()>& body) {
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      if (!ns.EnterFromThisThread()) throw std::runtime_error("cannot enter " + ns.name());
      body();
    } catch (...) {
      error = std::current_exception();
    }
  });
  worker.join();
  if (error) std::rethrow_exception(error);
}

bool OpenPingGroups(const NetNs& ns) {
  return ns.Exec("sysctl -q -w net.ipv4.ping_group_range=\"0 2147483647\"") == 0;
}

bool DropRawSocketRightOfThisThread() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
  // The raw syscall changes this thread only (glibc would not broadcast it).
  return ::syscall(SYS_capset, &header, data) == 0;
}

void RoutedChain::Step(const std::string& command) {
  if (!failure_.empty()) return;
  std::string out;
  if (Run(command, &out) != 0) failure_ = command + ": " + out;
}

RoutedChain::RoutedChain(bool withIPv6) {
  const std::string c = client_.name(), r1 = router1_.name(), r2 = router2_.name(),
                    d = destination_.name();
  // Interface names live inside their namespaces, so they need not be unique.
  Step("ip -n " + c + " link add c0 type veth peer name r1a netns " + r1);
  Step("ip -n " + r1 + " link add r1b type veth peer name r2a netns " + r2);
  Step("ip -n " + r2 + " link add r2b type veth peer name d0 netns " + d);
  const struct {
    const std::string& ns;
    const char* dev;
    const char* address;
  } links[] = {{c, "c0", "198.18.1.1/24"},   {r1, "r1a", "198.18.1.2/24"},
               {r1, "r1b", "198.18.2.1/24"}, {r2, "r2a", "198.18.2.2/24"},
               {r2, "r2b", "198.18.3.1/24"}, {d, "d0", "198.18.3.2/24"}};
  for (const auto& l : links) {
    Step("ip -n " + l.ns + " addr add " + l.address + " dev " + l.dev);
    Step("ip -n " + l.ns + " link set " + l.dev + " up");
  }
  Step("ip -n " + c + " route add default via 198.18.1.2");
  Step("ip -n " + r1 + " route add 198.18.3.0/24 via 198.18.2.2");
  Step("ip -n " + r1 + " route add 198.18.4.0/24 via 198.18.2.2");
  Step("ip -n " + r1 + " route add unreachable 198.18.5.0/24");
  Step("ip -n " + r2 + " route add default via 198.18.2.1");
  Step("ip -n " + r2 + " route add blackhole 198.18.4.0/24");
  Step("ip -n " + d + " route add default via 198.18.3.1");
  for (const NetNs* router : {&router1_, &router2_}) {
    // Forwarding, and every time-exceeded / unreachable answered at once.
    if (failure_.empty() && router->Exec("sysctl -q -w net.ipv4.ip_forward=1 "
                                         "net.ipv4.icmp_ratelimit=0") != 0)
      failure_ = "sysctl in " + router->name();
  }
  if (failure_.empty() && !OpenPingGroups(client_)) failure_ = "ping_group_range in " + c;
  if (withIPv6) AddIPv6();
}

void RoutedChain::AddIPv6() {
  const std::string c = client_.name(), r1 = router1_.name(), r2 = router2_.name(),
                    d = destination_.name();
  const struct {
    const std::string& ns;
    const char* dev;
    const char* address;
  } links[] = {{c, "c0", "2001:db8:1::1/64"},   {r1, "r1a", "2001:db8:1::2/64"},
               {r1, "r1b", "2001:db8:2::1/64"}, {r2, "r2a", "2001:db8:2::2/64"},
               {r2, "r2b", "2001:db8:3::1/64"}, {d, "d0", "2001:db8:3::2/64"}};
  for (const auto& l : links)
    Step("ip -n " + l.ns + " addr add " + l.address + " dev " + l.dev + " nodad");
  Step("ip -n " + c + " -6 route add default via 2001:db8:1::2");
  Step("ip -n " + r1 + " -6 route add 2001:db8:3::/48 via 2001:db8:2::2");
  Step("ip -n " + r1 + " -6 route add 2001:db8:4::/48 via 2001:db8:2::2");
  Step("ip -n " + r1 + " -6 route add unreachable 2001:db8:5::/48");
  Step("ip -n " + r2 + " -6 route add default via 2001:db8:2::1");
  Step("ip -n " + r2 + " -6 route add blackhole 2001:db8:4::/48");
  Step("ip -n " + d + " -6 route add default via 2001:db8:3::1");
  for (const NetNs* router : {&router1_, &router2_})
    if (failure_.empty() && router->Exec("sysctl -q -w net.ipv6.conf.all.forwarding=1 "
                                         "net.ipv6.icmp.ratelimit=0") != 0)
      failure_ = "IPv6 sysctl in " + router->name();
  // A link passes IPv6 only once the kernel has set it up (about a second
  // after it came up): wait, bounded, until the destination answers.
  if (failure_.empty() &&
      client_.Exec("for i in $(seq 1 40); do ping -6 -c 1 -W 1 -n 2001:db8:3::2 >/dev/null && "
                   "exit 0; sleep 0.1; done; exit 1") != 0)
    failure_ = "IPv6 path to the destination did not come up";
}

}  // namespace quillon::test
