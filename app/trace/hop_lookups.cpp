#include "app/trace/hop_lookups.h"

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <algorithm>

namespace quillon {
namespace {

// The lookup's answer, or nothing when it failed: the address is then shown
// alone, or with AS???.
template <typename T>
std::optional<T> Guarded(const std::function<std::optional<T>(const std::string&)>& lookup,
                         const std::string& address) {
  try {
    return lookup(address);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

// Everything the threads touch: kept alive by each of them, so that a thread
// left running by Abandon never reaches freed memory.
struct THopLookups::TShared {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::function<void()>> tasks;
  std::set<std::string> added;
  TAddressInfos results;
  size_t running = 0;
  bool stopping = false;
};

THopLookups::THopLookups(THopLookupSettings settings)
    : settings_(std::move(settings)), shared_(std::make_shared<TShared>()) {}

THopLookups::~THopLookups() {
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
    if (abandoned_) shared_->tasks.clear();
  }
  shared_->changed.notify_all();
  for (std::thread& t : threads_) {
    if (abandoned_)
      t.detach();  // it ends with its lookup; the shared state outlives it
    else
      t.join();
  }
}

void THopLookups::Work(std::shared_ptr<TShared> shared) {
  // Ctrl-C is for the thread that runs the probes.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::unique_lock lock(shared->mutex);
  for (;;) {
    shared->changed.wait(lock, [&] { return shared->stopping || !shared->tasks.empty(); });
    if (shared->tasks.empty()) return;  // stopping, and nothing left to do
    std::function<void()> task = std::move(shared->tasks.front());
    shared->tasks.pop_front();
    ++shared->running;
    lock.unlock();
    task();
    lock.lock();
    --shared->running;
    shared->changed.notify_all();
  }
}

void THopLookups::Add(const std::string& address) {
  if (!settings_.nameOf && !settings_.originAsOf) return;
  std::vector<std::function<void()>> tasks;
  // Each task writes its result under the lock, through the shared state
  // only (the lookups object may be gone by then).
  std::weak_ptr<TShared> weak = shared_;
  if (settings_.nameOf)
    tasks.push_back([weak, address, nameOf = settings_.nameOf] {
      std::optional<std::string> name = Guarded(nameOf, address);
      if (const auto shared = weak.lock()) {
        const std::lock_guard lock(shared->mutex);
        shared->results[address].name = std::move(name);
      }
    });
  if (settings_.originAsOf)
    tasks.push_back([weak, address, originAsOf = settings_.originAsOf] {
      const std::optional<uint32_t> as = Guarded(originAsOf, address);
      if (const auto shared = weak.lock()) {
        const std::lock_guard lock(shared->mutex);
        shared->results[address].asn = as;
      }
    });
  {
    const std::lock_guard lock(shared_->mutex);
    if (abandoned_ || !shared_->added.insert(address).second) return;
    for (auto& task : tasks) shared_->tasks.push_back(std::move(task));
  }
  // Threads are started as work comes, up to the limit.
  if (threads_.size() < static_cast<size_t>(std::max(settings_.threads, 1)))
    threads_.emplace_back([shared = shared_] { Work(shared); });
  shared_->changed.notify_all();
}

bool THopLookups::WaitAll(const std::atomic<bool>* interrupted) {
  std::unique_lock lock(shared_->mutex);
  const auto idle = [&] { return shared_->tasks.empty() && shared_->running == 0; };
  // In slices, so that Ctrl-C is seen soon.
  while (!shared_->changed.wait_for(lock, std::chrono::milliseconds(50), idle))
    if (interrupted && interrupted->load()) return false;
  return true;
}

void THopLookups::Abandon() {
  const std::lock_guard lock(shared_->mutex);
  abandoned_ = true;
  shared_->tasks.clear();
}

TAddressInfos THopLookups::Results() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->results;
}

}  // namespace quillon
