// The platform layer's fault injection and tick counter.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "net/socket/platform.h"

namespace quillon::platform {
namespace {

TEST(FaultInjector, TheNthCallFailsOnceWithTheChosenError) {
  FaultInjector::FailNth(Call::Socket, 3, EMFILE);
  int fds[3];
  for (int i = 0; i < 3; ++i) fds[i] = Socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_GE(fds[0], 0);
  EXPECT_GE(fds[1], 0);
  EXPECT_EQ(fds[2], -1);
  EXPECT_EQ(LastError(), 10024);
  const int after = Socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_GE(after, 0) << "only one call fails";
  for (int fd : {fds[0], fds[1], after}) Close(fd);
  FaultInjector::Reset();
}

TEST(Platform, LastErrorIsPerThread) {
  SetLastError(10061);
  std::thread([] {
    EXPECT_EQ(LastError(), 0);
    SetLastError(10054);
  }).join();
  EXPECT_EQ(LastError(), 10061);
}

TEST(Platform, TicksAdvanceInMilliseconds) {
  const uint32_t a = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const uint32_t spent = TickCount() - a;
  EXPECT_GE(spent, 29u);
  EXPECT_LT(spent, 1000u);
}

TEST(Platform, ZoneBiasMatchesTheSystemRules) {
  int bias = 12345;
  ASSERT_TRUE(LocalZoneBias(bias));
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(bias, -local.tm_gmtoff / 60);
  FaultInjector::FailNth(Call::ZoneQuery, 1, 0);
  EXPECT_FALSE(LocalZoneBias(bias));
  FaultInjector::Reset();
}

}  // namespace
}  // namespace quillon::platform
