#include "net/icmp/icmp_client.h"

#include <atomic>
#include <optional>

#include "net/icmp/echo_request.h"
#include "net/icmp/icmp_headers.h"
#include "net/socket/address_text.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"

namespace quillon {

TIdIcmpClient::TIdIcmpClient() : identifier_(ProcessIdentifier()) {
  Protocol = Id_IPPROTO_ICMP;
  ReceiveTimeout = kDefaultReceiveTimeout;
}

uint16_t TIdIcmpClient::ProcessIdentifier() {
  return static_cast<uint16_t>(CurrentProcessNumber() & 0xFFFFu);
}

uint16_t TIdIcmpClient::NextIdentifier() {
  static std::atomic<uint16_t> next{ProcessIdentifier()};
  return next.fetch_add(1);  // wraps from 65535 to 0
}

void TIdIcmpClient::SendEcho(const std::string& data, uint16_t sequence) {
  if (sequence != 0) sequence_ = sequence;
  // The request is built for the destination's family, so the host is
  // resolved first (an address literal needs no lookup).
  std::string target = Host;
  try {
    if (!target.empty()) target = ResolveDestination(target);
  } catch (...) {
    CloseSocket();
    throw;
  }
  const auto build = IPVersion() == Id_PF_INET6 ? BuildEcho6Request : BuildEchoRequest;
  requestSize_ =
      static_cast<int32_t>(build(requestArea_, data, Identifier(), sequence_, CurrentTicks()));
  const uint32_t t0 = CurrentTicks();
  TReplyStatus status;
  try {
    SendPacket(target, Port, requestArea_.data(), requestSize_);
    status = WaitForReply(ReceiveTimeout);
  } catch (...) {
    // A late answer to the abandoned request must not wait in this socket
    // for the next echo, which carries the same sequence number.
    CloseSocket();
    throw;
  }
  status.RoundTripMs = ElapsedTicks(t0, CurrentTicks());
  echoStatus_ = status;
  // The socket is kept for the next echo (opening and closing one cost as
  // much as the echo itself), deaf meanwhile: nothing reaches it between
  // echoes, and what reached it during this one carries this sequence
  // number, which no later echo matches.
  StopReceiving();
  if (OnReply) OnReply(this, echoStatus_);
  ++sequence_;  // wraps from 65535 to 0
}

TReplyStatus TIdIcmpClient::WaitForReply(int timeout) {
  receiveArea_.fill(0);
  const uint32_t start = CurrentTicks();
  // On a raw socket every ICMP message of the machine arrives: the
  // identifier tells our requests from those of other programs, which start
  // at the same sequence number. The datagram socket only delivers what the
  // kernel matched to its own identifier (which replaced ours).
  const std::optional<uint16_t> identifier = OpenSocketKind() == TIdRawSocketKind::IcmpDatagram
                                                 ? std::nullopt
                                                 : std::optional<uint16_t>(Identifier());
  const bool v6 = IPVersion() == Id_PF_INET6;
  const char* noAddress = v6 ? "::" : "0.0.0.0";
  int remaining = timeout;
  TReplyStatus status;
  for (;;) {
    const int n =
        ReceivePacket(receiveArea_.data(), static_cast<int>(receiveArea_.size()), remaining);
    SharedStack().CheckSocketResult(n);
    const std::span<const uint8_t> message(receiveArea_.data(), static_cast<size_t>(n));
    if (v6 ? ClassifyReply6(message, sequence_, identifier, status)
           : ClassifyReply(message, sequence_, identifier, status))
      return status;
    if (timeout == WaitForever) continue;
    // What is left of the whole wait, counted from its start.
    const uint32_t spent = ElapsedTicks(start, CurrentTicks());
    if (timeout <= 0 || spent >= static_cast<uint32_t>(timeout))
      return TimedOutStatus(sequence_, noAddress);
    remaining = timeout - static_cast<int>(spent);
  }
}

}  // namespace quillon
