// The cycles of a report run: each sends one echo request per time-to-live,
// 1 to H, at once (H is the hop limit until the destination has answered,
// then the destination's hop, or the hop that reported it unreachable),
// cycles start an interval apart, and every probe gets its answer or is lost
// after the wait. Answers of any cycle are matched to their probe by
// sequence number while later cycles are sent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/trace/report_model.h"
#include "net/icmp/echo_answer.h"

namespace quillon {

// Where probes go and answers come from (the ICMP socket, or a test's).
class TProbeTransport {
 public:
  virtual ~TProbeTransport() = default;
  // Sends the probe with time-to-live `ttl`; false when the system refused.
  virtual bool Send(int ttl, uint16_t sequence) = 0;
  // The next answer to one of our probes within `timeoutMs` (0: only what is
  // queued); nothing when none came. May throw on a socket failure.
  virtual std::optional<TEchoAnswer> Receive(int timeoutMs) = 0;
};

struct TProbeCycleSettings {
  int cycles = 10;
  std::chrono::microseconds interval{1000000};  // between cycle starts
  int maxHops = 30;
  std::chrono::microseconds wait{2000000};  // for each probe's answer
  // Set from another thread (Ctrl-C): the run ends with the cycles done.
  const std::atomic<bool>* interrupted = nullptr;
  // Called once for each address the first time it answers.
  std::function<void(const std::string& address)> onNewAddress;
  uint16_t firstSequence = 1;
};

struct TProbeCycleRun {
  // The cycles whose every probe has its answer or is lost, in order.
  std::vector<TCycleOutcomes> done;
  bool interrupted = false;
  // The socket failed under the run (the transport threw): it ended there.
  bool failed = false;
};

// At most 64 hops times 1000 cycles, so that no sequence number is used
// twice in a run.
inline constexpr int kMaxCycles = 1000;
inline constexpr int kMaxHops = 64;

TProbeCycleRun RunProbeCycles(TProbeTransport& transport, const TProbeCycleSettings& settings);

}  // namespace quillon
