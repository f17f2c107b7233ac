#include "net/socket/component.h"

#include <memory>
#include <mutex>

#include "net/socket/exceptions.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

// The live-component count and the stack it keeps alive, under one lock.
std::mutex gStackLock;
int gLiveCount = 0;
std::unique_ptr<TIdStack> gStack;
// Read without the lock by every network call; written only under it.
std::atomic<TIdStack*> gStackPointer{nullptr};

std::atomic<TIdAntiFreezeBase*> gActiveGuard{nullptr};

}  // namespace

const std::array<const char*, 9> StatusTemplates = {"Résolution du nom d'hôte %s.",
                                                    "Connexion à %s.",
                                                    "Connecté.",
                                                    "Déconnexion.",
                                                    "Déconnecté.",
                                                    "%s",
                                                    "%s",
                                                    "%s",
                                                    "%s"};

TIdStack* SharedStackOrNull() {
  return gStackPointer.load(std::memory_order_acquire);
}

TIdStack& SharedStack() {
  TIdStack* s = SharedStackOrNull();
  if (!s) throw EIdStackError("Aucune pile de sockets active.");
  return *s;
}

TIdComponent::TIdComponent() {
  std::lock_guard lock(gStackLock);
  if (gLiveCount == 0) {
    // If the stack cannot be created, this component never comes to life:
    // the count is left as it was so that the next component tries again
    // instead of running without a stack.
    gStack = std::make_unique<TIdStackPosix>();
    gStackPointer.store(gStack.get(), std::memory_order_release);
  }
  ++gLiveCount;
}

TIdComponent::~TIdComponent() {
  std::lock_guard lock(gStackLock);
  if (gLiveCount-- == 1) {
    gStackPointer.store(nullptr, std::memory_order_release);
    gStack.reset();
  }
}

int TIdComponent::LiveCount() {
  std::lock_guard lock(gStackLock);
  return gLiveCount;
}

void TIdComponent::ReportStatus(TIdStatus status) {
  ReportStatus(status, {});
}

void TIdComponent::ReportStatus(TIdStatus status, const std::vector<std::string>& arguments) {
  if (!OnStatus) return;
  const char* tmpl = StatusTemplates[static_cast<size_t>(status)];
  // The templates hold at most one "%s"; those without one ignore the argument.
  std::string text = tmpl;
  const auto at = text.find("%s");
  if (at != std::string::npos)
    text.replace(at, 2, arguments.empty() ? std::string() : arguments[0]);
  OnStatus(this, status, text);
}

void TIdComponent::WorkBegin(TWorkMode mode, int32_t maximum) {
  WorkRecord& w = work_[mode];
  if (++w.Level == 1) {
    w.Maximum = maximum;
    w.Position = 0;
    if (OnWorkBegin) OnWorkBegin(this, mode, maximum);
  }
}

void TIdComponent::WorkProgress(TWorkMode mode, int32_t count) {
  WorkRecord& w = work_[mode];
  if (w.Level < 1) return;
  // The running total is a 32-bit count; it saturates rather than wrap.
  const int64_t total = int64_t{w.Position} + count;
  w.Position = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
  if (OnWork) OnWork(this, mode, w.Position);
}

void TIdComponent::WorkEnd(TWorkMode mode) {
  WorkRecord& w = work_[mode];
  if (w.Level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
  // An unmatched end must not push the level below zero, or the next begin
  // would never report.
  if (w.Level > 0) --w.Level;
}

TIdAntiFreezeBase::TIdAntiFreezeBase() {
  gActiveGuard.store(this);
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
  TIdAntiFreezeBase* self = this;
  gActiveGuard.compare_exchange_strong(self, nullptr);
}

TIdAntiFreezeBase* ActiveGuard() {
  return gActiveGuard.load();
}

bool GuardInUse() {
  TIdAntiFreezeBase* g = ActiveGuard();
  return g && IsMainThread() && g->Active.load();
}

void RunGuard(bool idle, bool override_) {
  TIdAntiFreezeBase* g = ActiveGuard();
  if (GuardInUse() && (idle || !g->OnlyWhenIdle || override_) && g->Active.load())
    g->ProcessPendingEvents();
}

}  // namespace quillon
