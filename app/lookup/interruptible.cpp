// Interruptible component variants; see interruptible.h.
#include "app/lookup/interruptible.h"

#include <algorithm>

namespace quillon {

using Clock = std::chrono::steady_clock;

TInterruptibleIOHandler::TInterruptibleIOHandler(const std::atomic<bool>& interrupted)
    : interrupted_(interrupted) {
  OpenHandler();  // the socket handle exists from now on and is reused
  handle_ = SocketHandle();
}

void TInterruptibleIOHandler::WakeWait() {
  // shutdown on a connecting TCP socket aborts the connect; on a connected
  // one it ends every wait for data.
  if (handle_) handle_->WakeWaiters();
}

void TInterruptibleIOHandler::Arm(std::chrono::milliseconds limit, size_t maxBytes) {
  deadline_ = Clock::now() + limit;
  maxBytes_ = maxBytes;
  received_ = 0;
}

void TInterruptibleIOHandler::Disarm() {
  deadline_.reset();
  maxBytes_ = 0;
  received_ = 0;
}

int TInterruptibleIOHandler::MsLeft() const {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1 << 30));
}

void TInterruptibleIOHandler::Check() const {
  if (interrupted_.load()) throw EOperationInterrupted("Interrupted");
  if (deadline_ && MsLeft() == 0) throw EOperationTimeLimitExceeded("Time limit");
}

void TInterruptibleIOHandler::ConnectTo(const std::string& host, int port,
                                        const std::string& boundIP, int boundPort, int boundPortMin,
                                        int boundPortMax, int timeout) {
  Check();
  // Under a bound the connect runs on a connecting thread limited to the
  // time left; otherwise as asked.
  if (deadline_) timeout = std::max(MsLeft(), 1);
  TIdIOHandlerSocket::ConnectTo(host, port, boundIP, boundPort, boundPortMin, boundPortMax,
                                timeout);
}

bool TInterruptibleIOHandler::WaitReadable(int timeoutMs) {
  const bool forever = timeoutMs < 0;
  const auto end = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  for (;;) {
    Check();
    int slice = kWaitSliceMs;
    if (!forever) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      slice = static_cast<int>(std::clamp<decltype(left)>(left, 0, kWaitSliceMs));
    }
    if (deadline_) slice = std::min(slice, MsLeft());
    if (TIdIOHandlerSocket::WaitReadable(slice)) return true;
    if (!forever && Clock::now() >= end) return false;
  }
}

long TInterruptibleIOHandler::ReceiveInto(void* buffer, size_t length) {
  const long count = TIdIOHandlerSocket::ReceiveInto(buffer, length);
  if (count > 0 && maxBytes_ != 0) {
    received_ += static_cast<size_t>(count);
    if (received_ > maxBytes_) throw EOperationSizeLimitExceeded("Too many bytes");
  }
  return count;
}

TInterruptibleIcmpClient::TInterruptibleIcmpClient(const std::atomic<bool>& interrupted)
    : interrupted_(interrupted) {}

int TInterruptibleIcmpClient::ReceivePacket(uint8_t* buffer, int capacity, int timeout) {
  if (timeout < 0) timeout = ReceiveTimeout;
  const auto end = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
  for (;;) {
    if (interrupted_.load()) throw EOperationInterrupted("Interrupted");
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    const int slice = static_cast<int>(std::clamp<decltype(left)>(left, 0, kWaitSliceMs));
    const int count = TIdIcmpClient::ReceivePacket(buffer, capacity, slice);
    if (count != 0 || Clock::now() >= end) return count;
  }
}

TInterruptibleResolver::TInterruptibleResolver(const std::atomic<bool>& interrupted)
    : interrupted_(interrupted) {}

TInterruptibleResolver::~TInterruptibleResolver() {
  // The base releases the socket after this; no wake may reach it then.
  std::lock_guard guard(socketLock_);
  active_ = nullptr;
}

TIdSocketHandle& TInterruptibleResolver::AcquireSocket() {
  if (interrupted_.load()) throw EOperationInterrupted("Interrupted");
  TIdSocketHandle* handle = nullptr;
  {
    std::lock_guard guard(socketLock_);
    handle = &TIdDNSResolver::AcquireSocket();
    active_ = handle;
  }
  // A wake that came before the socket existed found nothing to shut down.
  if (interrupted_.load()) throw EOperationInterrupted("Interrupted");
  return *handle;
}

void TInterruptibleResolver::ReleaseSocket() {
  std::lock_guard guard(socketLock_);
  active_ = nullptr;
  TIdDNSResolver::ReleaseSocket();
}

void TInterruptibleResolver::WakeWait() {
  std::lock_guard guard(socketLock_);
  // shutdown wakes a poll on a UDP socket (connected or not) at once.
  if (active_) active_->WakeWaiters();
}

}  // namespace quillon
