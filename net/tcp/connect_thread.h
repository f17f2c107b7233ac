// The short-lived thread that connects a socket for TimedConnect, so that the
// owner can give up after a time limit. It connects without blocking and
// waits on the socket together with a wake-up eventfd: the owner wakes it,
// joins it, and only then closes the socket.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "net/socket/socket_handle.h"

namespace quillon {

class TIdConnectThread {
 public:
  // Created suspended; `handle` must hold an allocated, bound socket with its
  // remote address set, and outlive the thread.
  explicit TIdConnectThread(TIdSocketHandle& handle);
  ~TIdConnectThread();  // terminates and waits
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  void Start();
  // Waits up to `ms` for the thread to finish; true when it has.
  bool WaitFinished(int64_t ms);
  bool Finished() const { return finished_.load(); }
  // Marks the thread terminated and wakes its wait; the connect is abandoned.
  void Terminate();
  void WaitFor();
  bool Terminated() const { return terminated_.load(); }
  // Empty unless the connect failed; read after WaitFor.
  const std::string& FailureText() const { return failureText_; }

 private:
  void Execute();
  void Connect();

  TIdSocketHandle& socketHandle_;
  int wakeFd_ = -1;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::mutex lock_;
  std::condition_variable finishedSignal_;
  std::string failureText_;
  std::thread thread_;
};

}  // namespace quillon
