// The lookup worker: one thread that sleeps until the window wakes it, runs
// the operation the window last asked for (read once per run), with the wait
// indicator blinking meanwhile, and sleeps again. Requests made while it runs
// are dropped. Sleep and wake-up are built on a condition variable.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "app/lookup/wait_thread.h"

namespace quillon {

// Operation codes (PendingOperation).
enum TOperationCode : int {
  opLocalInfo = 0,
  opWhois = 1,
  opDnsMx = 2,
  opPing = 3,
  opTraceRoute = 4
};

// What the worker runs.
class TOperationRunner {
 public:
  virtual ~TOperationRunner() = default;
  // Runs one operation on the worker's thread; may throw (the worker
  // swallows it).
  virtual void RunOperation(int code, const std::string& hostText) = 0;
  // Called from another thread: the running operation should end as soon as
  // it can, writing nothing more.
  virtual void Interrupt() = 0;
};

class TMyWhois {
 public:
  // Created suspended.
  TMyWhois(TOperationRunner& runner, TWaitThread& indicator);
  // Waits for the thread without limit (see Terminate).
  ~TMyWhois();
  TMyWhois(const TMyWhois&) = delete;
  TMyWhois& operator=(const TMyWhois&) = delete;

  // PendingOperation with the host text it applies to; read once by the
  // next run.
  void SetPendingOperation(int code, std::string hostText);
  // Wakes the worker for one run (no effect while it is running a run).
  void Resume();
  // The window's request: store it, and wake the worker unless it is busy.
  // True when the worker was idle and so will run it.
  bool Request(int code, std::string hostText);

  bool WorkerBusy() const { return busy_.load(); }
  // Runs finished since creation.
  unsigned RunsCompleted() const { return runs_.load(); }
  // Waits until no run is pending or running; false on time-out.
  bool WaitUntilIdle(std::chrono::milliseconds limit);

  // Asks the thread to stop, interrupts the running operation, wakes the
  // thread and waits for it at most `limit`. True when it has ended; false
  // when it is still inside an operation that did not give way in time (it
  // will end on its own; the object must then outlive it).
  bool Terminate(std::chrono::milliseconds limit);

 private:
  void Execute();
  void Loop();

  TOperationRunner& runner_;
  TWaitThread& indicator_;
  std::atomic<bool> busy_{false};
  std::atomic<unsigned> runs_{0};

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool resumed_ = false;                // guarded by lock_
  bool stopRequested_ = false;          // guarded by lock_
  bool finished_ = false;               // guarded by lock_
  int pendingOperation_ = opLocalInfo;  // guarded by lock_
  std::string pendingHost_;             // guarded by lock_
  std::thread thread_;
};

}  // namespace quillon
