// Fuzz target for the classification of received ICMPv6 messages (behind
// the IPv6 header the client lays out): any bytes either classify as our
// answer, with a status that describes them, or are passed over; no
// exception may escape and nothing may crash.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "net/icmp/reply_status.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // The first three bytes choose the sequence and whether the identifier is
  // compared; the rest is the message.
  const uint16_t sequence = static_cast<uint16_t>(data[0] | data[1] << 8);
  const std::optional<uint16_t> identifier =
      data[2] & 1 ? std::optional<uint16_t>(static_cast<uint16_t>(data[2] * 257)) : std::nullopt;
  const std::span<const uint8_t> message(data + 3, size - 3);
  quillon::TReplyStatus status;
  if (quillon::ClassifyReply6(message, sequence, identifier, status)) {
    Check(status.Sequence == sequence);
    if (message.empty()) {
      Check(status.Outcome == quillon::roTimedOut && status.SourceAddress == "::");
    } else {
      Check(status.ByteCount == static_cast<int32_t>(message.size()));
      Check(status.Outcome == quillon::roEchoReply || status.Outcome == quillon::roUnreachable ||
            status.Outcome == quillon::roTtlExpired);
      Check(status.SourceAddress.size() >= 2 && status.SourceAddress.size() <= 45);
      Check(status.IcmpType == 1 || status.IcmpType == 3 || status.IcmpType == 129);
    }
  } else {
    Check(status.SourceAddress.empty());
  }
  return 0;
}
