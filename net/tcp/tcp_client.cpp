#include "net/tcp/tcp_client.h"

#include <memory>

#include "net/tcp/tcp_exceptions.h"

namespace quillon {

void TIdTCPClient::SetHost(const std::string& host) {
  host_ = host;
}

void TIdTCPClient::SetPort(int port) {
  port_ = port;
}

void TIdTCPClient::FireConnected() {
  if (OnConnected) OnConnected(this);
}

void TIdTCPClient::OpenConnection(int timeout) {
  if (!IOHandler()) {
    auto handler = std::make_unique<TIdIOHandlerSocket>();
    handler->OnStatus = OnStatus;
    InstallOwnedIOHandler(std::move(handler));
  } else if (IOHandler()->HasSocket()) {
    throw EIdAlreadyConnected(msg::kAlreadyConnected);
  }
  try {
    IOHandler()->OpenHandler();
    ResetInput();
    IOHandler()->ConnectTo(host_, port_, BoundIP, BoundPort, BoundPortLow, BoundPortHigh, timeout);
    if (Intercept) Intercept->Connect(this);
    ReportStatus(hsConnected, {host_});
    FireConnected();
  } catch (...) {
    DropSocket();
    throw;
  }
}

std::string TIdTCPClient::ConnectAndReceiveAll() {
  return OpenExchangeClose([this] { return ReceiveAll(); });
}

}  // namespace quillon
