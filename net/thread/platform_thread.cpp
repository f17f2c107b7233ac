#include "net/thread/platform_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <utility>

#include "net/thread/main_thread_call.h"

namespace quillon {
namespace {

// Linux threads each have their own nice value (setpriority with a thread
// id), which is how the scheduling priority of one thread is changed.
int NiceOf(TThreadPriority p) {
  switch (p) {
    case tpIdle:
      return 19;
    case tpLowest:
      return 10;
    case tpLower:
      return 5;
    case tpNormal:
      return 0;
    case tpHigher:
      return -5;
    case tpHighest:
      return -10;
    case tpTimeCritical:
      return -20;
  }
  return 0;
}

constexpr auto kServeSlice = std::chrono::milliseconds(5);

}  // namespace

TThread::TThread(bool createSuspended) : createSuspended_(createSuspended) {}

TThread::~TThread() {
  EndThreadForDestruction();
}

void TThread::EndThreadForDestruction() {
  std::unique_lock guard(lock_);
  if (!launched_) return;  // never started: there is nothing to end
  if (threadId_ == std::this_thread::get_id()) {
    // The thread is freeing itself: it cannot join itself.
    if (thread_.joinable()) thread_.detach();
    return;
  }
  terminated_ = true;
  resumePending_ = true;
  changed_.notify_all();
  guard.unlock();
  WaitFor();
  guard.lock();
  if (thread_.joinable()) {
    guard.unlock();
    thread_.join();
  }
}

void TThread::Launch() {
  // The new thread takes lock_ before anything else, so it sees these set.
  thread_ = std::thread([this] { Run(); });
  threadId_ = thread_.get_id();
  launched_ = true;
}

void TThread::Start() {
  std::lock_guard guard(lock_);
  if (!launched_ && !createSuspended_) Launch();
}

// Notifications are sent while the lock is held: a thread that frees itself
// needs the lock to finish, so the object cannot vanish under the notifier.
void TThread::Resume() {
  std::lock_guard guard(lock_);
  suspendRequested_ = false;
  if (!launched_) {
    Launch();
    return;
  }
  resumePending_ = true;
  changed_.notify_all();
}

void TThread::Suspend() {
  std::unique_lock guard(lock_);
  if (launched_ && threadId_ == std::this_thread::get_id()) {
    ParkLocked(guard);
    return;
  }
  // Another thread asks; cancels a Resume not yet consumed.
  resumePending_ = false;
  if (launched_ && !finished_) suspendRequested_ = true;
}

void TThread::ParkLocked(std::unique_lock<std::mutex>& guard) {
  suspendRequested_ = false;
  if (resumePending_ || terminated_) {
    resumePending_ = false;
    return;
  }
  parked_ = true;
  changed_.notify_all();
  changed_.wait(guard, [&] { return resumePending_ || terminated_; });
  resumePending_ = false;
  parked_ = false;
}

void TThread::CheckSuspend() {
  std::unique_lock guard(lock_);
  if (suspendRequested_) ParkLocked(guard);
}

bool TThread::SleepFor(uint32_t ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock guard(lock_);
  for (;;) {
    if (terminated_) return false;
    if (suspendRequested_) {
      ParkLocked(guard);
      continue;
    }
    if (changed_.wait_until(guard, deadline, [&] { return terminated_ || suspendRequested_; }))
      continue;
    return true;
  }
}

void TThread::Terminate() {
  std::lock_guard guard(lock_);
  terminated_ = true;
  changed_.notify_all();
}

void TThread::WaitFor() {
  std::unique_lock guard(lock_);
  if (!launched_) return;
  if (threadId_ == std::this_thread::get_id())
    throw EIdThreadException("Un thread ne peut pas attendre sa propre fin");
  guard.unlock();
  const auto dispatcher = MainThreadDispatcher();
  const bool serve = dispatcher && dispatcher->IsMainThread();
  guard.lock();
  while (!finished_) {
    if (!serve) {
      changed_.wait(guard, [&] { return finished_; });
      break;
    }
    guard.unlock();
    dispatcher->ServePending();
    guard.lock();
    changed_.wait_for(guard, kServeSlice, [&] { return finished_; });
  }
}

bool TThread::WaitUntilSuspended(int timeoutMs) {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                           [&] { return parked_ || finished_ || !launched_; });
}

bool TThread::Terminated() const {
  std::lock_guard guard(lock_);
  return terminated_;
}

bool TThread::Suspended() const {
  std::lock_guard guard(lock_);
  return parked_ || (!launched_ && createSuspended_);
}

bool TThread::Finished() const {
  std::lock_guard guard(lock_);
  return finished_;
}

bool TThread::FreeOnTerminate() const {
  std::lock_guard guard(lock_);
  return self_ != nullptr;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard guard(lock_);
  return fatal_;
}

TThreadPriority TThread::Priority() const {
  std::lock_guard guard(lock_);
  return priority_;
}

void TThread::SetPriority(TThreadPriority priority) {
  std::lock_guard guard(lock_);
  priority_ = priority;
  if (launched_ && !finished_ && osThreadId_ != 0) ApplyPriorityLocked();
}

void TThread::ApplyPriorityLocked() {
  // A failure (EPERM when raising without privilege) leaves the thread as it
  // was; the requested value is still reported by Priority().
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(osThreadId_), NiceOf(priority_));
}

void TThread::AdoptSelf(std::unique_ptr<TThread> self) {
  std::unique_lock guard(lock_);
  if (finished_) {
    // Already over: free it here, as its thread would have done.
    guard.unlock();
    self.reset();
    return;
  }
  self_ = std::move(self);
}

void TThread::DoTerminate() {
  if (OnTerminate) OnTerminate(this);
}

bool TThread::Synchronize(const std::function<void()>& method) {
  return RunOnMainThread(method);
}

void TThread::Run() {
  {
    std::lock_guard guard(lock_);
    osThreadId_ = static_cast<int>(::syscall(SYS_gettid));
    if (priority_ != tpNormal) ApplyPriorityLocked();
  }
  // No failure leaves the thread: the one that ends Execute is kept for the
  // owner to inspect.
  std::exception_ptr failure;
  try {
    Execute();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    DoTerminate();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  std::unique_ptr<TThread> self;
  {
    std::lock_guard guard(lock_);
    fatal_ = failure;
    finished_ = true;
    self = std::move(self_);
    changed_.notify_all();
  }
  // A thread that owns itself is freed here; its destructor sees that it runs
  // on this thread and detaches instead of joining.
  self.reset();
}

}  // namespace quillon
