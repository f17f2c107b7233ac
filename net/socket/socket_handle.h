// One socket with its local and remote addresses: created, bound (to a port
// or the first free port of a range, highest first), connected, waited on,
// read, written and closed, every call going through the shared stack.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "net/socket/stack.h"

namespace quillon {

class TIdSocketHandle {
 public:
  // `defaultPort` stands for the port default of an owning collection.
  explicit TIdSocketHandle(int defaultPort = 0);
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;
  virtual ~TIdSocketHandle();

  // Copies the addresses (not the socket) from another handle.
  void Assign(const TIdSocketHandle& source);

  void AllocateHandle(int socketType, int protocol);
  virtual void ShutAndClose();
  void ResetBinding(bool resetLocal);
  void SetRemote(const std::string& ip, int port);
  void BindLocal();
  bool TryBindLocal();
  bool BindInRange();
  virtual int ConnectPeer(int family);
  bool AcceptFrom(TIdStackSocketHandle listening);
  long ReceiveRaw(void* buffer, size_t length, int flags);
  long SendRaw(const void* buffer, size_t length, int flags);
  virtual long ReceiveDatagram(void* buffer, size_t length, int flags, std::string& ip, int& port);
  void SendDatagram(const std::string& ip, int port, const void* buffer, size_t length);
  void SetSocketOption(int level, int option, const void* value, socklen_t length);
  bool WaitReadable(int timeoutMs);
  void RefreshLocalBinding();
  void RefreshPeerBinding();
  // From any thread: shuts the open socket down in both directions, which
  // ends a connect, a wait or a read in progress on it. Exclusive with
  // closing and replacing the socket, so it never reaches a number that has
  // been closed meanwhile and may already name another descriptor. False
  // when no socket was open.
  bool WakeWaiters();

  TIdStackSocketHandle SocketId() const { return socketId_.load(); }
  bool IsOpen() const { return isOpen_.load(); }

  // The address family of the socket AllocateHandle opens and of the
  // addresses it is bound and connected to: Id_PF_INET or Id_PF_INET6.
  int IPVersion = Id_PF_INET;
  std::string IP;
  std::string RemoteIP;
  int Port = 0;
  int RemotePort = 0;
  int ClientPortMin = 0;
  int ClientPortMax = 0;

 private:
  // The socket number and the open flag are read by a connecting thread
  // while the owner may close the socket to end its wait.
  std::atomic<TIdStackSocketHandle> socketId_{Id_INVALID_SOCKET};
  std::atomic<bool> isOpen_{false};
  // Held while the socket is closed or replaced, and by WakeWaiters.
  std::mutex lifeLock_;
};

}  // namespace quillon
