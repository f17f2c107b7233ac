// A raw IP socket component: sends a block of bytes to a host, receives one
// datagram with a time-out, applies a time-to-live (hop limit). For ICMP and
// ICMPv6 it falls back to Linux's unprivileged datagram socket when raw
// sockets are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/socket/component.h"
#include "net/socket/socket_handle.h"

namespace quillon {

// The kind of socket behind a TIdRawBase.
enum class TIdRawSocketKind {
  Automatic,     // raw when permitted, else (ICMP only) the datagram kind
  Raw,           // SOCK_RAW: every message arrives with its IP header
  IcmpDatagram,  // SOCK_DGRAM/IPPROTO_ICMP: the kernel owns the identifier
  // The datagram kind where the kernel allows it (net.ipv4.ping_group_range),
  // else raw: many clients at once each get only their own replies.
  PreferDatagram,
};

class TIdRawBase : public TIdComponent {
 public:
  static constexpr int kDefaultBufferSize = 8192;

  TIdRawBase();
  ~TIdRawBase() override;

  // The socket, opened on first use (and again when SocketKind, Protocol
  // or the family asks for another one), receiving, with PacketTtl applied.
  TIdSocketHandle& RawSocket();
  // Closes the socket; the next RawSocket call opens a new one.
  void CloseSocket();
  // Keeps the socket open for the next use but has the kernel deliver
  // nothing more to it until then: a raw ICMP socket kept between echoes
  // takes no copy of the machine's ICMP traffic meanwhile. A raw socket of
  // another protocol is closed instead; a datagram socket, which only gets
  // answers to its own requests, is left as it is.
  void StopReceiving();

  int PacketTtl() const { return packetTtl_; }
  // Stores the value and applies it at once (opening the socket if needed).
  void SetPacketTtl(int ttl);

  int BufferSize() const { return static_cast<int>(buffer_.size()); }
  void SetBufferSize(int size);
  std::span<uint8_t> Buffer() { return buffer_; }

  // Resolves `host` and sends `count` bytes to it.
  virtual void SendPacket(const std::string& host, int port, const uint8_t* bytes, int count);
  // The address text `host` stands for (ResolveHostName, on every call for
  // a name), with the family switched to its own.
  const std::string& ResolveDestination(const std::string& host);
  // One datagram within `timeout` ms (negative: ReceiveTimeout, 0: poll once)
  // laid out as a raw socket delivers it: its byte count, 0 when nothing came,
  // -1 on a socket failure (for the caller to check).
  virtual int ReceivePacket(uint8_t* buffer, int capacity, int timeout);

  // Kind to open. Automatic unless a test forces one.
  TIdRawSocketKind SocketKind = TIdRawSocketKind::Automatic;

  // The family of the socket: Id_PF_INET, or Id_PF_INET6 (ICMP then means
  // ICMPv6, and PacketTtl is the hop limit). Changing it closes the socket.
  // A send to an address of the other family changes it first.
  int IPVersion() const { return ipVersion_; }
  void SetIPVersion(int family);
  // Kind of the open socket; Automatic while none is open.
  TIdRawSocketKind OpenSocketKind() const;

  std::string Host;
  int Port = 0;
  int ReceiveTimeout = 0;
  int Protocol = 255;

 private:
  void OpenSocket();
  // Whether the open socket is of the kind and protocol asked for now.
  bool OpenSocketFits() const;
  // Opens the ICMP datagram kind of `protocol` (ICMP or ICMPv6); false when
  // the kernel refuses it.
  bool TryOpenIcmpDatagram(int protocol);
  // Sets up a freshly opened raw socket (the ICMP or ICMPv6 filter when
  // `icmp`).
  void PrepareRawSocket(bool icmp);
  void WidenReceiveQueue();

  std::unique_ptr<TIdSocketHandle> socket_;
  std::vector<uint8_t> buffer_;
  int packetTtl_ = 128;
  std::optional<int> appliedTtl_;  // the value the open socket carries
  TIdRawSocketKind openKind_ = TIdRawSocketKind::Automatic;
  int openProtocol_ = 0;  // Protocol when the socket was opened
  std::string resolved_;  // the last address ResolveDestination gave
  int resolvedFamily_ = Id_PF_INET;
  bool receiving_ = true;  // false after StopReceiving, until the next use
  int ipVersion_ = Id_PF_INET;
};

// The published face of TIdRawBase: destination and receive time-out.
class TIdRawClient : public TIdRawBase {};

}  // namespace quillon
