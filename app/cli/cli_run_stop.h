// Stopping a command that runs on a list worker: while it runs, the command
// attaches what can be interrupted (its lookup operations) to the stop of its
// thread, or watches the stop's flag, and the list stops it from the main
// thread (Ctrl-C, or an output that can no longer be written). A command run
// outside a list finds no stop and attaches nothing.
#pragma once

#include <atomic>
#include <mutex>

#include "app/lookup/lookup_worker.h"

namespace quillon {

class TRunStop {
 public:
  // For good: what is attached now or later is interrupted.
  void Stop();
  bool Stopped() const;
  // True once stopped, for code that polls a flag between its waits.
  const std::atomic<bool>& Flag() const { return stopped_; }
  void Attach(TOperationRunner* runner);
  void Detach(TOperationRunner* runner);

 private:
  mutable std::mutex mutex_;
  TOperationRunner* runner_ = nullptr;
  std::atomic<bool> stopped_{false};
};

// The stop of the calling thread, or nullptr.
TRunStop* ThisThreadRunStop();
// The flag of the calling thread's stop; outside a list, a flag that is never
// set.
const std::atomic<bool>& ThisThreadStopFlag();

// Makes `stop` the calling thread's stop while it lives.
class TRunStopBinding {
 public:
  explicit TRunStopBinding(TRunStop& stop);
  ~TRunStopBinding();
  TRunStopBinding(const TRunStopBinding&) = delete;
  TRunStopBinding& operator=(const TRunStopBinding&) = delete;

 private:
  TRunStop* previous_;
};

// Attaches `runner` to the calling thread's stop (if any) while it lives.
class TRunStopAttachment {
 public:
  explicit TRunStopAttachment(TOperationRunner& runner);
  ~TRunStopAttachment();
  TRunStopAttachment(const TRunStopAttachment&) = delete;
  TRunStopAttachment& operator=(const TRunStopAttachment&) = delete;

 private:
  TRunStop* stop_;
  TOperationRunner& runner_;
};

}  // namespace quillon
