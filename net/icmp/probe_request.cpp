#include "net/icmp/probe_request.h"

#include <algorithm>
#include <stdexcept>

#include "net/icmp/icmp_headers.h"
#include "net/socket/address_text.h"

namespace quillon {

size_t BuildProbeRequest(std::span<uint8_t> area, int family, uint16_t identifier,
                         uint16_t sequence) {
  if (area.size() < kProbeRequestSize) throw std::length_error("probe request area too small");
  const std::span<uint8_t> request = area.first(kProbeRequestSize);
  std::fill(request.begin(), request.end(), kProbeFill);
  const bool v6 = family == Id_PF_INET6;
  request[icmp_header::kType] = v6 ? uint8_t{icmp6EchoRequest} : uint8_t{icmpEchoRequest};
  request[icmp_header::kCode] = 0;
  request[icmp_header::kChecksum] = 0;
  request[icmp_header::kChecksum + 1] = 0;
  request[icmp_header::kIdentifier] = static_cast<uint8_t>(identifier & 0xFF);
  request[icmp_header::kIdentifier + 1] = static_cast<uint8_t>(identifier >> 8);
  request[icmp_header::kSequence] = static_cast<uint8_t>(sequence & 0xFF);
  request[icmp_header::kSequence + 1] = static_cast<uint8_t>(sequence >> 8);
  // The one's-complement sum of a word and its complement is 0xFFFF, the
  // sum's zero: written at an even offset, byte for byte the complement of
  // the sequence number's bytes, the pair adds the same to every checksum.
  request[kProbeBalanceOffset] = static_cast<uint8_t>(~request[icmp_header::kSequence]);
  request[kProbeBalanceOffset + 1] = static_cast<uint8_t>(~request[icmp_header::kSequence + 1]);
  if (!v6) StoreChecksum(request, icmp_header::kChecksum);
  return kProbeRequestSize;
}

}  // namespace quillon
