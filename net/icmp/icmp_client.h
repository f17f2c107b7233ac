// The ICMP echo client: one echo request per SendEcho, then a wait for the
// answer that belongs to it (echo reply, or an unreachable or time-exceeded
// report from a router), recorded in EchoStatus and raised through OnReply.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "net/icmp/raw_client.h"
#include "net/icmp/reply_status.h"

namespace quillon {

using TOnReplyEvent =
    std::function<void(TIdBaseComponent* ASender, const TReplyStatus& AReplyStatus)>;

class TIdIcmpClient : public TIdRawClient {
 public:
  static constexpr uint16_t kFirstSequence = 3489;
  static constexpr int kDefaultReceiveTimeout = 5000;
  static constexpr size_t kAreaSize = 1024;

  TIdIcmpClient();

  // Sends one echo request carrying `data` (cut or padded to 32 bytes) and
  // waits up to ReceiveTimeout for its answer. A non-zero `sequence` sets the
  // sequence counter first. On failure the exception leaves EchoStatus and the
  // counter unchanged and raises no event.
  void SendEcho(const std::string& data = {}, uint16_t sequence = 0);

  const TReplyStatus& EchoStatus() const { return echoStatus_; }
  uint16_t SequenceCounter() const { return sequence_; }
  // The identifier written into requests: the low 16 bits of the process id,
  // taken when the client is created.
  uint16_t Identifier() const { return identifier_; }
  static uint16_t ProcessIdentifier();
  // Clients working at the same time in one process need identifiers of
  // their own, or a raw socket cannot tell their replies apart: each call
  // answers the next of a process-wide series that starts at the process
  // identifier (so 65,536 calls in a row never repeat one).
  static uint16_t NextIdentifier();
  void SetIdentifier(uint16_t identifier) { identifier_ = identifier; }
  // The request last built (52 bytes once SendEcho ran).
  std::span<const uint8_t> Request() const {
    return {requestArea_.data(), static_cast<size_t>(requestSize_)};
  }

  TOnReplyEvent OnReply;
  // Free for the owner: the window signals between its worker and its reply
  // handler through it.
  std::atomic<int> Tag{0};

 protected:
  // Waits up to `timeout` ms for the answer to the request just sent.
  TReplyStatus WaitForReply(int timeout);

 private:
  std::array<uint8_t, kAreaSize> receiveArea_{};
  std::array<uint8_t, kAreaSize> requestArea_{};
  uint16_t identifier_;
  uint16_t sequence_ = kFirstSequence;
  int32_t requestSize_ = 0;
  TReplyStatus echoStatus_;
};

}  // namespace quillon
