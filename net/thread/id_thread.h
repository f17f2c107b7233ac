// The base of the network code's own background threads: a thread that repeats
// a unit of work until stopped, can be paused and started again, records the
// failure that ends it, and can be ended and waited for in one call.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>

#include "net/socket/exceptions.h"
#include "net/thread/platform_thread.h"

namespace quillon {

QUILLON_EXCEPTION(EIdThreadTerminateAndWaitFor, EIdThreadException);

class TIdBaseThread : public TThread {
 public:
  using TThread::TThread;
};

enum TIdThreadStopMode : int { StopEnds = 0, StopPauses = 1 };

// Data of the current unit of work, owned by the thread.
class TIdThreadWorkData {
 public:
  virtual ~TIdThreadWorkData() = default;
};

class TIdThread : public TIdBaseThread {
 public:
  // Created stopped and suspended when createSuspended is true; otherwise it
  // runs from Start() (or MakeThread).
  explicit TIdThread(bool createSuspended = true);
  ~TIdThread() override;

  bool IsStopped() const;
  virtual void StartWork();
  virtual void StopWork();
  virtual void RequestEnd();
  virtual void TerminateAndWaitFor();

  TIdThreadStopMode StopMode() const { return stopMode_.load(); }
  void SetStopMode(TIdThreadStopMode mode) { stopMode_.store(mode); }

  // The failure that ended the thread: its message and class (null when none).
  std::string EndingExceptionText() const;
  const std::type_info* EndingExceptionClass() const;

  // Touched by the thread while it works; set it only while it is stopped.
  std::unique_ptr<TIdThreadWorkData> WorkData;

  // Both run on the thread itself. Assign them before the thread starts.
  std::function<void(TIdThread* Sender, const std::exception& E)> OnThreadException;
  std::function<void(TIdThread* Sender)> OnThreadStopped;

 protected:
  void Execute() override;

  virtual void WorkEnded() {}
  virtual void ThreadEnding() {}
  virtual void ThreadStarting() {}
  virtual void WorkStarting() {}
  virtual void ReleaseData();
  virtual void NotifyException(const std::exception& e);
  virtual void NotifyStopped();
  virtual void RunOneUnit() = 0;

 private:
  bool IsStoppedLocked() const;

  mutable std::mutex stopLock_;  // guards the stopped state
  std::atomic<bool> stopped_;
  std::atomic<TIdThreadStopMode> stopMode_{StopEnds};
  std::atomic<bool> tearingDown_{false};
  mutable std::mutex endingLock_;
  std::string endingText_;
  const std::type_info* endingClass_ = nullptr;
};

}  // namespace quillon
