// Status and work reports, and the life of the shared stack as components
// come and go (also from several threads at once).
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "net/socket/component.h"
#include "net/socket/error_text.h"
#include "net/socket/exceptions.h"
#include "net/socket/platform.h"
#include "net/socket/stack.h"

namespace quillon {
namespace {

TEST(ComponentStatus, TemplatesAreFilledOnlyWhenAHandlerIsSet) {
  TIdComponent c;
  std::vector<std::string> texts;
  c.ReportStatus(hsResolving, {"unused"});  // no handler: nothing happens
  c.OnStatus = [&](TIdBaseComponent* sender, TIdStatus, const std::string& text) {
    EXPECT_EQ(sender, &c);
    texts.push_back(text);
  };
  c.ReportStatus(hsResolving, {"whois.nic.fr"});
  c.ReportStatus(hsConnecting, {"192.0.2.1"});
  c.ReportStatus(hsConnected, {"whois.nic.fr"});
  c.ReportStatus(hsDisconnecting);
  c.ReportStatus(hsDisconnected);
  c.ReportStatus(hsStatusText, {"50% fait"});
  c.ReportStatus(hsStatusText);
  EXPECT_EQ(texts, (std::vector<std::string>{"Résolution du nom d'hôte whois.nic.fr.",
                                             "Connexion à 192.0.2.1.", "Connecté.", "Déconnexion.",
                                             "Déconnecté.", "50% fait", ""}));
}

TEST(ComponentWork, EventsFireOnlyAtTheOuterLevel) {
  TIdComponent c;
  std::vector<std::string> log;
  c.OnWorkBegin = [&](TIdBaseComponent*, TWorkMode m, int32_t max) {
    log.push_back("begin " + std::to_string(m) + " " + std::to_string(max));
  };
  c.OnWork = [&](TIdBaseComponent*, TWorkMode m, int32_t n) {
    log.push_back("work " + std::to_string(m) + " " + std::to_string(n));
  };
  c.OnWorkEnd = [&](TIdBaseComponent*, TWorkMode m) { log.push_back("end " + std::to_string(m)); };

  c.WorkProgress(wmRead, 7);  // no begin: dropped
  EXPECT_EQ(c.WorkInfo(wmRead).Position, 0);
  c.WorkBegin(wmRead, 0);
  c.WorkProgress(wmRead, 10);
  c.WorkProgress(wmRead, 5);
  c.WorkBegin(wmRead, 99);     // nested: nothing
  c.WorkProgress(wmWrite, 3);  // other mode not begun
  c.WorkEnd(wmRead);
  c.WorkEnd(wmRead);
  c.WorkEnd(wmRead);  // unmatched: no event, level stays at 0
  c.WorkBegin(wmRead, 4);
  EXPECT_EQ(
      log, (std::vector<std::string>{"begin 0 0", "work 0 10", "work 0 15", "end 0", "begin 0 4"}));
  EXPECT_EQ(c.WorkInfo(wmRead).Level, 1);
}

TEST(SharedStackLife, CreatedWithTheFirstAndDestroyedWithTheLast) {
  EXPECT_EQ(SharedStackOrNull(), nullptr);
  EXPECT_THROW(SharedStack(), EIdStackError);
  {
    auto a = std::make_unique<TIdComponent>();
    TIdStack* first = SharedStackOrNull();
    ASSERT_NE(first, nullptr);
    {
      TIdComponent b;
      EXPECT_EQ(SharedStackOrNull(), first);
      EXPECT_EQ(TIdComponent::LiveCount(), 2);
    }
    EXPECT_EQ(SharedStackOrNull(), first);
  }
  EXPECT_EQ(SharedStackOrNull(), nullptr);
  EXPECT_TRUE(TIdStackPosix::LibraryStarted());
  // A later component gets a new stack; the library is not started again
  // (it was released here, so a start-up would be visible as loaded again).
  UnloadSocketLibrary();
  {
    TIdComponent c;
    EXPECT_NE(SharedStackOrNull(), nullptr);
    EXPECT_FALSE(SocketLibraryLoaded());
  }
  TWSAData data;
  StartSocketLibrary(0x0202, data);
}

TEST(SharedStackLife, ManyThreadsMakingAndFreeingComponents) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        TIdComponent c;
        EXPECT_NE(SharedStackOrNull(), nullptr);
        EXPECT_FALSE(SharedStack().CheckSocketResult(0));
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(TIdComponent::LiveCount(), 0);
  EXPECT_EQ(SharedStackOrNull(), nullptr);
}

TEST(SharedStackLife, AFailedStartLeavesNoHalfLiveComponent) {
  if (TIdStackPosix::LibraryStarted()) GTEST_SKIP() << "library already started in this process";
  platform::FaultInjector::FailNth(platform::Call::LibraryStart, 1, ENOENT);
  EXPECT_THROW(TIdComponent(), EIdWS2StubError);
  platform::FaultInjector::Reset();
  EXPECT_EQ(TIdComponent::LiveCount(), 0);
  TIdComponent next;  // the next one tries again and succeeds
  EXPECT_NE(SharedStackOrNull(), nullptr);
}

class CountingGuard : public TIdAntiFreezeBase {
 public:
  void ProcessPendingEvents() override { ++calls; }
  int calls = 0;
};

TEST(AntiFreeze, ActsOnlyOnTheMainThreadAndWhenIdle) {
  EXPECT_FALSE(GuardInUse());
  {
    CountingGuard guard;
    EXPECT_EQ(ActiveGuard(), &guard);
    EXPECT_EQ(guard.IdleTimeOut, 250);
    // gtest runs tests on the program's main thread.
    EXPECT_TRUE(GuardInUse());
    RunGuard(false, false);
    EXPECT_EQ(guard.calls, 0);
    RunGuard(true, false);
    RunGuard(false, true);
    EXPECT_EQ(guard.calls, 2);
    std::thread([] { EXPECT_FALSE(GuardInUse()); }).join();
    guard.Active = false;
    RunGuard(true, true);
    EXPECT_EQ(guard.calls, 2);
  }
  EXPECT_EQ(ActiveGuard(), nullptr);
}

}  // namespace
}  // namespace quillon
