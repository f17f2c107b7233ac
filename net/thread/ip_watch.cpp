#include "net/thread/ip_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/socket/stack.h"

namespace quillon {

// ---- watch thread ----

TIdIPWatchThread::TIdIPWatchThread() : TIdThread(true) {}

TIdIPWatchThread::~TIdIPWatchThread() {
  EndThreadForDestruction();
}

void TIdIPWatchThread::RunOneUnit() {
  // An interval of 0 or less would make this unit return at once, forever,
  // without a check in between: treat it as the shortest sleep instead.
  int left = std::max(Interval(), 1);
  while (left > 0) {
    const int slice = std::min(left, kSliceMs);
    // The sleep ends early when the thread is asked to end, so ending the
    // watch does not wait out the slice.
    if (!SleepFor(static_cast<uint32_t>(slice))) return;
    left -= slice;
    if (Terminated()) return;
    if (Check) Synchronize(Check);
  }
}

// ---- component ----

namespace {
// The watch whose check (run for its watch thread) is running on this
// thread: the main thread with a dispatcher, the watch thread without one.
thread_local const TIdIPWatch* tCheckingWatch = nullptr;
}  // namespace

TIdIPWatch::TIdIPWatch() = default;

TIdIPWatch::~TIdIPWatch() {
  try {
    Close();
  } catch (const std::exception& e) {
    if (OnHistoryWriteError) {
      try {
        OnHistoryWriteError(this, e.what());
      } catch (...) {
        // A destructor has nowhere further to pass it.
      }
    }
  } catch (...) {
    // Only failures with a message can be reported; nothing else is raised here.
  }
  // Close may have failed before switching the watch off.
  try {
    SetActive(false);
  } catch (...) {
  }
}

bool TIdIPWatch::IsOnLineAddress(const std::string& address) {
  return !address.empty() && address != kLoopback;
}

bool TIdIPWatch::Active() const {
  std::lock_guard guard(activeLock_);
  return thread_ != nullptr;
}

void TIdIPWatch::SetActive(bool value) {
  const bool insideCheck = tCheckingWatch == this;
  if (!insideCheck) ReapRetired();
  std::unique_ptr<TIdIPWatchThread> ending;
  {
    std::lock_guard guard(activeLock_);
    if (value == (thread_ != nullptr)) return;
    if (value) {
      auto thread = std::make_unique<TIdIPWatchThread>();
      thread->Watch = this;
      thread->Check = [this] { RunWatchCheck(); };
      thread->SetInterval(WatchInterval());
      thread->StartWork();
      thread_ = std::move(thread);
      return;
    }
    if (insideCheck) {
      // The thread waits for this very check (or is this thread): waiting
      // for it here would never end, and freeing it would pull the thread
      // from under itself. It ends once the check returns.
      thread_->RequestEnd();
      retired_.push_back(std::move(thread_));
      return;
    }
    ending = std::move(thread_);
  }
  // Waited for outside the lock: a check running meanwhile (its handler may
  // read Active) must not wait for this thread.
  ending->TerminateAndWaitFor();
}

void TIdIPWatch::RunWatchCheck() {
  struct Mark {
    const TIdIPWatch* outer = tCheckingWatch;
    explicit Mark(const TIdIPWatch* watch) { tCheckingWatch = watch; }
    ~Mark() { tCheckingWatch = outer; }
  } mark(this);
  CheckNow();
}

void TIdIPWatch::ReapRetired() {
  std::vector<std::unique_ptr<TIdIPWatchThread>> ending;
  {
    std::lock_guard guard(activeLock_);
    ending.swap(retired_);
  }
  for (auto& thread : ending) thread->TerminateAndWaitFor();
}

int TIdIPWatch::MaxHistoryEntries() const {
  std::lock_guard guard(stateLock_);
  return maxHistoryEntries_;
}

void TIdIPWatch::SetMaxHistoryEntries(int value) {
  std::lock_guard guard(stateLock_);
  maxHistoryEntries_ = value;
  TrimHistoryLocked();
}

int TIdIPWatch::WatchInterval() const {
  return watchInterval_.load();
}

void TIdIPWatch::SetWatchInterval(int ms) {
  watchInterval_.store(ms);
  std::lock_guard guard(activeLock_);
  if (thread_) thread_->SetInterval(ms);
}

std::string TIdIPWatch::CurrentAddress() const {
  std::lock_guard guard(stateLock_);
  return current_;
}

std::string TIdIPWatch::PreviousAddress() const {
  std::lock_guard guard(stateLock_);
  return previous_;
}

bool TIdIPWatch::NetworkUp() const {
  std::lock_guard guard(stateLock_);
  return networkUp_;
}

std::vector<std::string> TIdIPWatch::AddressHistory() const {
  std::lock_guard guard(stateLock_);
  return history_;
}

void TIdIPWatch::SetAddressSource(TIdLocalAddressSource source) {
  std::lock_guard guard(stateLock_);
  source_ = std::move(source);
}

std::string TIdIPWatch::QueryLocalAddress() {
  // A count rather than a flag: two lookups at once (the worker's and a
  // check) must not let the first to finish clear the other's mark.
  struct Busy {
    std::atomic<int>& count;
    explicit Busy(std::atomic<int>& c) : count(c) { ++count; }
    ~Busy() { --count; }
  } busy(lookups_);
  TIdLocalAddressSource source;
  {
    std::lock_guard guard(stateLock_);
    source = source_;
  }
  if (source) return source();
  return SharedStack().LocalAddress();
}

void TIdIPWatch::CheckNow() {
  if (LookupBusy()) return;
  try {
    const std::string address = QueryLocalAddress();
    bool changed = false;
    {
      std::lock_guard guard(stateLock_);
      const bool wasUp = networkUp_;
      const std::string oldAddress = current_;
      current_ = address;
      networkUp_ = IsOnLineAddress(address);
      if (wasUp && !networkUp_) {
        if (IsOnLineAddress(oldAddress)) previous_ = oldAddress;
        AddToHistoryLocked(previous_);
      }
      changed = wasUp != networkUp_;
    }
    // Raised outside the lock: the handler usually reads the state.
    if (changed && OnStatusChanged) OnStatusChanged(this);
  } catch (...) {
    // A failed check ends silently; the next one tries again.
  }
}

void TIdIPWatch::AddToHistoryLocked(const std::string& address) {
  if (!IsOnLineAddress(address)) return;
  if (!history_.empty() && history_.back() == address) return;
  history_.push_back(address);
  TrimHistoryLocked();
}

void TIdIPWatch::TrimHistoryLocked() {
  // A negative maximum keeps nothing rather than underflowing the count.
  const size_t limit = static_cast<size_t>(std::max(maxHistoryEntries_, 0));
  if (history_.size() > limit)
    history_.erase(history_.begin(), history_.begin() + static_cast<long>(history_.size() - limit));
}

void TIdIPWatch::SaveHistory() const {
  std::string text;
  for (const std::string& address : AddressHistory()) text += address + "\r\n";
  const std::string& path = HistoryFilename;
  auto fail = [&](int error) {
    throw EIdIPWatchHistoryError("Impossible d'écrire le fichier d'historique " + path + " : " +
                                 std::strerror(error));
  };
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail(errno);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      fail(error);
    }
    done += static_cast<size_t>(n);
  }
  // close reports write errors that surfaced late (for instance on NFS).
  if (::close(fd) != 0) fail(errno);
}

void TIdIPWatch::Close() {
  {
    std::lock_guard guard(stateLock_);
    if (closed_) return;
  }
  // The watch is ended first, so no check changes the state being saved.
  SetActive(false);
  {
    std::lock_guard guard(stateLock_);
    if (closed_) return;
    closed_ = true;
    if (networkUp_) AddToHistoryLocked(current_);
  }
  if (HistoryEnabled) SaveHistory();
  std::lock_guard guard(stateLock_);
  history_.clear();
}

}  // namespace quillon
