// The process-wide socket stack: every socket call of the network code goes
// through it, failures become EIdSocketError with French texts; it also
// resolves names, converts IPv4 addresses and lists the local addresses.
#pragma once

#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "net/socket/address_text.h"

namespace quillon {

using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int Id_SOCKET_ERROR = -1;
constexpr int Id_PF_INET = 2;
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_SOCK_DGRAM = 2;
constexpr int Id_SOCK_RAW = 3;

// Time-out arguments, in milliseconds.
constexpr int UseDefaultTimeout = -1;  // the component's own configured time-out
constexpr int WaitForever = -2;        // no limit

using TIdAddressBytes = std::array<uint8_t, 4>;

class TIdStack {
 public:
  TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;
  virtual ~TIdStack() = default;

  virtual void RefillLocalAddresses() = 0;
  virtual std::string LocalAddress();
  // A copy of the local addresses, refilled on every call.
  virtual std::vector<std::string> LocalAddresses();
  virtual TIdStackSocketHandle SockAccept(TIdStackSocketHandle s, std::string& ip, int& port) = 0;
  virtual int SockBind(TIdStackSocketHandle s, int family, const std::string& ip, int port) = 0;
  virtual int SockClose(TIdStackSocketHandle s) = 0;
  virtual int SockConnect(TIdStackSocketHandle s, int family, const std::string& ip, int port) = 0;
  // The first address of `host`: with Id_PF_UNSPEC one lookup for both
  // families, whose first IPv4 answer is taken, else its first IPv6 one;
  // with Id_PF_INET or Id_PF_INET6 one of that family only.
  virtual std::string HostAddressOf(const std::string& host, int family = Id_PF_UNSPEC) = 0;
  virtual std::string LocalHostName() = 0;
  virtual std::string HostNameOf(const std::string& ip) = 0;
  virtual int ServicePort(const std::string& service) = 0;
  virtual std::vector<std::string> ServiceNames(int port) = 0;
  virtual uint16_t HostToNet16(uint16_t value) = 0;
  virtual int SockListen(TIdStackSocketHandle s, int backlog) = 0;
  virtual uint16_t NetToHost16(uint16_t value) = 0;
  virtual uint32_t HostToNet32(uint32_t value) = 0;
  virtual uint32_t NetToHost32(uint32_t value) = 0;
  virtual long SockRecv(TIdStackSocketHandle s, void* buffer, size_t length, int flags) = 0;
  virtual long SockRecvFrom(TIdStackSocketHandle s, void* buffer, size_t length, int flags,
                            std::string& ip, int& port) = 0;
  // Lists hold sockets and are replaced by the ready ones; timeoutMs
  // WaitForever waits without limit. Returns the ready count, 0 on time-out,
  // -1 on failure (unchecked).
  virtual int WaitSockets(std::vector<int>* readList, std::vector<int>* writeList, int timeoutMs,
                          std::vector<int>* errorList) = 0;
  virtual long SockSend(TIdStackSocketHandle s, const void* buffer, size_t length, int flags) = 0;
  virtual long SockSendTo(TIdStackSocketHandle s, const void* buffer, size_t length, int flags,
                          const std::string& ip, int port) = 0;
  virtual int SockSetOption(TIdStackSocketHandle s, int level, int option, const void* value,
                            socklen_t length) = 0;
  virtual TIdStackSocketHandle SockCreate(int family, int type, int protocol) = 0;
  virtual int SockShutdown(TIdStackSocketHandle s, int how) = 0;
  virtual std::string ErrorText(int code);
  virtual int LastErrorCode() = 0;
  virtual void PeerAddressOf(TIdStackSocketHandle s, int& family, std::string& ip, int& port) = 0;
  virtual void LocalAddressOf(TIdStackSocketHandle s, int& family, std::string& ip, int& port) = 0;
  virtual int SockGetOption(TIdStackSocketHandle s, int level, int option, void* value,
                            socklen_t& length) = 0;
  virtual std::string AddressToText(const TIdAddressBytes& bytes);
  virtual TIdAddressBytes TextToAddress(const std::string& ip);

  // False for success; true for a failure whose code is in `ignored`; any
  // other failure raises EIdSocketError. LastSocketError changes only on
  // failure.
  bool CheckSocketResult(long result, std::initializer_list<int> ignored = {});
  [[noreturn]] void RaiseSocketFailure(int code);
  // An AF_INET socket, or one of `family` (Id_PF_INET6), or raises.
  TIdStackSocketHandle NewSocket(int type, int protocol, int family = Id_PF_INET);
  // The address text to reach `host`: an IPv4 literal as it is, an IPv6
  // literal in its RFC 5952 form, a name by HostAddressOf. `family` other
  // than Id_PF_UNSPEC accepts only addresses of that family; any other
  // gives the host-not-found failure (11001).
  std::string ResolveHostName(const std::string& host, int family = Id_PF_UNSPEC);
  // True for dotted IPv4 text (four numbers from 0 to 255).
  static bool IsAddressLiteral(const std::string& text);
  // True for IPv4 or IPv6 address text.
  static bool IsIPLiteral(const std::string& text);
  // True when two address texts name the same address: IPv4 by its four
  // bytes, IPv6 by its sixteen bytes and its scope, a zone given by
  // interface name or by index ("fe80::1%eth0" is "fe80::1%2" when eth0 has
  // index 2). Texts that are no address are never the same.
  static bool SameAddress(const std::string& a, const std::string& b);
  // The address as one 32-bit value holding the four bytes in network order.
  uint32_t TextToAddress32(const std::string& ip);

  // The last failure seen by any thread.
  std::atomic<int> LastSocketError{0};

 protected:
  std::mutex localAddressesLock_;
  std::vector<std::string> localAddresses_;
};

// The stack over Linux sockets.
class TIdStackPosix : public TIdStack {
 public:
  TIdStackPosix();  // starts the socket library once per process

  void RefillLocalAddresses() override;
  TIdStackSocketHandle SockAccept(TIdStackSocketHandle s, std::string& ip, int& port) override;
  int SockBind(TIdStackSocketHandle s, int family, const std::string& ip, int port) override;
  int SockClose(TIdStackSocketHandle s) override;
  int SockConnect(TIdStackSocketHandle s, int family, const std::string& ip, int port) override;
  std::string HostAddressOf(const std::string& host, int family = Id_PF_UNSPEC) override;
  std::string LocalHostName() override;
  std::string HostNameOf(const std::string& ip) override;
  int ServicePort(const std::string& service) override;
  std::vector<std::string> ServiceNames(int port) override;
  uint16_t HostToNet16(uint16_t value) override;
  int SockListen(TIdStackSocketHandle s, int backlog) override;
  uint16_t NetToHost16(uint16_t value) override;
  uint32_t HostToNet32(uint32_t value) override;
  uint32_t NetToHost32(uint32_t value) override;
  long SockRecv(TIdStackSocketHandle s, void* buffer, size_t length, int flags) override;
  long SockRecvFrom(TIdStackSocketHandle s, void* buffer, size_t length, int flags, std::string& ip,
                    int& port) override;
  int WaitSockets(std::vector<int>* readList, std::vector<int>* writeList, int timeoutMs,
                  std::vector<int>* errorList) override;
  long SockSend(TIdStackSocketHandle s, const void* buffer, size_t length, int flags) override;
  long SockSendTo(TIdStackSocketHandle s, const void* buffer, size_t length, int flags,
                  const std::string& ip, int port) override;
  int SockSetOption(TIdStackSocketHandle s, int level, int option, const void* value,
                    socklen_t length) override;
  TIdStackSocketHandle SockCreate(int family, int type, int protocol) override;
  int SockShutdown(TIdStackSocketHandle s, int how) override;
  std::string ErrorText(int code) override;
  int LastErrorCode() override;
  void PeerAddressOf(TIdStackSocketHandle s, int& family, std::string& ip, int& port) override;
  void LocalAddressOf(TIdStackSocketHandle s, int& family, std::string& ip, int& port) override;
  int SockGetOption(TIdStackSocketHandle s, int level, int option, void* value,
                    socklen_t& length) override;

  // Sends a whole file on a connected socket: its size, or 0 on failure.
  long SendFileOnSocket(TIdStackSocketHandle s, const std::string& fileName);

  // Set once the library was started by a stack; never cleared.
  static bool LibraryStarted();
};

// A fixed-size set of at most 64 sockets.
class TIdSocketList {
 public:
  virtual ~TIdSocketList() = default;
  virtual void Add(TIdStackSocketHandle s) = 0;
  virtual void Remove(TIdStackSocketHandle s) = 0;
  virtual int Count() const = 0;
  virtual TIdStackSocketHandle Item(int index) const = 0;
  virtual void Clear() = 0;
  virtual bool Contains(TIdStackSocketHandle s) const = 0;
};

class TIdSocketListPosix : public TIdSocketList {
 public:
  static constexpr int kCapacity = 64;
  void Add(TIdStackSocketHandle s) override;
  void Remove(TIdStackSocketHandle s) override;
  int Count() const override { return count_; }
  TIdStackSocketHandle Item(int index) const override;
  void Clear() override { count_ = 0; }
  bool Contains(TIdStackSocketHandle s) const override;
  std::vector<int> ToVector() const { return {sockets_.begin(), sockets_.begin() + count_}; }

 private:
  int count_ = 0;
  std::array<TIdStackSocketHandle, kCapacity> sockets_{};
};

// The one stack of the process, alive while at least one network component
// exists (see TIdComponent). Raises EIdStackError when there is none.
TIdStack& SharedStack();
// Null when no component is alive.
TIdStack* SharedStackOrNull();

}  // namespace quillon
