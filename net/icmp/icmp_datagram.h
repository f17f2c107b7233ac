// Receiving on Linux's unprivileged ICMP datagram socket: echo replies come
// without their IP header and ICMP errors come on the error queue; both are
// laid out here as a raw ICMP socket would deliver them.
#pragma once

#include <cstdint>
#include <span>

#include "net/socket/socket_handle.h"

namespace quillon {

// Options the datagram socket needs: IP_RECVERR (errors about our requests
// on the error queue, with the reporting router) and IP_RECVTTL.
void PrepareIcmpDatagramSocket(TIdSocketHandle& socket);

// Waits up to `timeoutMs` (WaitForever: no limit, 0: poll once) for an echo
// reply or an ICMP error and writes it into `out` as IPv4 header + ICMP
// message (for an error: + quoted IPv4 header + quoted request). Returns the
// byte count (cut to out.size()), 0 when nothing came in time, -1 on a socket
// failure with the platform's last error set.
long ReceiveIcmpDatagram(TIdSocketHandle& socket, std::span<uint8_t> out, int timeoutMs);

}  // namespace quillon
