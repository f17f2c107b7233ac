// The --rate of a dns run: questions spread evenly at most `qps` a second,
// shared by every worker of a list, so the whole run keeps the cap.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

namespace quillon {

class TDnsPacer {
 public:
  // `qps` > 0.
  explicit TDnsPacer(double qps);
  // Waits for the next free slot; returns early when `interrupted` is set.
  void Wait(const std::atomic<bool>* interrupted);

 private:
  using Clock = std::chrono::steady_clock;
  const Clock::duration gap_;
  std::mutex mutex_;
  Clock::time_point next_{};
};

}  // namespace quillon
