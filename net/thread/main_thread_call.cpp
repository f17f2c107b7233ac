#include "net/thread/main_thread_call.h"

#include <atomic>
#include <chrono>
#include <utility>

namespace quillon {
namespace {

std::mutex gDispatcherLock;
std::shared_ptr<TMainThreadDispatcher> gDispatcher;
std::atomic<bool> gShuttingDown{false};

}  // namespace

TQueuedMainThreadDispatcher::TQueuedMainThreadDispatcher()
    : mainThread_(std::this_thread::get_id()) {}

TQueuedMainThreadDispatcher::~TQueuedMainThreadDispatcher() {
  Shutdown();
}

bool TQueuedMainThreadDispatcher::IsMainThread() const {
  return std::this_thread::get_id() == mainThread_;
}

bool TQueuedMainThreadDispatcher::IsShutDown() const {
  std::lock_guard guard(lock_);
  return shutDown_;
}

bool TQueuedMainThreadDispatcher::RunAndWait(const std::function<void()>& call) {
  if (IsMainThread()) {
    if (IsShutDown()) return false;
    call();
    return true;
  }
  // The record lives on this stack frame: the main thread touches it only
  // until it marks it done, and this thread leaves only after that.
  Pending pending;
  pending.call = &call;
  {
    std::lock_guard guard(lock_);
    if (shutDown_) return false;
    queue_.push_back(&pending);
  }
  arrived_.notify_all();
  Wake();
  std::unique_lock guard(lock_);
  finished_.wait(guard, [&] { return pending.done; });
  if (pending.failure) std::rethrow_exception(pending.failure);
  return pending.ran;
}

int TQueuedMainThreadDispatcher::RunQueued() {
  std::deque<Pending*> batch;
  {
    std::lock_guard guard(lock_);
    batch.swap(queue_);
  }
  for (Pending* p : batch) {
    std::exception_ptr failure;
    try {
      (*p->call)();
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard guard(lock_);
      p->failure = failure;
      p->ran = true;
      p->done = true;
    }
    finished_.notify_all();
  }
  return static_cast<int>(batch.size());
}

void TQueuedMainThreadDispatcher::ServePending() {
  if (IsMainThread()) RunQueued();
}

int TQueuedMainThreadDispatcher::Pump(int timeoutMs) {
  if (!IsMainThread()) return 0;
  {
    std::unique_lock guard(lock_);
    arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                      [&] { return !queue_.empty() || shutDown_; });
  }
  return RunQueued();
}

void TQueuedMainThreadDispatcher::Shutdown() {
  {
    std::lock_guard guard(lock_);
    shutDown_ = true;
    for (Pending* p : queue_) p->done = true;  // ran stays false
    queue_.clear();
  }
  finished_.notify_all();
  arrived_.notify_all();
}

void SetMainThreadDispatcher(std::shared_ptr<TMainThreadDispatcher> dispatcher) {
  std::lock_guard guard(gDispatcherLock);
  gDispatcher = std::move(dispatcher);
}

std::shared_ptr<TMainThreadDispatcher> MainThreadDispatcher() {
  std::lock_guard guard(gDispatcherLock);
  return gDispatcher;
}

bool RunOnMainThread(const std::function<void()>& call) {
  if (gShuttingDown.load()) return false;
  // A copy of the pointer keeps the dispatcher alive for the length of the
  // call even if the program installs another one meanwhile.
  const std::shared_ptr<TMainThreadDispatcher> dispatcher = MainThreadDispatcher();
  if (!dispatcher) {
    call();
    return true;
  }
  return dispatcher->RunAndWait(call);
}

void BeginMainThreadShutdown() {
  gShuttingDown.store(true);
  if (const auto dispatcher = MainThreadDispatcher()) dispatcher->Shutdown();
}

void EndMainThreadShutdown() {
  gShuttingDown.store(false);
}

bool MainThreadShuttingDown() {
  return gShuttingDown.load();
}

}  // namespace quillon
