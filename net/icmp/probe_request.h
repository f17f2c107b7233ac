// Echo requests for a run of many probes whose ICMP checksum stays the same
// whatever the sequence number: two payload bytes balance it, so that routers
// that spread flows over several paths by the ICMP header send every probe
// of the run down the same one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillon {

constexpr size_t kProbeRequestSize = 52;
// The two payload bytes that balance the sequence number in the checksum.
constexpr size_t kProbeBalanceOffset = 8;
constexpr uint8_t kProbeFill = 'E';

// Writes an echo request (type 8, or 128 when `family` is Id_PF_INET6) into
// the first kProbeRequestSize bytes of `area`: the identifier and sequence
// number in the machine's order as every request of the tool, the balancing
// bytes, then fill. The IPv4 checksum is computed here; the ICMPv6 one covers
// the addresses and is left 0 for the kernel, which, like the kernel of a
// datagram socket that puts its own identifier in, sums the same bytes and so
// gets the same value for every sequence number too. Returns the size.
size_t BuildProbeRequest(std::span<uint8_t> area, int family, uint16_t identifier,
                         uint16_t sequence);

}  // namespace quillon
