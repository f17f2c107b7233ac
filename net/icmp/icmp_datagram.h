// Receiving where the kernel hands over less than a raw IPv4 ICMP socket
// does: Linux's unprivileged ICMP and ICMPv6 datagram sockets (echo replies
// without their IP header, ICMP errors on the error queue) and raw ICMPv6
// sockets (no IPv6 header). Each message is laid out here as IP header +
// ICMP message, as a raw IPv4 socket would deliver it.
#pragma once

#include <cstdint>
#include <span>

#include "net/socket/socket_handle.h"

namespace quillon {

// Options the datagram socket of `socket.IPVersion` needs: IP_RECVERR /
// IPV6_RECVERR (errors about our requests on the error queue, with the
// reporting router) and IP_RECVTTL / IPV6_RECVHOPLIMIT.
void PrepareIcmpDatagramSocket(TIdSocketHandle& socket);

// Options of a raw ICMP or ICMPv6 socket (by `socket.IPVersion`): the
// filter of SetRawIcmpFilter letting answers through and, for ICMPv6,
// IPV6_RECVHOPLIMIT.
void PrepareIcmpRawSocket(TIdSocketHandle& socket);

// The kernel's filter of a raw ICMP (ICMP_FILTER) or ICMPv6 (ICMP6_FILTER)
// socket. With `answers`, only echo replies, destination-unreachable and
// time-exceeded messages pass (echo requests, our own among them,
// neighbour discovery and router advertisements never reach the client);
// without, nothing does (ICMP types from 32 up, which the IPv4 filter cannot
// name, apart).
void SetRawIcmpFilter(TIdSocketHandle& socket, bool answers);

// Waits up to `timeoutMs` (WaitForever: no limit, 0: poll once) for an echo
// reply or an ICMP error and writes it into `out` as IP header + ICMP
// message (for an error: + quoted IP header + quoted request). Returns the
// byte count (cut to out.size()), 0 when nothing came in time, -1 on a socket
// failure with the platform's last error set. The family is the socket's;
// `errorQueue` is false for a raw ICMPv6 socket, whose errors arrive as
// plain messages.
long ReceiveIcmpDatagram(TIdSocketHandle& socket, std::span<uint8_t> out, int timeoutMs,
                         bool errorQueue = true);

}  // namespace quillon
