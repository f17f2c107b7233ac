// A thread object in the style the network code expects: created suspended
// or not, resumed, suspended, asked to end, waited for, prioritised, able to
// run a call on the main thread and to free itself when it ends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "net/socket/exceptions.h"

namespace quillon {

QUILLON_EXCEPTION(EIdThreadException, EIdException);

enum TThreadPriority : int {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// Linux cannot suspend another thread, so suspension is cooperative and built
// on a condition variable:
//  - Suspend() on the thread itself parks it until Resume() or Terminate().
//  - Suspend() from another thread only asks; the thread parks at its next
//    safe point (CheckSuspend, SleepFor). WaitUntilSuspended waits for that.
//  - Resume() given while the thread is not parked is remembered (at most
//    one), so a thread that is about to park itself does not miss a Resume
//    that came a moment earlier.
//  - Terminate() also wakes a parked thread, which then sees Terminated().
//
// C++ runs no code after the most-derived constructor, so the operating-
// system thread is started lazily: a thread created suspended starts at its
// first Resume(); one created not suspended starts at Start() (MakeThread
// calls it). A thread destroyed before it ever started never runs Execute.
//
// A descendant whose Execute uses its own members must call
// EndThreadForDestruction() first thing in its destructor: by the time this
// base destructor runs, the descendant's members are gone.
class TThread {
 public:
  explicit TThread(bool createSuspended);
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // Asks the thread to end, wakes it and waits for it (unless called by the
  // thread itself as it frees itself).
  virtual ~TThread();

  // Starts a thread created not suspended; no effect otherwise.
  void Start();
  void Resume();
  void Suspend();
  void Terminate();
  // Waits until the thread has ended. On the main thread of an installed
  // dispatcher it keeps running the calls handed to the main thread, so a
  // thread waiting for the main thread can still end. Raises
  // EIdThreadException when called by the thread itself; must not be called
  // on a thread that frees itself.
  void WaitFor();
  // Waits up to timeoutMs until the thread is parked or has ended.
  bool WaitUntilSuspended(int timeoutMs);

  bool Terminated() const;
  bool Suspended() const;
  bool Finished() const;
  bool FreeOnTerminate() const;
  // The failure that escaped Execute, if any.
  std::exception_ptr FatalException() const;

  TThreadPriority Priority() const;
  // Best effort: raising above normal needs privileges that a desktop program
  // usually lacks; the request is then kept but has no effect.
  void SetPriority(TThreadPriority priority);

  // Hands the thread its own ownership: it frees itself when Execute ends
  // (at once, if it already has). The pointer returned stays valid until
  // then. Starts nothing: a suspended thread still needs Resume().
  template <class T>
  static T* ReleaseToThread(std::unique_ptr<T> thread) {
    T* raw = thread.get();
    static_cast<TThread*>(raw)->AdoptSelf(std::move(thread));
    return raw;
  }

  // Raised on the thread itself as it ends, after Execute.
  std::function<void(TThread* Sender)> OnTerminate;

 protected:
  virtual void Execute() = 0;
  // The end notification; by default raises OnTerminate.
  virtual void DoTerminate();

  // Runs `method` on the main thread and waits for it (RunOnMainThread):
  // false when the main thread is shutting down and the call was dropped.
  bool Synchronize(const std::function<void()>& method);
  // A safe point: parks here if another thread asked for a suspension.
  void CheckSuspend();
  // Sleeps up to ms, parking on the way if asked to; returns false at once
  // when the thread is asked to end.
  bool SleepFor(uint32_t ms);
  // Ends the thread and waits for it; see the class comment.
  void EndThreadForDestruction();

 private:
  void Launch();  // under lock_
  void Run();
  void ParkLocked(std::unique_lock<std::mutex>& guard);
  void ApplyPriorityLocked();
  void AdoptSelf(std::unique_ptr<TThread> self);

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::thread thread_;
  std::thread::id threadId_;
  int osThreadId_ = 0;
  bool createSuspended_;
  bool launched_ = false;
  bool terminated_ = false;
  bool finished_ = false;
  bool parked_ = false;
  bool resumePending_ = false;
  bool suspendRequested_ = false;
  TThreadPriority priority_ = tpNormal;
  std::exception_ptr fatal_;
  std::unique_ptr<TThread> self_;  // set while the thread owns itself
};

// Creates a thread object not suspended and starts it.
template <class T, class... Args>
std::unique_ptr<T> MakeThread(Args&&... args) {
  auto thread = std::make_unique<T>(std::forward<Args>(args)...);
  thread->Start();
  return thread;
}

}  // namespace quillon
