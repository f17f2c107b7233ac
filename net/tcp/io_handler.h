// The transport under a TCP connection: the abstract I/O handler and the
// plain-socket handler, which resolves, binds and connects one socket handle,
// directly or with a time limit through a connecting thread (TimedConnect).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "net/socket/component.h"
#include "net/socket/socket_handle.h"
#include "net/tcp/socks_info.h"

namespace quillon {

class TIdIOHandler : public TIdComponent {
 public:
  virtual void AfterAccept() {}
  virtual void CloseHandler() {}
  virtual void ConnectTo(const std::string& host, int port, const std::string& boundIP,
                         int boundPort, int boundPortMin, int boundPortMax, int timeout);
  virtual bool HasSocket() = 0;
  virtual void OpenHandler() {}
  virtual bool WaitReadable(int timeoutMs) = 0;
  // Count received, 0 when the peer closed, -1 on failure (LastError set).
  virtual long ReceiveInto(void* buffer, size_t length) = 0;
  virtual long SendFrom(const void* buffer, size_t length) = 0;
};

class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  // How long each pass of TimedConnect waits for the connecting thread.
  static constexpr int ConnectStep = 125;

  TIdIOHandlerSocket() = default;
  ~TIdIOHandlerSocket() override;

  void CloseHandler() override;
  void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                 int boundPortMin, int boundPortMax, int timeout) override;
  bool HasSocket() override;
  void OpenHandler() override;
  bool WaitReadable(int timeoutMs) override;
  long ReceiveInto(void* buffer, size_t length) override;
  long SendFrom(const void* buffer, size_t length) override;

  // Connects the allocated, bound socket on a connecting thread and gives up
  // after `timeoutMs` (WaitForever: no limit): EIdConnectTimeout with the
  // socket closed, or EIdConnectException with the failure's text.
  void TimedConnect(int timeoutMs);

  // None until the first OpenHandler (or ConnectTo).
  TIdSocketHandle* SocketHandle() { return socketHandle_.get(); }
  // Created on first use.
  TIdSocksInfo& SocksInfo();

  bool UseNagle = true;

 private:
  std::unique_ptr<TIdSocketHandle> socketHandle_;
  std::unique_ptr<TIdSocksInfo> socksInfo_;
};

}  // namespace quillon
