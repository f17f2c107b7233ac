#include "net/icmp/echo_request.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "net/icmp/icmp_headers.h"

namespace quillon {
namespace {

void PutLe16(std::span<uint8_t> out, size_t at, uint16_t value) {
  out[at] = static_cast<uint8_t>(value & 0xFF);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(std::span<uint8_t> out, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

size_t BuildEchoRequest(std::span<uint8_t> area, std::string_view data, uint16_t identifier,
                        uint16_t sequence, uint32_t sendTicks) {
  if (area.size() < kEchoRequestSize) throw std::length_error("echo request area too small");
  const std::span<uint8_t> request = area.first(kEchoRequestSize);
  std::fill(request.begin(), request.end(), uint8_t{0});
  request[icmp_header::kType] = icmpEchoRequest;
  request[icmp_header::kCode] = 0;
  // The identifier and sequence number go out in the machine's own order,
  // as the tool always did; answers are read back the same way.
  PutLe16(request, icmp_header::kIdentifier, identifier);
  PutLe16(request, icmp_header::kSequence, sequence);
  PutLe32(request, icmp_header::kData, sendTicks);
  const size_t used = std::min(data.size(), kEchoDataSize);
  if (used != 0) std::memcpy(request.data() + kEchoDataOffset, data.data(), used);
  std::fill(request.begin() + static_cast<std::ptrdiff_t>(kEchoDataOffset + used), request.end(),
            kEchoPadding);
  StoreChecksum(request, icmp_header::kChecksum);
  return kEchoRequestSize;
}

size_t BuildEcho6Request(std::span<uint8_t> area, std::string_view data, uint16_t identifier,
                         uint16_t sequence, uint32_t sendTicks) {
  const size_t size = BuildEchoRequest(area, data, identifier, sequence, sendTicks);
  area[icmp_header::kType] = icmp6EchoRequest;
  area[icmp_header::kChecksum] = 0;
  area[icmp_header::kChecksum + 1] = 0;
  return size;
}

}  // namespace quillon
