// Fuzz target for reading any received ICMP or ICMPv6 message as the answer
// to one of many probes: any bytes either name a probe (with an answer that
// describes them) or give nothing; no exception may escape, nothing may
// crash.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "net/icmp/echo_answer.h"
#include "net/socket/address_text.h"
#include "net/socket/stack.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the family; the rest is the message.
  const bool v6 = data[0] & 1;
  const std::span<const uint8_t> message(data + 1, size - 1);
  const std::optional<quillon::TEchoAnswer> answer =
      quillon::ReadEchoAnswer(message, v6 ? quillon::Id_PF_INET6 : quillon::Id_PF_INET);
  if (!answer) return 0;
  Check(answer->Outcome == quillon::roEchoReply || answer->Outcome == quillon::roUnreachable ||
        answer->Outcome == quillon::roTtlExpired);
  if (v6) {
    Check(answer->IcmpType == 129 || answer->IcmpType == 1 || answer->IcmpType == 3);
    Check(quillon::AddressFamilyOf(answer->SourceAddress) == quillon::Id_PF_INET6);
  } else {
    Check(answer->IcmpType == 0 || answer->IcmpType == 3 || answer->IcmpType == 11);
    Check(answer->SourceAddress.size() >= 7 && answer->SourceAddress.size() <= 15);
  }
  return 0;
}
