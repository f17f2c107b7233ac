// The lookup worker; see lookup_worker.h.
#include "app/lookup/lookup_worker.h"

#include <utility>

#include "app/lookup/thread_priority.h"

namespace quillon {

TMyWhois::TMyWhois(TOperationRunner& runner, TWaitThread& indicator)
    : runner_(runner), indicator_(indicator) {
  thread_ = std::thread([this] { Execute(); });
}

TMyWhois::~TMyWhois() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TMyWhois::SetPendingOperation(int code, std::string hostText) {
  std::lock_guard<std::mutex> guard(lock_);
  pendingOperation_ = code;
  pendingHost_ = std::move(hostText);
}

void TMyWhois::Resume() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    resumed_ = true;
  }
  wake_.notify_all();
}

bool TMyWhois::Request(int code, std::string hostText) {
  SetPendingOperation(code, std::move(hostText));
  if (busy_.load()) return false;
  Resume();
  return true;
}

bool TMyWhois::WaitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> guard(lock_);
  return idle_.wait_for(guard, limit, [this] { return finished_ || (!resumed_ && !busy_.load()); });
}

bool TMyWhois::Terminate(std::chrono::milliseconds limit) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  if (busy_.load()) runner_.Interrupt();
  std::unique_lock<std::mutex> guard(lock_);
  if (!idle_.wait_for(guard, limit, [this] { return finished_; })) return false;
  guard.unlock();
  if (thread_.joinable()) thread_.join();
  return true;
}

void TMyWhois::Execute() {
  try {
    Loop();
  } catch (...) {
    // Only the locks can fail here; the thread then ends like on a stop.
    std::lock_guard<std::mutex> guard(lock_);
    busy_.store(false);
    finished_ = true;
    idle_.notify_all();
  }
}

void TMyWhois::Loop() {
  LowerThisThreadPriority();
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return resumed_ || stopRequested_; });
    if (stopRequested_) break;
    resumed_ = false;
    busy_.store(true);
    const int code = pendingOperation_;
    const std::string host = pendingHost_;
    guard.unlock();

    indicator_.Resume();
    try {
      runner_.RunOperation(code, host);
    } catch (...) {
      // Every operation reports its own failures; nothing may leave the
      // thread.
    }
    indicator_.StopBlinking();

    guard.lock();
    busy_.store(false);
    runs_.fetch_add(1);
    idle_.notify_all();
  }
  finished_ = true;
  idle_.notify_all();
}

}  // namespace quillon
