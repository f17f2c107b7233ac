// Waking the interruptible components from another thread while their owner
// closes and reopens sockets: a wake must never reach a descriptor that the
// socket's number has come to name after the close (here a socket pair made
// right after each close, which a stray shutdown would break). Run under
// ThreadSanitizer too.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "app/lookup/interruptible.h"
#include "net/socket/component.h"
#include "net/socket/stack.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

// True when a byte goes each way through a fresh socket pair, i.e. nobody
// shut it down meanwhile.
bool PairStillWorks(int fds[2]) {
  char byte = 'x';
  for (int from = 0; from < 2; ++from) {
    if (::send(fds[from], &byte, 1, MSG_NOSIGNAL) != 1) return false;
    pollfd p{fds[1 - from], POLLIN, 0};
    if (::poll(&p, 1, 1000) != 1) return false;
    if (::recv(fds[1 - from], &byte, 1, 0) != 1) return false;
  }
  return true;
}

// Runs `cycle` (open and close the component's socket) against a thread that
// keeps waking it; after each cycle a socket pair takes the freed number.
// Returns how many pairs were found broken.
int BrokenPairsWhileWaking(const std::function<void()>& cycle, const std::function<void()>& wake) {
  std::atomic<bool> done{false};
  std::thread waker([&] {
    while (!done.load()) wake();
  });
  int broken = 0;
  const auto end = Clock::now() + std::chrono::milliseconds(700);
  for (int i = 0; i < 3000 && Clock::now() < end; ++i) {
    cycle();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
      ++broken;
      break;
    }
    if (!PairStillWorks(fds)) ++broken;
    ::close(fds[0]);
    ::close(fds[1]);
  }
  done.store(true);
  waker.join();
  return broken;
}

class WakeAgainstClose : public ::testing::Test {
 protected:
  TIdComponent keepAlive_;  // keeps the shared stack for the whole test
  std::atomic<bool> interrupted_{false};
};

TEST_F(WakeAgainstClose, ResolverWakeNeverReachesAReusedNumber) {
  TInterruptibleResolver resolver(interrupted_);
  const int broken = BrokenPairsWhileWaking(
      [&] {
        resolver.AcquireSocket();
        resolver.ReleaseSocket();
      },
      [&] { resolver.WakeWait(); });
  EXPECT_EQ(broken, 0);
}

TEST_F(WakeAgainstClose, TransportWakeNeverReachesAReusedNumber) {
  TInterruptibleIOHandler transport(interrupted_);
  const int broken = BrokenPairsWhileWaking(
      [&] {
        transport.SocketHandle()->AllocateHandle(Id_SOCK_STREAM, 0);
        transport.CloseHandler();
      },
      [&] { transport.WakeWait(); });
  EXPECT_EQ(broken, 0);
}

// The wake still does its work: a wait on the open socket ends at once.
TEST_F(WakeAgainstClose, WakeEndsAWaitOnTheOpenSocket) {
  TInterruptibleResolver resolver(interrupted_);
  TIdSocketHandle& handle = resolver.AcquireSocket();
  EXPECT_FALSE(handle.WaitReadable(0));
  const auto start = Clock::now();
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    resolver.WakeWait();
  });
  EXPECT_TRUE(handle.WaitReadable(5000));
  waker.join();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
  resolver.ReleaseSocket();
}

}  // namespace
}  // namespace quillon
