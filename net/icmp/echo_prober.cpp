#include "net/icmp/echo_prober.h"

#include "net/icmp/icmp_client.h"
#include "net/icmp/icmp_headers.h"
#include "net/icmp/probe_request.h"
#include "net/socket/exceptions.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

// A datagram socket that has received an ICMP error about an earlier probe
// keeps it as a pending socket error, and the next send fails with it once
// (the probe is not sent). The error itself stays on the error queue, so the
// send is simply made again; a third failure is the send's own.
constexpr int kSendAttempts = 3;
// A raw socket keeps an error of the fatal kind (port or protocol
// unreachable, administratively prohibited) as a pending socket error as
// well, and one receive fails with it while the message itself stays queued.
constexpr int kReceiveFailuresInARow = 3;

}  // namespace

TIdEchoProber::TIdEchoProber() : identifier_(TIdIcmpClient::ProcessIdentifier()) {
  Protocol = Id_IPPROTO_ICMP;
}

void TIdEchoProber::Open(int family) {
  SetIPVersion(family);
  RawSocket();
}

bool TIdEchoProber::SendProbe(const std::string& address, int ttl, uint16_t sequence) {
  const size_t size = BuildProbeRequest(requestArea_, IPVersion(), identifier_, sequence);
  SetPacketTtl(ttl);
  for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
    try {
      RawSocket().SendDatagram(address, Port, requestArea_.data(), size);
      return true;
    } catch (const EIdSocketError&) {
      // Tried again, see above.
    }
  }
  return false;
}

std::optional<TEchoAnswer> TIdEchoProber::ReceiveAnswer(int timeoutMs) {
  // On a raw socket every ICMP message of the machine arrives; our
  // identifier picks ours out. A datagram socket gets only its own, under
  // the identifier the kernel chose.
  const bool raw = OpenSocketKind() != TIdRawSocketKind::IcmpDatagram;
  const uint32_t start = CurrentTicks();
  const int limit = timeoutMs < 0 ? 0 : timeoutMs;
  int remaining = limit;
  int failures = 0;
  for (;;) {
    const int n =
        ReceivePacket(receiveArea_.data(), static_cast<int>(receiveArea_.size()), remaining);
    if (n < 0 && ++failures < kReceiveFailuresInARow) continue;
    SharedStack().CheckSocketResult(n);
    if (n == 0) return std::nullopt;
    failures = 0;
    std::optional<TEchoAnswer> answer =
        ReadEchoAnswer({receiveArea_.data(), static_cast<size_t>(n)}, IPVersion());
    if (answer && (!raw || answer->Identifier == identifier_)) return answer;
    const uint32_t spent = ElapsedTicks(start, CurrentTicks());
    remaining = spent >= static_cast<uint32_t>(limit) ? 0 : limit - static_cast<int>(spent);
  }
}

}  // namespace quillon
