// A TCP connection that knows its target host and port and opens itself:
// it creates its own socket I/O handler when none is installed, connects
// (optionally bound to a local address or port range) and reports status.
#pragma once

#include <string>

#include "net/tcp/tcp_connection.h"

namespace quillon {

class TIdTCPClient : public TIdTCPConnection {
 public:
  const std::string& Host() const { return host_; }
  int Port() const { return port_; }
  virtual void SetHost(const std::string& host);
  virtual void SetPort(int port);
  virtual void FireConnected();
  // timeout: UseDefaultTimeout or 0 connect on the calling thread without a
  // limit of their own; WaitForever or a positive count of ms use a
  // connecting thread (see TIdIOHandlerSocket::TimedConnect).
  virtual void OpenConnection(int timeout = UseDefaultTimeout);
  // Opens, reads everything until the peer closes, and closes.
  virtual std::string ConnectAndReceiveAll();

 protected:
  // Opens the connection, runs `exchange` and closes again. When the
  // exchange fails the connection is closed too, and the exchange's failure
  // is the one reported (a failure to close then is dropped).
  template <typename Exchange>
  std::string OpenExchangeClose(Exchange&& exchange) {
    OpenConnection(UseDefaultTimeout);
    std::string result;
    try {
      result = exchange();
    } catch (...) {
      try {
        CloseConnection();
      } catch (...) {
      }
      throw;
    }
    CloseConnection();
    return result;
  }

 public:
  std::string BoundIP;
  int BoundPort = 0;
  int BoundPortLow = 0;
  int BoundPortHigh = 0;
  TIdNotifyEvent OnConnected;

 private:
  std::string host_;
  int port_ = 0;
};

}  // namespace quillon
