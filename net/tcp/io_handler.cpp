#include "net/tcp/io_handler.h"

#include <algorithm>
#include <cstdint>

#include "net/socket/stack.h"
#include "net/tcp/connect_thread.h"
#include "net/tcp/tcp_exceptions.h"

namespace quillon {

namespace {
constexpr int kLevelTcp = 6;  // IPPROTO_TCP
constexpr int kNoDelay = 1;   // TCP_NODELAY
constexpr int kGuardedConnectLimit = 120000;
}  // namespace

void TIdIOHandler::ConnectTo(const std::string&, int, const std::string&, int, int, int, int) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  try {
    CloseHandler();
  } catch (...) {
    // Closing is best effort while the handler goes away.
  }
}

void TIdIOHandlerSocket::CloseHandler() {
  if (socketHandle_) socketHandle_->ShutAndClose();
}

bool TIdIOHandlerSocket::HasSocket() {
  return socketHandle_ && socketHandle_->IsOpen();
}

void TIdIOHandlerSocket::OpenHandler() {
  if (socketHandle_) {
    // A handle is only reopened once closed; closing first keeps a socket
    // that is somehow still open from leaking when the binding is reset.
    socketHandle_->ShutAndClose();
    socketHandle_->ResetBinding(true);
  } else {
    socketHandle_ = std::make_unique<TIdSocketHandle>();
  }
}

bool TIdIOHandlerSocket::WaitReadable(int timeoutMs) {
  if (!socketHandle_) throw EIdClosedSocket(msg::kClosedSocket);
  return socketHandle_->WaitReadable(timeoutMs);
}

long TIdIOHandlerSocket::ReceiveInto(void* buffer, size_t length) {
  if (!HasSocket()) throw EIdClosedSocket(msg::kClosedSocket);
  return socketHandle_->ReceiveRaw(buffer, length, 0);
}

long TIdIOHandlerSocket::SendFrom(const void* buffer, size_t length) {
  if (!HasSocket()) throw EIdClosedSocket(msg::kClosedSocket);
  return socketHandle_->SendRaw(buffer, length, 0);
}

TIdSocksInfo& TIdIOHandlerSocket::SocksInfo() {
  if (!socksInfo_) socksInfo_ = std::make_unique<TIdSocksInfo>();
  return *socksInfo_;
}

void TIdIOHandlerSocket::ConnectTo(const std::string& host, int port, const std::string& boundIP,
                                   int boundPort, int boundPortMin, int boundPortMax, int timeout) {
  if (!socketHandle_) OpenHandler();
  TIdSocketHandle& handle = *socketHandle_;
  TIdStack& stack = SharedStack();

  std::string targetHost = host;
  int targetPort = port;
  if (SocksInfo().Version != svNoSocks) {
    targetHost = SocksInfo().Host;
    targetPort = SocksInfo().Port;
  }

  // IPv4 unless the bound address says IPv6; a target reached over the
  // other family gets a socket of its own once its address is known.
  const auto openAndBind = [&](int family) {
    handle.IPVersion = family;
    handle.AllocateHandle(Id_SOCK_STREAM, 0);
    handle.IP = boundIP;
    handle.Port = boundPort;
    handle.ClientPortMin = boundPortMin;
    handle.ClientPortMax = boundPortMax;
    handle.BindLocal();
  };
  openAndBind(AddressFamilyOf(boundIP));

  if (!TIdStack::IsIPLiteral(targetHost)) ReportStatus(hsResolving, {targetHost});
  const std::string remote = stack.ResolveHostName(targetHost);
  if (AddressFamilyOf(remote) != handle.IPVersion) openAndBind(AddressFamilyOf(remote));
  handle.SetRemote(remote, targetPort);

  if (!UseNagle) {
    const int32_t one = 1;
    handle.SetSocketOption(kLevelTcp, kNoDelay, &one, sizeof one);
  }
  ReportStatus(hsConnecting, {handle.RemoteIP});

  if (timeout != 0 && timeout != UseDefaultTimeout)
    TimedConnect(timeout);
  else if (GuardInUse())
    TimedConnect(kGuardedConnectLimit);
  else
    stack.CheckSocketResult(handle.ConnectPeer(handle.IPVersion));

  SocksInfo().MakeSocksConnection(host, port);
}

void TIdIOHandlerSocket::TimedConnect(int timeoutMs) {
  if (!socketHandle_) throw EIdClosedSocket(msg::kClosedSocket);
  TIdConnectThread thread(*socketHandle_);
  thread.Start();

  int step = ConnectStep;
  if (GuardInUse()) step = std::min<int>(ActiveGuard()->IdleTimeOut, ConnectStep);
  step = std::max(step, 1);
  const bool forever = timeoutMs == WaitForever;
  int64_t remaining = forever ? step + 1 : timeoutMs;

  // The limit is tested in steps; a finished thread ends the wait at once
  // (the wait is on its finished signal, not a plain sleep).
  while (step < remaining) {
    const bool done = thread.WaitFinished(step);
    remaining = forever ? step + 1 : remaining - step;
    RunGuard(true, false);
    if (done) {
      remaining = 0;
      break;
    }
  }
  thread.WaitFinished(remaining);

  if (!thread.Finished()) {
    // Wake the thread, wait for it, and only then close the socket: the
    // descriptor is never closed while another thread may still use it.
    thread.Terminate();
    thread.WaitFor();
    CloseHandler();
    throw EIdConnectTimeout(msg::kConnectTimeout);
  }
  thread.WaitFor();
  if (!thread.FailureText().empty()) throw EIdConnectException(thread.FailureText());
}

}  // namespace quillon
