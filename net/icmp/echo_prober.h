// Many echo requests in flight on one ICMP socket: each probe goes out with
// a time-to-live and sequence number of its own and the run's identifier and
// checksum; answers come back in any order, each naming its probe by
// sequence number. The window's echo client (TIdIcmpClient) is unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "net/icmp/echo_answer.h"
#include "net/icmp/raw_client.h"

namespace quillon {

class TIdEchoProber : public TIdRawClient {
 public:
  static constexpr size_t kAreaSize = 1024;

  TIdEchoProber();

  uint16_t Identifier() const { return identifier_; }
  void SetIdentifier(uint16_t identifier) { identifier_ = identifier; }

  // Opens the socket for `family` (Id_PF_INET, Id_PF_INET6): raw, or the
  // datagram kind as SocketKind says. Throws when no ICMP socket is allowed.
  void Open(int family);

  // Sends one probe to `address` (a literal of the opened family) with
  // time-to-live `ttl`. False when the system refused to send it.
  bool SendProbe(const std::string& address, int ttl, uint16_t sequence);

  // The next answer to one of our probes within `timeoutMs` (0: only what is
  // queued already); nothing when none came in time. Messages about other
  // programs' requests are passed over. Socket failures raise.
  std::optional<TEchoAnswer> ReceiveAnswer(int timeoutMs);

 private:
  std::array<uint8_t, kAreaSize> requestArea_{};
  std::array<uint8_t, kAreaSize> receiveArea_{};
  uint16_t identifier_;
};

}  // namespace quillon
