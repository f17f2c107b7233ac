// Component variants whose waits give way when the lookup is interrupted
// (the window closing): the TCP transport and the ICMP client wait in short
// slices and check the stop flag between them; the DNS resolver's socket can
// be shut down from another thread to end its wait, never after it has been
// closed. The TCP transport can also bound a whole exchange in time and in
// bytes received.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>

#include "net/dns/resolver.h"
#include "net/icmp/icmp_client.h"
#include "net/socket/exceptions.h"
#include "net/tcp/io_handler.h"

namespace quillon {

// The lookup was interrupted: the operation ends without writing anything.
QUILLON_EXCEPTION(EOperationInterrupted, EIdException);
// An exchange went over its time or size bound.
QUILLON_EXCEPTION(EOperationLimitExceeded, EIdException);
QUILLON_EXCEPTION(EOperationTimeLimitExceeded, EOperationLimitExceeded);
QUILLON_EXCEPTION(EOperationSizeLimitExceeded, EOperationLimitExceeded);

// How long one slice of a wait lasts at most.
inline constexpr int kWaitSliceMs = 50;

class TInterruptibleIOHandler : public TIdIOHandlerSocket {
 public:
  explicit TInterruptibleIOHandler(const std::atomic<bool>& interrupted);

  // Bounds everything until Disarm: connect and reads end by `limit` from
  // now, and more than `maxBytes` received fails.
  void Arm(std::chrono::milliseconds limit, size_t maxBytes);
  void Disarm();

  // From another thread: shuts the socket down, which ends a connect or a
  // wait in progress at once (the socket itself is closed by its owner; a
  // socket already closed is left alone).
  void WakeWait();

  void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                 int boundPortMin, int boundPortMax, int timeout) override;
  bool WaitReadable(int timeoutMs) override;
  long ReceiveInto(void* buffer, size_t length) override;

 private:
  void Check() const;
  int MsLeft() const;

  const std::atomic<bool>& interrupted_;
  // Made once by the constructor and kept: WakeWait may read it from any
  // thread.
  TIdSocketHandle* handle_ = nullptr;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  size_t maxBytes_ = 0;
  size_t received_ = 0;
};

class TInterruptibleIcmpClient : public TIdIcmpClient {
 public:
  explicit TInterruptibleIcmpClient(const std::atomic<bool>& interrupted);
  int ReceivePacket(uint8_t* buffer, int capacity, int timeout) override;

 private:
  const std::atomic<bool>& interrupted_;
};

class TInterruptibleResolver : public TIdDNSResolver {
 public:
  explicit TInterruptibleResolver(const std::atomic<bool>& interrupted);
  ~TInterruptibleResolver() override;

  TIdSocketHandle& AcquireSocket() override;
  void ReleaseSocket() override;
  // From another thread: wakes a wait on the resolver's socket by shutting
  // it down. Exclusive with releasing the socket, so it never reaches a
  // handle or a descriptor number that has gone meanwhile.
  void WakeWait();

 private:
  const std::atomic<bool>& interrupted_;
  std::mutex socketLock_;  // guards active_ and the life of what it points to
  TIdSocketHandle* active_ = nullptr;
};

}  // namespace quillon
