// The wait indicator: a thread that, while resumed, flips the visibility of
// the "Please Wait !" label every 500 ms; StopBlinking pauses it and leaves
// the label hidden. Suspension and wake-up are built on a condition variable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/lookup/lookup_view.h"

namespace quillon {

class TWaitThread {
 public:
  static constexpr std::chrono::milliseconds kBlinkPeriod{500};

  // Created suspended: the label is not touched until Resume.
  explicit TWaitThread(TWaitLabel& label);
  ~TWaitThread();  // Terminate
  TWaitThread(const TWaitThread&) = delete;
  TWaitThread& operator=(const TWaitThread&) = delete;

  // Starts blinking: the label is first shown one period later.
  void Resume();
  // Pauses the indicator wherever it is and hides the label. When it
  // returns, no flip of the label is pending or in progress.
  void StopBlinking();
  // Asks the thread to stop, wakes it and waits for it; idempotent. The
  // label is not touched afterwards.
  void Terminate();

  bool Running() const;

 private:
  void Execute();

  TWaitLabel& label_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  bool running_ = false;        // guarded by lock_
  bool shown_ = false;          // guarded by lock_: the label's state as last set
  bool stopRequested_ = false;  // guarded by lock_
  unsigned resumes_ = 0;        // guarded by lock_: counts Resume calls
  std::thread thread_;
};

}  // namespace quillon
