#include "net/icmp/raw_client.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include "net/icmp/icmp_datagram.h"
#include "net/icmp/icmp_headers.h"
#include "net/socket/exceptions.h"
#include "net/socket/stack.h"

namespace quillon {
namespace {

constexpr int kAccessDenied = 10013;  // EPERM / EACCES
constexpr int kWouldBlock = 10035;    // EAGAIN: nothing queued

}  // namespace

TIdRawBase::TIdRawBase()
    : socket_(std::make_unique<TIdSocketHandle>()),
      buffer_(static_cast<size_t>(kDefaultBufferSize)) {}

// The handle (a member) closes its socket before the component base, the
// last owner of the socket stack, is destroyed.
TIdRawBase::~TIdRawBase() = default;

TIdRawSocketKind TIdRawBase::OpenSocketKind() const {
  return socket_->IsOpen() ? openKind_ : TIdRawSocketKind::Automatic;
}

// The one place where the kind of socket is chosen. A raw socket needs
// CAP_NET_RAW; without it Linux refuses with EPERM (or EACCES), and for ICMP
// the datagram kind, allowed by net.ipv4.ping_group_range, does the same work.
// The same rules hold for IPv6, where ICMP means ICMPv6 and
// net.ipv4.ping_group_range governs the datagram kind as well.
void TIdRawBase::OpenSocket() {
  const bool icmp = Protocol == Id_IPPROTO_ICMP;
  const bool v6 = ipVersion_ == Id_PF_INET6;
  const int protocol = icmp && v6 ? Id_IPPROTO_ICMPV6 : Protocol;
  socket_->IPVersion = ipVersion_;
  const TIdRawSocketKind wanted = SocketKind;
  if (wanted == TIdRawSocketKind::PreferDatagram) {
    if (icmp && TryOpenIcmpDatagram(protocol)) return;
    socket_->AllocateHandle(Id_SOCK_RAW, protocol);
    openKind_ = TIdRawSocketKind::Raw;
    PrepareRawSocket(icmp);
    WidenReceiveQueue();
    return;
  }
  if (wanted != TIdRawSocketKind::IcmpDatagram) {
    try {
      socket_->AllocateHandle(Id_SOCK_RAW, protocol);
      openKind_ = TIdRawSocketKind::Raw;
    } catch (const EIdInvalidSocket&) {
      if (wanted == TIdRawSocketKind::Raw || !icmp ||
          SharedStack().LastErrorCode() != kAccessDenied)
        throw;
    }
    if (socket_->IsOpen()) {
      PrepareRawSocket(icmp);
      return;
    }
  }
  if (!icmp) throw EIdInvalidSocket("Impossible d'allouer le socket.");
  socket_->AllocateHandle(Id_SOCK_DGRAM, protocol);
  openKind_ = TIdRawSocketKind::IcmpDatagram;
  try {
    PrepareIcmpDatagramSocket(*socket_);
  } catch (...) {
    socket_->ShutAndClose();
    throw;
  }
}

// A raw ICMP or ICMPv6 socket lets only echo replies and errors through:
// requests (our own among them, on the way to a local address), neighbour
// discovery and router advertisements are left to the kernel.
void TIdRawBase::PrepareRawSocket(bool icmp) {
  if (!icmp) return;
  try {
    PrepareIcmpRawSocket(*socket_);
  } catch (...) {
    socket_->ShutAndClose();
    throw;
  }
}

bool TIdRawBase::TryOpenIcmpDatagram(int protocol) {
  try {
    socket_->AllocateHandle(Id_SOCK_DGRAM, protocol);
  } catch (const EIdInvalidSocket&) {
    return false;  // not in net.ipv4.ping_group_range
  }
  openKind_ = TIdRawSocketKind::IcmpDatagram;
  try {
    PrepareIcmpDatagramSocket(*socket_);
  } catch (...) {
    socket_->ShutAndClose();
    throw;
  }
  return true;
}

// Many raw sockets at once each receive a copy of every ICMP message: one
// whose thread waits for the processor meanwhile must not overflow and lose
// its own reply. The forced size needs CAP_NET_ADMIN; without it the kernel's
// ceiling (net.core.rmem_max) applies.
void TIdRawBase::WidenReceiveQueue() {
  constexpr int32_t kBytes = 4 * 1024 * 1024;
  for (const int option : {SO_RCVBUFFORCE, SO_RCVBUF}) {
    try {
      socket_->SetSocketOption(SOL_SOCKET, option, &kBytes, sizeof kBytes);
      return;
    } catch (const EIdSocketError&) {
      // Not allowed to force it: ask for what the ceiling gives.
    }
  }
}

void TIdRawBase::SetIPVersion(int family) {
  if (family == ipVersion_) return;
  CloseSocket();
  ipVersion_ = family;
}

bool TIdRawBase::OpenSocketFits() const {
  if (openProtocol_ != Protocol) return false;
  switch (SocketKind) {
    case TIdRawSocketKind::Raw:
      return openKind_ == TIdRawSocketKind::Raw;
    case TIdRawSocketKind::IcmpDatagram:
      return openKind_ == TIdRawSocketKind::IcmpDatagram;
    default:
      return true;
  }
}

TIdSocketHandle& TIdRawBase::RawSocket() {
  if (socket_->IsOpen() && !OpenSocketFits()) CloseSocket();
  if (!socket_->IsOpen()) {
    appliedTtl_.reset();
    receiving_ = true;
    OpenSocket();
    openProtocol_ = Protocol;
  } else if (!receiving_) {
    SetRawIcmpFilter(*socket_, true);
    receiving_ = true;
  }
  // Linux refuses a time-to-live of 0 (EINVAL). A trace route starts its
  // counter there and raises it before the first probe, so 0 leaves the
  // socket's own value; every other value goes to the kernel as it is. A
  // value the open socket already carries is not set again.
  if (packetTtl_ != 0 && appliedTtl_ != packetTtl_) {
    const int32_t ttl = packetTtl_;
    if (ipVersion_ == Id_PF_INET6)
      socket_->SetSocketOption(IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl);
    else
      socket_->SetSocketOption(IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    appliedTtl_ = packetTtl_;
  }
  return *socket_;
}

void TIdRawBase::CloseSocket() {
  socket_->ShutAndClose();
}

void TIdRawBase::StopReceiving() {
  if (!socket_->IsOpen() || !receiving_) return;
  // The datagram kind only ever gets answers to its own requests.
  if (openKind_ == TIdRawSocketKind::IcmpDatagram) return;
  if (openProtocol_ != Id_IPPROTO_ICMP) {
    CloseSocket();
    return;
  }
  try {
    SetRawIcmpFilter(*socket_, false);
    receiving_ = false;
  } catch (const EIdException&) {
    CloseSocket();  // a closed socket receives nothing either
  }
}

void TIdRawBase::SetPacketTtl(int ttl) {
  packetTtl_ = ttl;
  RawSocket();
}

void TIdRawBase::SetBufferSize(int size) {
  buffer_.resize(size > 0 ? static_cast<size_t>(size) : 0);
}

const std::string& TIdRawBase::ResolveDestination(const std::string& host) {
  // An address text that the last resolution gave resolves to itself and
  // needs no second look; anything else (a name above all) is resolved.
  if (resolved_.empty() || host != resolved_) {
    resolved_.clear();
    resolved_ = SharedStack().ResolveHostName(host);
    resolvedFamily_ = AddressFamilyOf(resolved_);
  }
  SetIPVersion(resolvedFamily_);
  return resolved_;
}

void TIdRawBase::SendPacket(const std::string& host, int port, const uint8_t* bytes, int count) {
  const std::string& ip = ResolveDestination(host);
  RawSocket().SendDatagram(ip, port, bytes, count > 0 ? static_cast<size_t>(count) : 0);
}

int TIdRawBase::ReceivePacket(uint8_t* buffer, int capacity, int timeout) {
  if (capacity <= 0 || buffer == nullptr) return 0;
  if (timeout < 0) timeout = ReceiveTimeout;
  TIdSocketHandle& socket = RawSocket();
  const bool icmp6 = ipVersion_ == Id_PF_INET6 && Protocol == Id_IPPROTO_ICMP;
  if (openKind_ == TIdRawSocketKind::IcmpDatagram || icmp6)
    return static_cast<int>(ReceiveIcmpDatagram(socket, {buffer, static_cast<size_t>(capacity)},
                                                timeout,
                                                openKind_ == TIdRawSocketKind::IcmpDatagram));
  // A datagram already queued is taken without waiting (on loopback the
  // answer is there as soon as the send returns); otherwise wait for one.
  const long queued = socket.ReceiveRaw(buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
  if (queued >= 0) return static_cast<int>(queued);
  if (SharedStack().LastErrorCode() != kWouldBlock) return -1;
  if (!socket.WaitReadable(timeout)) return 0;
  return static_cast<int>(socket.ReceiveRaw(buffer, static_cast<size_t>(capacity), 0));
}

}  // namespace quillon
