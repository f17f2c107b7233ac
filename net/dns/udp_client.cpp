#include "net/dns/udp_client.h"

#include <algorithm>

#include "net/socket/stack.h"

namespace quillon {

TIdUDPBase::~TIdUDPBase() {
  try {
    storedActive_ = false;
    ReleaseSocket();
  } catch (...) {
    // Closing is best effort while the component goes away.
  }
}

bool TIdUDPBase::IsActive() {
  return storedActive_ || (handle_ && handle_->IsOpen());
}

void TIdUDPBase::SetActive(bool value) {
  if (value == IsActive()) return;
  if (loading_) {
    storedActive_ = value;
    return;
  }
  if (value)
    AcquireSocket();
  else
    ReleaseSocket();
}

void TIdUDPBase::Loaded() {
  loading_ = false;
  const bool value = storedActive_;
  storedActive_ = false;
  SetActive(value);
}

void TIdUDPBase::SetBroadcastEnabled(bool value) {
  if (value == broadcastEnabled_) return;
  broadcastEnabled_ = value;
  if (IsActive()) ApplyBroadcast();
}

TIdSocketHandle& TIdUDPBase::AcquireSocket() {
  if (!handle_) handle_ = std::make_unique<TIdSocketHandle>();
  if (!handle_->IsOpen()) {
    handle_->AllocateHandle(Id_SOCK_DGRAM, 0);
    ApplyBroadcast();
  }
  return *handle_;
}

void TIdUDPBase::ReleaseSocket() {
  handle_.reset();
}

void TIdUDPBase::ApplyBroadcast() {
  // Only an open socket takes the option; a stored active flag alone has none.
  if (!handle_ || !handle_->IsOpen()) return;
  const int value = broadcastEnabled_ ? -1 : 0;
  handle_->SetSocketOption(SOL_SOCKET, SO_BROADCAST, &value, sizeof value);
}

void TIdUDPBase::SendBytesTo(const std::string& host, int port, const void* bytes, int count) {
  const std::string ip = SharedStack().ResolveHostName(host);
  // The socket speaks one family: a destination of the other one gets a
  // new socket of its family (and a new local port). IPv4 keeps its socket.
  const int family = AddressFamilyOf(ip);
  if (handle_ && handle_->IPVersion != family) {
    ReleaseSocket();
    handle_ = std::make_unique<TIdSocketHandle>();
    handle_->IPVersion = family;
  } else if (!handle_ && family != Id_PF_INET) {
    handle_ = std::make_unique<TIdSocketHandle>();
    handle_->IPVersion = family;
  }
  AcquireSocket().SendDatagram(ip, port, bytes, static_cast<size_t>(std::max(count, 0)));
}

void TIdUDPBase::SendTextTo(const std::string& host, int port, const std::string& text) {
  SendBytesTo(host, port, text.data(), static_cast<int>(text.size()));
}

int TIdUDPBase::ReceiveBytes(void* buffer, int capacity, int timeoutMs, std::string& peerIp,
                             int& peerPort) {
  if (timeoutMs == UseDefaultTimeout) timeoutMs = ReceiveTimeout;
  TIdSocketHandle& handle = AcquireSocket();
  if (!handle.WaitReadable(timeoutMs)) {
    peerIp.clear();
    peerPort = 0;
    return 0;
  }
  const long count = handle.ReceiveDatagram(buffer, static_cast<size_t>(std::max(capacity, 0)), 0,
                                            peerIp, peerPort);
  SharedStack().CheckSocketResult(count);
  return static_cast<int>(count);
}

std::string TIdUDPBase::ReceiveText(int timeoutMs) {
  std::string text(static_cast<size_t>(std::max(BufferSize, 0)), '\0');
  std::string ip;
  int port = 0;
  text.resize(static_cast<size_t>(ReceiveBytes(text.data(), BufferSize, timeoutMs, ip, port)));
  return text;
}

}  // namespace quillon
