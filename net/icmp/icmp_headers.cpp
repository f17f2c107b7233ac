#include "net/icmp/icmp_headers.h"

#include <cstring>

namespace quillon {

uint16_t InternetChecksum(std::span<const uint8_t> message) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < message.size(); i += 2) {
    uint16_t word;
    std::memcpy(&word, message.data() + i, 2);
    sum += word;
    // Fold early so that messages of any length cannot overflow the sum.
    if (sum & 0x80000000u) sum = (sum >> 16) + (sum & 0xFFFFu);
  }
  if (i < message.size()) {
    const uint8_t last[2] = {message[i], 0};
    uint16_t word;
    std::memcpy(&word, last, 2);
    sum += word;
  }
  sum = (sum >> 16) + (sum & 0xFFFFu);
  sum = (sum >> 16) + (sum & 0xFFFFu);
  return static_cast<uint16_t>(~sum & 0xFFFFu);
}

void StoreChecksum(std::span<uint8_t> message, size_t offset) {
  message[offset] = 0;
  message[offset + 1] = 0;
  const uint16_t checksum = InternetChecksum(message);
  std::memcpy(message.data() + offset, &checksum, 2);
}

}  // namespace quillon
