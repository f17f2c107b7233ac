// A datagram component: one UDP socket, opened on first use and kept until
// the component is deactivated, sending blocks of bytes to a host and port
// and receiving one datagram at a time with a time-out.
#pragma once

#include <memory>
#include <string>

#include "net/socket/component.h"
#include "net/socket/socket_handle.h"

namespace quillon {

class TIdUDPBase : public TIdComponent {
 public:
  TIdUDPBase() = default;
  ~TIdUDPBase() override;

  // Active: true when the socket is open (or, while loading, when the
  // stored flag is set). Setting it opens or closes the socket.
  virtual bool IsActive();
  void SetActive(bool value);

  // Loading from a saved form: while loading, SetActive only stores the
  // value; Loaded() applies it.
  void BeginLoading() { loading_ = true; }
  void Loaded();
  bool Loading() const { return loading_; }

  bool BroadcastEnabled() const { return broadcastEnabled_; }
  void SetBroadcastEnabled(bool value);

  // Creates the handle and its datagram socket when missing.
  virtual TIdSocketHandle& AcquireSocket();
  // Closes the socket and forgets the handle.
  virtual void ReleaseSocket();

  // Resolves `host` (on every call) and sends `count` bytes as one datagram.
  void SendBytesTo(const std::string& host, int port, const void* bytes, int count);
  void SendTextTo(const std::string& host, int port, const std::string& text);

  // Waits up to `timeoutMs` (UseDefaultTimeout = ReceiveTimeout, WaitForever
  // = no limit) for one datagram from any sender. Returns its size, or 0
  // with an empty peer when nothing came in time.
  int ReceiveBytes(void* buffer, int capacity, int timeoutMs, std::string& peerIp, int& peerPort);
  // One datagram of at most BufferSize bytes; empty when nothing came.
  std::string ReceiveText(int timeoutMs = UseDefaultTimeout);

  int BufferSize = 8192;
  std::string Host;
  int Port = 0;
  int ReceiveTimeout = WaitForever;

 protected:
  // Sets SO_BROADCAST on the open socket from BroadcastEnabled.
  virtual void ApplyBroadcast();
  TIdSocketHandle* Handle() const { return handle_.get(); }

 private:
  std::unique_ptr<TIdSocketHandle> handle_;
  bool storedActive_ = false;
  bool loading_ = false;
  bool broadcastEnabled_ = false;
};

class TIdUDPClient : public TIdUDPBase {
 public:
  using TIdUDPBase::SendTextTo;
  // Sends to Host:Port.
  void SendTextTo(const std::string& text) { SendTextTo(Host, Port, text); }
};

}  // namespace quillon
