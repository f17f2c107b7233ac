#include "net/socket/socket_handle.h"

#include "net/socket/component.h"
#include "net/socket/exceptions.h"
#include "net/socket/text_helpers.h"

namespace quillon {

namespace {
constexpr int kAddressInUse = 10048;
constexpr int kMessageTooLong = 10040;
constexpr int kInterrupted = 10004;
constexpr int kNotASocket = 10038;
}  // namespace

TIdSocketHandle::TIdSocketHandle(int defaultPort) {
  ResetBinding(true);
  Port = defaultPort;
}

TIdSocketHandle::~TIdSocketHandle() {
  try {
    ShutAndClose();
  } catch (...) {
    // Closing is best effort in a destructor (the stack may already be gone).
  }
}

void TIdSocketHandle::Assign(const TIdSocketHandle& source) {
  IPVersion = source.IPVersion;
  IP = source.IP;
  Port = source.Port;
  RemoteIP = source.RemoteIP;
  RemotePort = source.RemotePort;
}

void TIdSocketHandle::AllocateHandle(int socketType, int protocol) {
  ShutAndClose();
  std::lock_guard guard(lifeLock_);
  socketId_.store(SharedStack().NewSocket(socketType, protocol, IPVersion));
  isOpen_.store(true);
}

void TIdSocketHandle::ShutAndClose() {
  std::lock_guard guard(lifeLock_);
  if (!isOpen_.exchange(false)) return;
  TIdStack& stack = SharedStack();
  const TIdStackSocketHandle s = socketId_.load();
  stack.SockShutdown(s, SHUT_WR);
  stack.SockClose(s);
}

bool TIdSocketHandle::WakeWaiters() {
  std::lock_guard guard(lifeLock_);
  if (!isOpen_.load()) return false;
  SharedStack().SockShutdown(socketId_.load(), SHUT_RDWR);
  return true;
}

void TIdSocketHandle::ResetBinding(bool resetLocal) {
  {
    std::lock_guard guard(lifeLock_);
    isOpen_.store(false);
    socketId_.store(Id_INVALID_SOCKET);
  }
  if (resetLocal) {
    IP.clear();
    Port = 0;
  }
  RemoteIP.clear();
  RemotePort = 0;
}

void TIdSocketHandle::SetRemote(const std::string& ip, int port) {
  RemoteIP = ip;
  RemotePort = port;
}

void TIdSocketHandle::BindLocal() {
  if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
    if (!TryBindLocal())
      throw EIdCouldNotBindSocket(
          "Impossible d'établir une liaison avec le socket. L'adresse et le port sont déjà "
          "utilisés.");
    return;
  }
  if (ClientPortMin > ClientPortMax)
    throw EIdInvalidPortRange(
        Sprintf("Etendue de port incorrecte (%d - %d)", ClientPortMin, ClientPortMax));
  if (!BindInRange())
    throw EIdCanNotBindPortInRange(Sprintf("Liaison impossible dans l'étendue du port (%d - %d)",
                                           ClientPortMin, ClientPortMax));
}

bool TIdSocketHandle::TryBindLocal() {
  TIdStack& stack = SharedStack();
  if (stack.CheckSocketResult(stack.SockBind(socketId_.load(), IPVersion, IP, Port),
                              {kAddressInUse}))
    return false;
  RefreshLocalBinding();
  return true;
}

bool TIdSocketHandle::BindInRange() {
  if (ClientPortMax < ClientPortMin) return false;
  for (int candidate = ClientPortMax; candidate >= ClientPortMin; --candidate) {
    Port = candidate;
    if (TryBindLocal()) return true;
  }
  return false;
}

int TIdSocketHandle::ConnectPeer(int family) {
  TIdStack& stack = SharedStack();
  const int r = stack.SockConnect(socketId_.load(), family, RemoteIP, RemotePort);
  if (r != Id_SOCKET_ERROR) {
    RefreshLocalBinding();
    RefreshPeerBinding();
  }
  return r;
}

bool TIdSocketHandle::AcceptFrom(TIdStackSocketHandle listening) {
  ResetBinding(true);
  TIdStack& stack = SharedStack();
  const TIdStackSocketHandle s = stack.SockAccept(listening, IP, Port);
  if (stack.CheckSocketResult(s, {kInterrupted, kNotASocket})) return false;
  {
    std::lock_guard guard(lifeLock_);
    socketId_.store(s);
    isOpen_.store(true);
  }
  RefreshLocalBinding();
  RefreshPeerBinding();
  return true;
}

long TIdSocketHandle::ReceiveRaw(void* buffer, size_t length, int flags) {
  return SharedStack().SockRecv(socketId_.load(), buffer, length, flags);
}

long TIdSocketHandle::SendRaw(const void* buffer, size_t length, int flags) {
  return SharedStack().SockSend(socketId_.load(), buffer, length, flags);
}

long TIdSocketHandle::ReceiveDatagram(void* buffer, size_t length, int flags, std::string& ip,
                                      int& port) {
  return SharedStack().SockRecvFrom(socketId_.load(), buffer, length, flags, ip, port);
}

void TIdSocketHandle::SendDatagram(const std::string& ip, int port, const void* buffer,
                                   size_t length) {
  TIdStack& stack = SharedStack();
  const long r = stack.SockSendTo(socketId_.load(), buffer, length, 0, ip, port);
  if (r == Id_SOCKET_ERROR) {
    if (stack.LastErrorCode() == kMessageTooLong)
      throw EIdPackageSizeTooBig("Taille de paquet trop élevée.");
    stack.CheckSocketResult(Id_SOCKET_ERROR);
  }
  if (r != static_cast<long>(length))
    throw EIdNotAllBytesSent("Tous les octets n'ont pas été envoyés.");
}

void TIdSocketHandle::SetSocketOption(int level, int option, const void* value, socklen_t length) {
  TIdStack& stack = SharedStack();
  stack.CheckSocketResult(stack.SockSetOption(socketId_.load(), level, option, value, length));
}

bool TIdSocketHandle::WaitReadable(int timeoutMs) {
  if (!isOpen_.load()) throw EIdConnClosedGracefully("La connexion s'est terminée proprement.");
  if (GuardInUse()) {
    const int idle = ActiveGuard()->IdleTimeOut;
    if (timeoutMs == WaitForever) {
      while (!WaitReadable(idle)) {
      }
      return true;
    }
    if (timeoutMs > idle) {
      if (WaitReadable(timeoutMs - idle)) return true;
      timeoutMs = idle;
    }
  }
  std::vector<int> readList{socketId_.load()};
  const bool ready = SharedStack().WaitSockets(&readList, nullptr, timeoutMs, nullptr) == 1;
  RunGuard(!ready, false);
  return ready;
}

void TIdSocketHandle::RefreshLocalBinding() {
  int family = 0;
  SharedStack().LocalAddressOf(socketId_.load(), family, IP, Port);
}

void TIdSocketHandle::RefreshPeerBinding() {
  int family = 0;
  SharedStack().PeerAddressOf(socketId_.load(), family, RemoteIP, RemotePort);
}

}  // namespace quillon
