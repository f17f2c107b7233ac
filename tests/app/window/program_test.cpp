// The window program as a whole, on the offscreen platform inside a network
// namespace of the test's own: a termination request closes it within a
// second, whether it is idle or its worker is stuck connecting to a service
// that drops every packet.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/support.h"

extern char** environ;

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kWindow = QUILLON_WINDOW_PATH;

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root for a network namespace";
    ns_ = std::make_unique<test::NetNs>("qwin");
    // 198.18.0.2 sits behind a veth pair and answers nothing.
    ns_->Exec(
        "ip link add v0 type veth peer name v1 && ip addr add 198.18.0.1/24 dev v0 && "
        "ip link set v0 up && ip link set v1 up && "
        "ip neigh add 198.18.0.2 lladdr 02:00:00:00:00:02 dev v0 nud permanent");
    etc_ = "/etc/netns/" + ns_->name();
    std::filesystem::create_directories(etc_);
    std::ofstream(etc_ / "resolv.conf") << "nameserver 127.0.0.1\n";
  }
  void TearDown() override {
    if (!etc_.empty()) std::filesystem::remove_all(etc_);
  }
  void PublicAddressHostIs(const std::string& address) {
    std::ofstream(etc_ / "hosts") << "127.0.0.1 localhost\n"
                                  << address << " ip.quillon.test\n";
  }
  pid_t Start() {
    const std::string name = ns_->name();
    // One public-address source, by name; no settings file of the machine's.
    const std::string config = "XDG_CONFIG_HOME=/nonexistent/" + name;
    const char* argv[] = {"ip",
                          "netns",
                          "exec",
                          name.c_str(),
                          "env",
                          "QT_QPA_PLATFORM=offscreen",
                          "QUILLON_PUBLIC_ADDRESS_SOURCES=http://ip.quillon.test/",
                          config.c_str(),
                          kWindow.c_str(),
                          nullptr};
    pid_t pid = -1;
    posix_spawnp(&pid, "ip", nullptr, nullptr, const_cast<char**>(argv), environ);
    return pid;
  }
  // Sends SIGTERM; the time until the program ended, or -1 after 5 s.
  long TerminateAndTime(pid_t pid, int* status) {
    const auto start = Clock::now();
    ::kill(pid, SIGTERM);
    while (Clock::now() - start < 5s) {
      if (::waitpid(pid, status, WNOHANG) == pid)
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
      std::this_thread::sleep_for(5ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, status, 0);
    return -1;
  }

  std::unique_ptr<test::NetNs> ns_;
  std::filesystem::path etc_;
};

TEST_F(Program, ClosesWithinASecondWhileIdle) {
  PublicAddressHostIs("127.0.0.1");  // refused at once: Offline, then idle
  const pid_t pid = Start();
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(1500ms);
  int status = 0;
  const long took = TerminateAndTime(pid, &status);
  EXPECT_GE(took, 0);
  EXPECT_LT(took, 1000);
  RecordProperty("close_ms", std::to_string(took));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(Program, ClosesWithinASecondWhileConnectingToASilentService) {
  PublicAddressHostIs("198.18.0.2");  // the connect waits up to 3 s
  const pid_t pid = Start();
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(1500ms);
  int status = 0;
  const long took = TerminateAndTime(pid, &status);
  EXPECT_GE(took, 0);
  EXPECT_LT(took, 1000);
  RecordProperty("close_ms", std::to_string(took));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(Program, ClosesWithinASecondWhileANameLookupHangs) {
  // The public-address host is not in the hosts file and the configured DNS
  // server drops every query: the worker sits in the system's resolver,
  // which nothing can interrupt; the program still ends in time.
  std::ofstream(etc_ / "hosts") << "127.0.0.1 localhost\n";
  std::ofstream(etc_ / "resolv.conf") << "nameserver 198.18.0.2\noptions timeout:5 attempts:2\n";
  const pid_t pid = Start();
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(1500ms);
  int status = 0;
  const long took = TerminateAndTime(pid, &status);
  EXPECT_GE(took, 0);
  EXPECT_LT(took, 1000);
  RecordProperty("close_ms", std::to_string(took));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace quillon
