// Asking one public-address source: what the asking gives back (an address,
// or a failure in plain English), the control that bounds it in time and ends
// it from another thread, and the askers of each kind.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

#include "app/lookup/public_address_answer.h"
#include "app/lookup/public_address_sources.h"

namespace quillon {

inline constexpr const char* kNoAnswerInTime = "no answer in time";

// One source's run: its deadline, a stop that another thread can raise, and
// the wake-up its asker registers so that a stop ends a wait at once.
class TSourceControl {
 public:
  using Clock = std::chrono::steady_clock;
  explicit TSourceControl(Clock::time_point deadline) : deadline_(deadline) {}

  const std::atomic<bool>& StopFlag() const { return stop_; }
  bool Stopped() const { return stop_.load(); }
  Clock::time_point Deadline() const { return deadline_; }
  // At least 1 ms, so that a bound of 0 never reads as "no bound".
  std::chrono::milliseconds TimeLeft() const;

  // From any thread: raises the stop and runs the registered wake-up.
  void Stop();
  // The asking is over (the thread's last act).
  void MarkFinished();
  // Waits until MarkFinished or `until`; true when finished.
  bool WaitFinished(Clock::time_point until);

  // Registers `wake` for the life of the registration; a stop raised
  // before registering runs it at once. `wake` may run on another thread
  // while registered, never after.
  class TWake {
   public:
    TWake(TSourceControl& control, std::function<void()> wake);
    ~TWake();
    TWake(const TWake&) = delete;
    TWake& operator=(const TWake&) = delete;

   private:
    TSourceControl& control_;
  };

 private:
  const Clock::time_point deadline_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;  // guards wake_ and finished_
  std::condition_variable finishedSignal_;
  std::function<void()> wake_;
  bool finished_ = false;
};

// How a source is asked; must not throw.
using TSourceAsker = std::function<TSourceReading(const TPublicAddressSource&, TSourceControl&)>;

// The asker of each kind: HTTP GET (GetBody), or the DNS question to the
// source's server over IPv4.
TSourceReading AskSource(const TPublicAddressSource& source, TSourceControl& control);
TSourceReading AskHttpSource(const TPublicAddressSource& source, TSourceControl& control);
TSourceReading AskDnsSource(const TPublicAddressSource& source, TSourceControl& control);

// A failure of the network code in plain English (never the exception's own
// text): "connection refused", "HTTP status 404", "no answer in time" ...
std::string FailureText(std::exception_ptr failure, const TSourceControl& control);

}  // namespace quillon
