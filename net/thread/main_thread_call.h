// "Run this on the main thread and wait until it has run", without tying the
// network code to any window toolkit: a small dispatcher interface that the
// program installs, a ready-made queued dispatcher, and the shutdown switch.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quillon {

// What a program with a main loop installs so that background threads can
// hand calls to it.
//
// Contract for implementations:
//  - RunAndWait runs `call` on the main thread and returns true once it has
//    run; a failure of the call is passed back to the caller. Called on the
//    main thread itself, it runs the call directly.
//  - After Shutdown, RunAndWait returns false at once without running the
//    call, and every call still waiting returns false too: a thread never
//    waits for a main loop that has stopped turning.
//  - ServePending, called on the main thread, runs the calls that are
//    waiting now; the main thread calls it while it waits for a thread to
//    end, so that a thread waiting for the main thread can still finish.
class TMainThreadDispatcher {
 public:
  TMainThreadDispatcher() = default;
  TMainThreadDispatcher(const TMainThreadDispatcher&) = delete;
  TMainThreadDispatcher& operator=(const TMainThreadDispatcher&) = delete;
  virtual ~TMainThreadDispatcher() = default;

  virtual bool RunAndWait(const std::function<void()>& call) = 0;
  virtual bool IsMainThread() const = 0;
  virtual void ServePending() = 0;
  virtual void Shutdown() = 0;
};

// A dispatcher over a queue. The thread that constructs it is its main
// thread, which runs the queued calls in ServePending or Pump. A window
// derives from it and overrides Wake to post an event to its own loop whose
// handler calls ServePending; a program without a loop calls Pump.
class TQueuedMainThreadDispatcher : public TMainThreadDispatcher {
 public:
  TQueuedMainThreadDispatcher();
  ~TQueuedMainThreadDispatcher() override;

  bool RunAndWait(const std::function<void()>& call) override;
  bool IsMainThread() const override;
  void ServePending() override;
  void Shutdown() override;

  // On the main thread: waits up to timeoutMs for a call to arrive, then runs
  // every queued call. Returns how many ran.
  int Pump(int timeoutMs);
  bool IsShutDown() const;

 protected:
  // Called on the calling thread each time a call has been queued.
  virtual void Wake() {}

 private:
  struct Pending {
    const std::function<void()>* call = nullptr;
    bool done = false;
    bool ran = false;
    std::exception_ptr failure;
  };
  int RunQueued();

  const std::thread::id mainThread_;
  mutable std::mutex lock_;
  std::condition_variable arrived_;   // a call was queued (or shut down)
  std::condition_variable finished_;  // a call was run or dropped
  std::deque<Pending*> queue_;
  bool shutDown_ = false;
};

// Installs the process's dispatcher; null returns to the default.
void SetMainThreadDispatcher(std::shared_ptr<TMainThreadDispatcher> dispatcher);
std::shared_ptr<TMainThreadDispatcher> MainThreadDispatcher();

// Runs `call` on the main thread and waits for it; true when it ran.
// With no dispatcher installed (tests, command-line programs) the call runs
// directly on the calling thread. Once the main thread is shutting down the
// call is not run and false is returned without waiting.
bool RunOnMainThread(const std::function<void()>& call);

// Called by the main loop as it stops: no call waits for it any longer
// (pending and new calls return false). EndMainThreadShutdown lifts this for
// a program that starts a new main loop.
void BeginMainThreadShutdown();
void EndMainThreadShutdown();
bool MainThreadShuttingDown();

}  // namespace quillon
